#include "CallFrame.h"

std::atomic<int> g_bInitialized{0};

namespace frame {

CK_RV notInitialised() {
    logError(" ->e<- CKR_CRYPTOKI_NOT_INITIALIZED");
    return CKR_CRYPTOKI_NOT_INITIALIZED;
}

CK_RV argumentsBad() {
    logError("->e<- NULL Pointer in parameter CKR_ARGUMENTS_BAD ");
    return CKR_ARGUMENTS_BAD;
}

CK_RV unexpectedException() {
    logMessage("->e<- Unexpected Exception");
    return CKR_GENERAL_ERROR;
}

CK_RV sessionHandleZero() {
    logError("->e<- NULL Pointer in parameter Session");
    return CKR_SESSION_HANDLE_INVALID;
}

CK_RV slotInvalid() {
    logMessage("->e<- CKR_SLOT_ID_INVALID ");
    return CKR_SLOT_ID_INVALID;
}

}  // namespace frame

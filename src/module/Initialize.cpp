// C_Initialize, C_Finalize, C_GetInfo and C_GetFunctionList.
#include "Initialize.h"

#include "CallFrame.h"
#include "CardAnswers.h"
#include "CardLibrary.h"
#include "Log.h"
#include "PaddedText.h"
#include "ReaderEvents.h"
#include "SlotTables.h"
#include "Startup.h"

platform::CriticalSection* g_csSessionData = nullptr;

namespace {

bool s_threadsForbidden = false;

// Returns CKR_OK with the locking functions chosen, or the error to answer.
CK_RV chooseLocking(const CK_C_INITIALIZE_ARGS* args) {
    if (!args) {
        logMessage(" * No init args ptr: no multithreading requested, but enabling anyway");
        chooseLockFunctions(osLockFunctions());
        return CKR_OK;
    }
    if (args->pReserved) {
        logError(" ->e<- CKR_ARGUMENTS_BAD%u", 0u);
        return CKR_ARGUMENTS_BAD;
    }
    int given = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) +
                (args->LockMutex != nullptr) + (args->UnlockMutex != nullptr);
    if (given != 0 && given != 4) {
        logError("->e<- C_Initialize checking Mutex Fkt-Pointers error CKR_ARGUMENTS_BAD%u",
                 static_cast<unsigned>(given));
        return CKR_ARGUMENTS_BAD;
    }
    // This library needs no thread of its own, so an application that forbids
    // thread creation is served; only the optional reader monitor stays off.
    s_threadsForbidden = (args->flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS) != 0;
    if (s_threadsForbidden) logMessage(" * application forbids thread creation");

    bool osLocking = (args->flags & CKF_OS_LOCKING_OK) != 0;
    if (given == 0 && osLocking) {
        logMessage(" * Using OS Sync Functions");
    } else if (given == 0) {
        logMessage(" * No Multithreading");
        logMessage(" * No init args ptr: no multithreading requested, but enabling anyway");
    } else if (osLocking) {
        logMessage(" * use either OS or supplied sync functions");
    } else {
        logMessage(" * use supplied sync functions");
        chooseLockFunctions(
            {args->CreateMutex, args->DestroyMutex, args->LockMutex, args->UnlockMutex, false});
        return CKR_OK;
    }
    chooseLockFunctions(osLockFunctions());
    return CKR_OK;
}

}  // namespace

bool threadsForbidden() {
    return s_threadsForbidden;
}

CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    logMessage("-> C_Initialize(%p)", pInitArgs);
    if (!moduleUsable()) {
        logError("->e<- C_Initialize: the library did not start: %s", startupFailure());
        return CKR_GENERAL_ERROR;
    }
    if (g_bInitialized.load()) {
        logError(" ->e<- CKR_CRYPTOKI_ALREADY_INITIALIZED");
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    }
    s_threadsForbidden = false;
    CK_RV rv = chooseLocking(static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs));
    if (rv != CKR_OK) return rv;

    if (!g_csSessionData) g_csSessionData = new platform::CriticalSection();
    try {
        CardFunctions* card = cardFunctions();
        watchCardAnswers(card);
        uint32_t status = card->ZT_open();
        if (status != 0) logError("->e<- ZT_open: %x ", status);
        status = rebuildSlotTables();
        if (status != 0) logError("->e<- ZT_getSlotList: %x ", status);
    } catch (...) {
        logMessage("->e<- Unexpected Exception");
        return CKR_GENERAL_ERROR;
    }
    g_bInitialized = 1;
    logMessage("<- C_Initialize");
    return CKR_OK;
}

CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    logMessage("-> C_Finalize(%p)", pReserved);
    if (!g_bInitialized.load()) return frame::notInitialised();
    if (pReserved) {
        logError("->e<- C_Finalize CKR_ARGUMENTS_BAD");
        return CKR_ARGUMENTS_BAD;
    }
    // From here on, racing calls fail early instead of waiting for the lock,
    // and those already waiting for it fail once they have it (the frame
    // checks again). Only one C_Finalize goes on.
    if (g_bInitialized.exchange(0) == 0) return frame::notInitialised();
    CK_RV rv = frame::lockedUnchecked(nullptr, [] {
        finalizeSessions();
        forgetCardAnswers();
        logMessage("Finalize OK");
        // Under the lock, so no call that holds it can be using it.
        delete g_csSessionData;
        g_csSessionData = nullptr;
        return CKR_OK;
    });
    // Outside the lock: the monitor thread may be waiting for it.
    stopReaderMonitor();
    logMessage("DeleteCriticalSection OK");
    try {
        if (CardFunctions* card = cardFunctions()) card->ZT_close();
    } catch (...) {
    }
    logMessage("ZT_close OK");
    logMessage("<- C_Finalize");
    return rv == CKR_OK ? CKR_OK : rv;
}

CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    logMessage("-> C_GetInfo(%p)", pInfo);
    if (!g_bInitialized.load()) return frame::notInitialised();
    if (!pInfo) return frame::argumentsBad();
    pInfo->cryptokiVersion = {2, 20};
    fillBlankPadded(pInfo->manufacturerID, sizeof(pInfo->manufacturerID), "Velmora");
    pInfo->flags = 0;
    fillBlankPadded(pInfo->libraryDescription, sizeof(pInfo->libraryDescription),
                    "Velmora Quillon");
    pInfo->libraryVersion = {1, 0};
    logMessage("<- C_GetInfo(%p)", pInfo);
    return CKR_OK;
}

namespace {
CK_FUNCTION_LIST g_functionList = {{2, 20},
#define QUILLON_LIST_ENTRY(name, params) name,
                                   CK_FOR_EACH_FUNCTION(QUILLON_LIST_ENTRY)
#undef QUILLON_LIST_ENTRY
};
}  // namespace

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    logMessage("-> C_GetFunctionList(%p)", static_cast<void*>(ppFunctionList));
    if (!moduleUsable()) {
        logError("->e<- C_GetFunctionList: the library did not start: %s", startupFailure());
        return CKR_GENERAL_ERROR;
    }
    if (!ppFunctionList) return frame::argumentsBad();
    *ppFunctionList = &g_functionList;
    logMessage("<- C_GetFunctionList(%p)", static_cast<void*>(ppFunctionList));
    return CKR_OK;
}

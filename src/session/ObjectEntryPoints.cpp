// C_CreateObject, C_DestroyObject, C_GetAttributeValue, C_SetAttributeValue,
// C_GetObjectSize, C_FindObjectsInit, C_FindObjects and C_FindObjectsFinal.
#include "CSession.h"
#include "CallFrame.h"
#include "Log.h"

using frame::ZeroSession;

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) {
    logMessage("-> C_CreateObject(%lu,%p,%lu,%p)", hSession, static_cast<void*>(pTemplate), ulCount,
               static_cast<void*>(phObject));
    return frame::forSession(
        hSession, {pTemplate != nullptr, ulCount != 0, phObject != nullptr}, nullptr,
        [&](CSession& session) -> CK_RV {
            CK_RV rv = session.createObject(pTemplate, ulCount, phObject);
            if (rv != CKR_OK) {
                logMessage("->e<- createObject Error (%lx)", rv);
                return rv;
            }
            logMessage("<- C_CreateObject - Handle: %d", static_cast<int>(*phObject));
            return CKR_OK;
        },
        ZeroSession::InvalidHandle);
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    logMessage("-> C_DestroyObject(%lu,%lu)", hSession, hObject);
    return frame::forSession(hSession, {hObject != 0}, nullptr, [&](CSession& session) -> CK_RV {
        if (session.deleteObject(hObject) != CKR_OK) {
            logError("->e<- deleteObject error");
            return CKR_GENERAL_ERROR;
        }
        logMessage("<- C_DestroyObject(%lu,%lu)", hSession, hObject);
        return CKR_OK;
    });
}

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                          CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    logMessage("-> C_GetAttributeValue(%lu,%lu,%lu)", hSession, hObject, ulCount);
    return frame::forSession(hSession, {hObject != 0, pTemplate != nullptr, ulCount != 0},
                             "<- C_GetAttributeValue", [&](CSession& session) -> CK_RV {
                                 CK_RV rv =
                                     session.getObjectAttributes(hObject, pTemplate, ulCount);
                                 if (rv != CKR_OK) logMessage("<e> getObjectAttributes %lx", rv);
                                 return rv;
                             });
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                          CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    logMessage("-> C_SetAttributeValue(%lu,%lu,%lu)", hSession, hObject, ulCount);
    return frame::forSession(hSession, {hObject != 0, pTemplate != nullptr, ulCount != 0},
                             "<- C_SetAttributeValue", [&](CSession& session) -> CK_RV {
                                 CK_RV rv =
                                     session.setObjectAttributes(hObject, pTemplate, ulCount);
                                 if (rv != CKR_OK) logMessage("<e> setObjectAttributes %lx", rv);
                                 return rv;
                             });
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    logMessage("-> C_GetObjectSize: %lx", hObject);
    return frame::forSession(hSession, {hObject != 0, pulSize != nullptr}, "<- C_GetObjectSize",
                             [&](CSession& session) -> CK_RV {
                                 CK_ULONG size = 0;
                                 CK_ATTRIBUTE query = {CKA_VALUE_SIZE, &size, sizeof(size)};
                                 CK_RV rv = session.getObjectAttributes(hObject, &query, 1);
                                 if (rv != CKR_OK) {
                                     logMessage("<e> getObjectAttributes error: %lx", rv);
                                     return rv;
                                 }
                                 *pulSize = size;
                                 logMessage("ObjectSize: %d", static_cast<int>(size));
                                 return CKR_OK;
                             });
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    logMessage("-> C_FindObjectsInit (%lx , %p, %lu)", hSession, static_cast<void*>(pTemplate),
               ulCount);
    return frame::forSession(
        hSession, {}, "<- C_FindObjectsInit",
        [&](CSession& session) -> CK_RV {
            if (session.isFindActive() == 1) {
                logMessage("->e<- CKR_OPERATION_ACTIVE");
                return CKR_OPERATION_ACTIVE;
            }
            return session.findInit(pTemplate, ulCount);
        },
        ZeroSession::InvalidHandle);
}

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                    CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount) {
    logMessage("-> C_FindObjects(%lu,%p,%lu,%p)", hSession, static_cast<void*>(phObject),
               ulMaxObjectCount, static_cast<void*>(pulObjectCount));
    return frame::forSession(
        hSession, {pulObjectCount != nullptr}, "<- C_FindObjects",
        [&](CSession& session) -> CK_RV {
            if (session.isFindActive() != 1) {
                logError("->e<- CKR_OPERATION_NOT_INITIALIZED");
                return CKR_OPERATION_NOT_INITIALIZED;
            }
            CK_RV rv = session.find(phObject, ulMaxObjectCount, pulObjectCount);
            if (rv != CKR_OK) return rv;
            logMessage("Object found: %d", static_cast<int>(*pulObjectCount));
            return CKR_OK;
        },
        ZeroSession::Lookup);
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    logMessage("-> C_FindObjectsFinal(%lu)", hSession);
    return frame::forSession(
        hSession, {}, "<- C_FindObjectsFinal",
        [&](CSession& session) -> CK_RV {
            if (session.isFindActive() != 1) {
                logMessage("->e<- CKR_OPERATION_NOT_INITIALIZED");
                return CKR_OPERATION_NOT_INITIALIZED;
            }
            return session.findFinal();
        },
        ZeroSession::Lookup);
}

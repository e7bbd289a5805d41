// C_OpenSession, C_CloseSession, C_CloseAllSessions and C_GetSessionInfo.
#include "CSession.h"
#include "CallFrame.h"
#include "Log.h"
#include "SessionTable.h"
#include "SlotTables.h"

namespace {

// Under the global lock: closes and deletes one session and forgets its handle.
CK_RV closeAndDelete(unsigned long handle, CSession* session) {
    CK_RV rv = session->close();
    g_sessionTable.remove(handle);
    delete session;
    return rv;
}

CK_STATE sessionState(const CSession& session) {
    bool readWrite = session.isReadWrite() == 1;
    if (session.isLoggedIn() != 1) return readWrite ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    // Any logged-in type but the user counts as the SO, also in a read-only session.
    if (session.getUserType() != CKU_USER) return CKS_RW_SO_FUNCTIONS;
    return readWrite ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
}

}  // namespace

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                    CK_SESSION_HANDLE_PTR phSession) {
    logMessage("-> C_OpenSession(%lu,%lu,%p,%p,%p)", slotID, flags, pApplication,
               reinterpret_cast<void*>(Notify), static_cast<void*>(phSession));
    logMessage("Slot ID %lu,%d,%lx)", slotID, static_cast<int>(slotID), slotID);
    CK_RV rv = frame::precheck({phSession != nullptr});
    if (rv != CKR_OK) return rv;
    if (!(flags & CKF_SERIAL_SESSION)) {
        logError("->e<- CKR_SESSION_PARALLEL_NOT_SUPPORTED");
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    }
    logMessage((flags & CKF_RW_SESSION) ? "CKF_RW_SESSION" : "CKF_RO_SESSION");

    unsigned long handle = 0;
    rv = frame::locked(nullptr, [&]() -> CK_RV {
        logMessage("g_slotTable.size() %d, %d", static_cast<int>(g_slotTable.size()),
                   static_cast<int>(slotID));
        const char* reader = lookupSlot(slotID);
        if (!reader) {
            logError("->e<- CKR_SLOT_ID_INVALID ");
            return CKR_SLOT_ID_INVALID;
        }
        logMessage("Create new Session with slot:%d-%s", static_cast<int>(slotID), reader);
        CSession* session = nullptr;
        try {
            session = new CSession(slotID, reader, flags);
        } catch (uint32_t code) {
            logMessage("->e<- Create Session error %X", code);
            return code;
        } catch (...) {
            logMessage("->e<- Unexpected exception");
            return CKR_GENERAL_ERROR;
        }
        session->setNotify(Notify);
        session->setApplication(pApplication);
        handle = chooseSessionHandle(reinterpret_cast<uintptr_t>(session), g_sessionTable);
        g_sessionTable.put(handle, session);
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;
    *phSession = handle;
    logMessage("<- C_OpenSession %lX ", handle);
    return CKR_OK;
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    logMessage("-> C_CloseSession (%lx)", hSession);
    // A closed session is not refused here: closing it still removes it.
    return frame::call({hSession != 0}, "<- C_CloseSession", [&]() -> CK_RV {
        CSession* session = findSession(hSession);
        if (!session) {
            logMessage("->e<- CKR_SESSION_HANDLE_INVALID");
            return CKR_SESSION_HANDLE_INVALID;
        }
        CK_RV rv = closeAndDelete(hSession, session);
        if (rv != CKR_OK) logError("->e<- Close Error: %lx", rv);
        return rv;
    });
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    logMessage("-> C_CloseAllSessions(%lu)", slotID);
    return frame::call({}, "<- C_CloseAllSessions", [&]() -> CK_RV {
        if (!lookupSlot(slotID)) {
            logError("->e<- CKR_SLOT_ID_INVALID ");
            return CKR_SLOT_ID_INVALID;
        }
        // Deleting disturbs the table's cursor, so each deletion restarts the walk.
        for (bool again = true; again;) {
            again = false;
            unsigned long handle = 0;
            CSession* session = nullptr;
            try {
                for (auto* e = g_sessionTable.getFirstEntry(); e;) {
                    e = g_sessionTable.getNextEntry(e, handle, session);
                    if (session && session->m_slotID == slotID) {
                        again = true;
                        break;
                    }
                }
            } catch (...) {
                logError("<e>Unexpected Exception");
                break;
            }
            if (!again) break;
            try {
                session->close();
            } catch (...) {
            }
            try {
                g_sessionTable.remove(handle);
                delete session;
            } catch (...) {
                logError("->e<- Unexpected Exception");
            }
        }
        return CKR_OK;
    });
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    logMessage("-> C_GetSessionInfo(%lx,%p)", hSession, static_cast<void*>(pInfo));
    return frame::forSession(hSession, {pInfo != nullptr}, "<- C_GetSessionInfo",
                             [&](CSession& session) -> CK_RV {
                                 if (session.isTokenPresent() != 1) {
                                     logMessage("->e<- CKR_SESSION_CLOSED");
                                     return CKR_DEVICE_REMOVED;
                                 }
                                 pInfo->slotID = session.getSlotID();
                                 pInfo->state = sessionState(session);
                                 pInfo->flags = CKF_SERIAL_SESSION;
                                 if (session.isReadWrite() == 1) pInfo->flags |= CKF_RW_SESSION;
                                 return CKR_OK;
                             });
}

#include "SessionTable.h"

#include <vector>

#include "CSession.h"
#include "CallFrame.h"
#include "Initialize.h"
#include "Log.h"
#include "ProcessGlobal.h"

OrlHashtable<unsigned long, CSession*>& g_sessionTable =
    makeProcessGlobal<OrlHashtable<unsigned long, CSession*>>();

unsigned long chooseSessionHandle(uintptr_t address,
                                  const OrlHashtable<unsigned long, CSession*>& table) {
    uint32_t handle = static_cast<uint32_t>(address);
    // Terminates: the table holds far fewer than 2^32 - 1 sessions.
    while (handle == 0 || table.containsKey(handle)) ++handle;
    return handle;
}

CSession* findSession(CK_SESSION_HANDLE hSession) {
    unsigned long key = hSession;
    CSession* session = nullptr;
    return g_sessionTable.get(key, session) ? session : nullptr;
}

CK_RV lookupSession(CK_SESSION_HANDLE hSession, CSession** session) {
    CSession* found = findSession(hSession);
    if (!found) {
        logMessage("->e<- CKR_SESSION_HANDLE_INVALID");
        return CKR_SESSION_HANDLE_INVALID;
    }
    if (found->isClosed()) {
        logError("->e<- Session Closed");
        return CKR_SESSION_CLOSED;
    }
    *session = found;
    return CKR_OK;
}

void finalizeSessions() {
    std::vector<std::pair<unsigned long, CSession*>> sessions;
    unsigned long handle = 0;
    CSession* session = nullptr;
    for (auto* e = g_sessionTable.getFirstEntry(); e;) {
        e = g_sessionTable.getNextEntry(e, handle, session);
        sessions.emplace_back(handle, session);
    }
    for (auto& entry : sessions) {
        if (!entry.second) continue;
        logMessage("* Close Session %lx", entry.first);
        try {
            entry.second->close();
        } catch (...) {
        }
        logMessage("* delete session %p", static_cast<void*>(entry.second));
        delete entry.second;
    }
    g_sessionTable.removeAll();
}

void countSessions(unsigned long* all, unsigned long* readWrite) {
    *all = g_sessionTable.size();
    *readWrite = 0;
    unsigned long handle = 0;
    CSession* session = nullptr;
    for (auto* e = g_sessionTable.getFirstEntry(); e;) {
        e = g_sessionTable.getNextEntry(e, handle, session);
        // A removed or closed session answers the guard's code, which counts.
        if (session && session->isReadWrite() != 0) ++*readWrite;
    }
}

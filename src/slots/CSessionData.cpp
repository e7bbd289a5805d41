#include "CSessionData.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "CSession.h"
#include "CardAnswers.h"
#include "CardLibrary.h"
#include "Initialize.h"
#include "Log.h"
#include "Platform.h"
#include "ProcessGlobal.h"
#include "ReaderEvents.h"

OrlHashtable<unsigned long, CSessionData*>& CSessionData::s_sessionDataTbl =
    makeProcessGlobal<OrlHashtable<unsigned long, CSessionData*>>();

namespace {

// g_csSessionData for one scope; nests inside the global lock.
class SessionDataSection {
public:
    SessionDataSection() : m_cs(g_csSessionData) {
        if (m_cs) m_cs->enter();
    }
    ~SessionDataSection() {
        if (m_cs) m_cs->leave();
    }
    SessionDataSection(const SessionDataSection&) = delete;
    SessionDataSection& operator=(const SessionDataSection&) = delete;

private:
    platform::CriticalSection* m_cs;
};

CardFunctions& card() {
    CardFunctions* table = cardFunctions();
    if (!table) throw static_cast<uint32_t>(CKR_GENERAL_ERROR);
    return *table;
}

CSessionData* fail(CK_RV rv) {
    platform::setLastError(rv);
    return nullptr;
}

}  // namespace

CSessionData* CSessionData::getSessionData(CK_SLOT_ID* slotID, const char* readerName,
                                           CSession* session) {
    logMessage("-> getSessionData, slotID: %d, %s", static_cast<int>(*slotID),
               readerName ? readerName : "");
    SessionDataSection section;
    try {
        CSessionData* data = nullptr;
        unsigned long key = *slotID;
        if (s_sessionDataTbl.get(key, data)) {
            logMessage("s_sessionDataTbl Contains slot %d", static_cast<int>(*slotID));
            // Never joins a dead connection: a card swapped unseen, or put
            // back after a removal, gets a fresh one first.
            if (data->reconnectForNewSession()) {
                ++data->m_ulRefCount;
                data->addSession(session);
                logMessage("<- getSessionData");
                return data;
            }
            // The stale state stays until its last session is closed.
            logError("<e> Smart Card removed");
            logError("<- getSessionData returns NULLL with CKR_DEVICE_REMOVED");
            return fail(CKR_DEVICE_REMOVED);
        }

        logMessage("s_sessionDataTbl does not contains slot %d", static_cast<int>(*slotID));
        logMessage("Create new SessionData for slot %s", readerName ? readerName : "");
        std::unique_ptr<CSessionData> fresh(new CSessionData(slotID, readerName));
        logMessage("new CSessionData created for slot %s", readerName ? readerName : "");

        if (!fresh->m_bIsTokenPresent) {
            logError("<- getSessionData returns CKR_DEVICE_REMOVED");
            return fail(CKR_DEVICE_REMOVED);
        }
        CardFunctions& zt = card();
        if (!zt.ZT_connect) {
            logError("<e> ZT_connect is NULL");
            return fail(CKR_GENERAL_ERROR);
        }
        uint32_t status = zt.ZT_connect(fresh->m_szReaderName, &fresh->m_hConnection);
        if (status != 0) {
            logError("<e> ZT_connect first attempt Error %x", status);
            zt.ZT_disconnect(fresh->m_hConnection);
            fresh->m_hConnection = 0;
            status = zt.ZT_connect(fresh->m_szReaderName, &fresh->m_hConnection);
        }
        if (status != 0) {
            logError("<e> ZT_connect Error %x", status);
            // Nothing is connected: the destructor must not disconnect a handle
            // the library may have given to someone else.
            fresh->m_hConnection = 0;
            fresh.reset();
            logError("<- getSessionData returns NULLL with CKR_DEVICE_ERROR");
            return fail(CKR_DEVICE_ERROR);
        }
        logMessage("ZT_connect OK");
        data = fresh.release();
        s_sessionDataTbl.put(key, data);
        data->addSession(session);  // its reference is the 1 from construction
        configureReaderMonitor();
        data->startListening(data->m_szReaderName, data->m_bIsTokenPresent != 0);
        logMessage("<- getSessionData");
        return data;
    } catch (uint32_t code) {
        logError("<- getSessionData returns NULL with ErrorCode: %x", code);
        return fail(code);
    } catch (unsigned long code) {
        logError("<- getSessionData returns NULL with ErrorCode: %lx", code);
        return fail(code);
    } catch (const std::bad_alloc& e) {
        logError("BadAlloc %s", e.what());
        return fail(CKR_HOST_MEMORY);
    } catch (...) {
        logError("<-  new SessionData raises an unexpected exception");
        return fail(CKR_GENERAL_ERROR);
    }
}

void CSessionData::release(CK_SLOT_ID* slotID, CSession* session) {
    logMessage("-> release, slotID: %d", static_cast<int>(*slotID));
    unsigned long key = *slotID;
    CSessionData* data = nullptr;
    if (s_sessionDataTbl.get(key, data)) {
        logMessage("s_sessionDataTbl contains slot %d", static_cast<int>(*slotID));
        // A session that is gone must not be called back on card removal.
        if (session) data->m_sessions.remove(session);
        if (data->m_ulRefCount > 0) --data->m_ulRefCount;
        if (data->m_ulRefCount == 0) {
            logMessage("m_ulRefCount == 0");
            s_sessionDataTbl.remove(key);
            delete data;
        }
    }
    logMessage("<- release");
}

CSessionData* CSessionData::find(CK_SLOT_ID slotID) {
    unsigned long key = slotID;
    CSessionData* data = nullptr;
    return s_sessionDataTbl.get(key, data) ? data : nullptr;
}

unsigned CSessionData::tableSize() {
    return s_sessionDataTbl.size();
}

CSessionData::CSessionData(CK_SLOT_ID* slotID, const char* readerName)
    : m_ulRefCount(1),
      m_ulUserType(kNoUserType),
      m_ulPinTriesLeft(0),
      m_hConnection(0),
      m_slotID(static_cast<uint32_t>(*slotID)),
      m_bIsTokenPresent(0) {
    std::memset(m_szReaderName, 0, sizeof(m_szReaderName));
    if (readerName) std::strncpy(m_szReaderName, readerName, kReaderNameSize - 1);
    m_bIsTokenPresent = card().ZT_isInserted(m_szReaderName) == 0 ? 1 : 0;
}

CSessionData::~CSessionData() {
    // First: from here on the monitor cannot call into this object.
    stopListening();
    logMessage("-> ~CSessionData");
    try {
        if (CardFunctions* zt = cardFunctions()) zt->ZT_disconnect(m_hConnection);
    } catch (...) {
    }
    logMessage("<- ~CSessionData");
}

void CSessionData::addSession(CSession* session) {
    m_sessions.put(session, session);
}

void CSessionData::clearLogin() {
    // Operations under way on a private key end with the login.
    CSession* key = nullptr;
    CSession* session = nullptr;
    for (auto* e = m_sessions.getFirstEntry(); e;) {
        e = m_sessions.getNextEntry(e, key, session);
        if (session) session->endPrivateKeyOperation();
    }
    m_objectTable.removePrivateObjects();
    m_ulUserType = kNoUserType;
}

void CSessionData::endLogin() {
    clearLogin();
    renewConnection();
}

void CSessionData::renewConnection() {
    logMessage("renew the card connection of %s", m_szReaderName);
    // A connection to a card swapped unseen is not renewed onto the new card.
    if (!connectionAlive()) {
        logError("<e> the card connection of %s is dead: card handled as removed", m_szReaderName);
        smartCardRemoved(m_szReaderName);
        return;
    }
    disconnect();
    uint32_t status = connect();
    if (status != 0) {
        logError("<e> ZT_connect Error %x: card handled as removed", status);
        smartCardRemoved(m_szReaderName);
        return;
    }
    m_objectTable.rebind(m_hConnection);
}

uint32_t CSessionData::connect() {
    CardFunctions& zt = card();
    if (!zt.ZT_connect) return static_cast<uint32_t>(CKR_GENERAL_ERROR);
    ZT_HANDLE handle = 0;
    uint32_t status = zt.ZT_connect(m_szReaderName, &handle);
    if (status != 0) {
        logError("<e> ZT_connect first attempt Error %x", status);
        handle = 0;
        status = zt.ZT_connect(m_szReaderName, &handle);
    }
    m_hConnection = status == 0 ? handle : 0;
    return status;
}

bool CSessionData::connectionAlive() {
    if (m_hConnection == 0) return false;
    // The directory read is the one card call that needs nothing but a live
    // connection. A dead answer is noted too, but its handle is no slot's
    // connection by the time the frame settles the notes.
    CardFunctions& zt = card();
    if (!zt.ZT_getObjectTbl) return true;
    OrlByteArray directory;
    uint32_t status = zt.ZT_getObjectTbl(m_hConnection, directory);
    return classifyCardAnswer(status) != CardAnswer::ConnectionGone;
}

bool CSessionData::reconnectForNewSession() {
    if (m_bIsTokenPresent && connectionAlive()) return true;
    if (m_bIsTokenPresent) {
        logError("<e> the card connection of %s is dead", m_szReaderName);
        smartCardRemoved(m_szReaderName);
    }
    if (card().ZT_isInserted(m_szReaderName) != 0) return false;
    smartCardInserted(m_szReaderName, 0);
    return m_bIsTokenPresent && m_hConnection != 0;
}

CSessionData* CSessionData::withConnection(ZT_HANDLE handle) {
    if (handle == 0) return nullptr;
    unsigned long slot = 0;
    CSessionData* data = nullptr;
    for (auto* e = s_sessionDataTbl.getFirstEntry(); e;) {
        e = s_sessionDataTbl.getNextEntry(e, slot, data);
        if (data && data->m_hConnection == handle) return data;
    }
    return nullptr;
}

void CSessionData::connectionGone(ZT_HANDLE handle) {
    CSessionData* data = withConnection(handle);
    if (!data) return;
    logError("<e> the card connection of %s is dead: card handled as removed",
             data->m_szReaderName);
    data->smartCardRemoved(data->m_szReaderName);
}

void CSessionData::verificationMissing(ZT_HANDLE handle, uint32_t role) {
    CSessionData* data = withConnection(handle);
    if (!data || data->m_ulUserType != role) return;
    logError("<e> the card ended the verification of user type %x: logged out", role);
    data->clearLogin();
}

bool CSessionData::isMyReader(const char* reader) const {
    return reader && std::strcmp(reader, m_szReaderName) == 0;
}

void CSessionData::disconnect() {
    try {
        card().ZT_disconnect(m_hConnection);
    } catch (...) {
    }
    // The handle is dead; never pass it on again.
    m_hConnection = 0;
}

void CSessionData::noReadersAvailable() {
    logMessage("noReadersAvailable");
}

void CSessionData::readerRemoved(const char* reader) {
    smartCardRemoved(reader);
}

void CSessionData::cancelled(const char* reader) {
    logMessage("Cancelled 1) %s 2) %s", reader ? reader : "", m_szReaderName);
    if (isMyReader(reader)) logMessage("Cancelled INTO %s", reader);
}

void CSessionData::smartCardRemoved(const char* reader) {
    if (!isMyReader(reader)) return;
    logMessage("SmartCard removed %s", reader);
    m_tokenStore.forget();
    m_bIsTokenPresent = 0;
    m_ulUserType = kNoUserType;
    // Taken out first: a session's reaction must not disturb the walk.
    std::vector<CSession*> sessions;
    CSession* key = nullptr;
    CSession* value = nullptr;
    for (auto* e = m_sessions.getFirstEntry(); e;) {
        e = m_sessions.getNextEntry(e, key, value);
        if (value) sessions.push_back(value);
    }
    for (CSession* session : sessions) session->smartCardRemoved();
    disconnect();
}

void CSessionData::smartCardInserted(const char* reader, unsigned long) {
    if (!isMyReader(reader)) return;
    logMessage("SmartCard inserted %s", reader);
    if (m_bIsTokenPresent && m_hConnection != 0) {
        // A new session reconnected this state already.
        logMessage("m_bIsTokenPresent = true");
        return;
    }
    m_bIsTokenPresent = 1;
    m_ulUserType = kNoUserType;
    try {
        CardFunctions& zt = card();
        uint32_t status = zt.ZT_connect ? zt.ZT_connect(m_szReaderName, &m_hConnection)
                                        : static_cast<uint32_t>(CKR_GENERAL_ERROR);
        if (status != 0) {
            logError("ZT_Connect Error %x", status);
            m_hConnection = 0;
        } else {
            logMessage("ZT_Connect OK");
        }
    } catch (...) {
        logError("ZT_Connect Error %x", static_cast<unsigned>(CKR_GENERAL_ERROR));
        m_hConnection = 0;
    }
    logMessage("m_bIsTokenPresent = true");
}

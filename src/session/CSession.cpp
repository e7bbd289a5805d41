#include "CSession.h"

#include <cryptopp/cryptlib.h>

#include <cstring>

#include "C11Object.h"
#include "CSessionData.h"
#include "CardLibrary.h"
#include "Log.h"
#include "Platform.h"

CSession::CSession(CK_SLOT_ID slotID, const char* slotName, CK_FLAGS flags)
    : m_ulFlags(0),
      m_slotID(slotID),
      m_pSessionData(nullptr),
      m_bRemoved(0),
      m_ulFindPos(0),
      m_pfnNotify(nullptr),
      m_pApplication(nullptr) {
    logMessage("CSession(), slotid: %d, slotname: %s", static_cast<int>(slotID),
               slotName ? slotName : "");
    std::memset(m_szSlotName, 0, sizeof(m_szSlotName));
    size_t length = slotName ? std::strlen(slotName) : 0;
    if (length >= kSlotNameSize) {
        // A cut name would no longer name the reader: refuse rather than truncate.
        logError("<e> reader name of %u characters is too long", static_cast<unsigned>(length));
        throw static_cast<uint32_t>(CKR_DEVICE_ERROR);
    }
    if (slotName) std::memcpy(m_szSlotName, slotName, length);

    CK_SLOT_ID id = slotID;
    m_pSessionData = CSessionData::getSessionData(&id, m_szSlotName, this);
    if (!m_pSessionData) throw static_cast<uint32_t>(platform::getLastError());
    m_ulFlags = flags;
}

CSession::~CSession() {
    logMessage("~CSession");
    if (!isClosed()) close();
    logMessage("Release session data: %d", static_cast<int>(m_slotID));
    CK_SLOT_ID id = m_slotID;
    CSessionData::release(&id, this);
}

CK_RV CSession::guardFailure() const {
    if (m_bRemoved) {
        logError("<e> CKR_DEVICE_REMOVED");
        return CKR_DEVICE_REMOVED;
    }
    if (isClosed()) {
        logError("<e> CKR_SESSION_CLOSED");
        return CKR_SESSION_CLOSED;
    }
    return CKR_OK;
}

CK_RV CSession::close() {
    logMessage("-> close: %p", static_cast<void*>(this));
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    m_operation.reset();
    deleteSessionObjects();
    if (m_pFindResults) {
        m_pFindResults->removeAll();
        m_pFindResults.reset();
    }
    m_pSessionData = nullptr;
    logMessage("<- close");
    return CKR_OK;
}

// The objects this session created leave the slot's object table with it:
// only those still there as the same objects (another session may have
// destroyed one, a logout dropped the private ones, and a later object may
// have the handle now).
void CSession::deleteSessionObjects() {
    if (m_pSessionData) {
        CObjectTable& table = m_pSessionData->m_objectTable;
        for (uint32_t i = 0; i < m_sessionObjects.size(); ++i) {
            const COwnedObject& owned = m_sessionObjects.elementAt(i);
            C11Object* object = table.find(owned.handle);
            if (object && !object->isToken() && object->getIdentity() == owned.identity) {
                table.removeObject(owned.handle);
            }
        }
    }
    m_sessionObjects.removeAll();
}

CK_OBJECT_HANDLE CSession::addSessionObject(C11Object* object) {
    CK_OBJECT_HANDLE handle = m_pSessionData->m_objectTable.insertSessionObject(object);
    // The vector grows one element at a time; doubling keeps creation linear.
    if (m_sessionObjects.size() == m_sessionObjects.capacity()) {
        m_sessionObjects.ensureCapacity(2 * m_sessionObjects.capacity() + 4);
    }
    m_sessionObjects.addElement(COwnedObject{handle, object->getIdentity()});
    return handle;
}

CK_RV CSession::smartCardRemoved() {
    logMessage("-> smartCardRemoved");
    // The connection goes with the card: nothing is left verified on it.
    if (!m_bRemoved && m_pSessionData) m_pSessionData->clearLogin();
    logMessage("Logout OK");
    close();
    m_bRemoved = 1;
    logMessage("<- smartCardRemoved");
    return CKR_OK;
}

void CSession::endPrivateKeyOperation() {
    CK_OBJECT_HANDLE hKey = m_operation.key();
    if (hKey == 0 || !m_pSessionData) return;
    unsigned long number = hKey;
    C11Object* key = nullptr;
    if (m_pSessionData->m_objectTable.get(number, key) && key && key->isPrivate()) {
        logMessage("operation on private key %lx ends with the login", hKey);
        m_operation.reset();
    }
}

CK_ULONG CSession::getUserType() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : m_pSessionData->m_ulUserType;
}

CK_ULONG CSession::getSlotID() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : m_slotID;
}

CK_ULONG CSession::isTokenPresent() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : (m_pSessionData->m_bIsTokenPresent ? 1 : 0);
}

CK_ULONG CSession::isLoggedIn() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : (m_pSessionData->m_ulUserType != kNoUserType ? 1 : 0);
}

CK_ULONG CSession::isReadOnly() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : ((m_ulFlags & CKF_RW_SESSION) ? 0 : 1);
}

CK_ULONG CSession::isReadWrite() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : ((m_ulFlags & CKF_RW_SESSION) ? 1 : 0);
}

CK_ULONG CSession::isFindActive() const {
    CK_RV rv = guard();
    return rv != CKR_OK ? rv : (m_pFindResults ? 1 : 0);
}

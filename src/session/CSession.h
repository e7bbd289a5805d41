// A session: the application's handle on one slot. Sessions on a slot share
// its CSessionData (connection, login, objects); a session owns only its own
// operation state, its search and the list of session objects it created.
//
// Every session operation runs guard() first: a session whose token was
// removed answers CKR_DEVICE_REMOVED, a closed one CKR_SESSION_CLOSED.
// No lock of its own: all calls come under the global lock.
#ifndef QUILLON_SESSION_CSESSION_H
#define QUILLON_SESSION_CSESSION_H

#include <cstdint>
#include <memory>

#include "OrlByteArray.h"
#include "OrlVector.h"
#include "cryptoki.h"

class CSessionData;
namespace CryptoPP {
class HashTransformation;
class StreamTransformation;
}  // namespace CryptoPP

class CSession {
public:
    static constexpr unsigned kSlotNameSize = 256;

    // An open session, or throws the CK_RV (as uint32_t) that kept it from opening.
    CSession(CK_SLOT_ID slotID, const char* slotName, CK_FLAGS flags);
    virtual ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Ends the operations, deletes the session objects, detaches from the slot
    // state (the reference stays until destruction).
    CK_RV close();
    // The token left the reader: logs out, closes, marks the session removed.
    CK_RV smartCardRemoved();

    // CKR_DEVICE_REMOVED, CKR_SESSION_CLOSED or CKR_OK (logged when not OK).
    CK_RV guard() const;

    // Each answers the guard's code in place of its value when the guard fails,
    // so test isClosed() first where that matters.
    CK_ULONG getUserType() const;
    CK_ULONG getSlotID() const;
    CK_ULONG isTokenPresent() const;
    CK_ULONG isLoggedIn() const;
    CK_ULONG isReadOnly() const;
    CK_ULONG isReadWrite() const;
    CK_ULONG isFindActive() const;
    bool isClosed() const { return m_pSessionData == nullptr; }
    bool isRemoved() const { return m_bRemoved != 0; }

    void setNotify(CK_NOTIFY notify) { m_pfnNotify = notify; }
    void setApplication(CK_VOID_PTR application) { m_pApplication = application; }
    CK_SLOT_ID slotID() const { return m_slotID; }
    // The slot state while open; null once closed.
    CSessionData* sessionData() const { return m_pSessionData; }

    // Login and PIN management; the login belongs to the slot.
    CK_RV login(CK_USER_TYPE* userType, const char* pin);
    CK_RV logout();
    CK_RV setPIN(const char* oldPin, const char* newPin);
    CK_RV initPIN(const char* pin);

    // Object operations and object search (SessionObjects.cpp, SessionSearch.cpp).
    // The slot's object table is shared by all its sessions; token objects are
    // written to the card (the whole directory) before a change returns.
    CK_RV loadObjects();
    CK_RV writeObjects();
    CK_RV createObject(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE* phObject);
    CK_RV loadPrivateKey(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE* phObject);
    void clearDefaultContainers();
    CK_RV deleteObject(CK_OBJECT_HANDLE hObject);
    CK_RV getObjectAttributes(CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
    CK_RV setObjectAttributes(CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
    CK_RV findInit(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
    CK_RV find(CK_OBJECT_HANDLE* phObject, CK_ULONG ulMaxObjectCount, CK_ULONG* pulObjectCount);
    CK_RV findFinal();

    // Operation kinds kept in m_ulOperation.
    enum : uint32_t {
        kOpNone = 0,
        kOpDigest = 1,
        kOpEncrypt = 2,
        kOpDecrypt = 4,
        kOpSign = 8,
        kOpVerify = 16,
    };

    char m_szSlotName[kSlotNameSize];
    CK_FLAGS m_ulFlags;
    CK_SLOT_ID m_slotID;
    CSessionData* m_pSessionData;  // not owned; null = closed
    uint32_t m_ulDigestLen;
    unsigned char m_bRemoved;
    CK_OBJECT_HANDLE m_hKey;
    std::unique_ptr<CryptoPP::HashTransformation> m_pHash;
    uint32_t m_ulOperation;
    uint32_t m_ulMechanism;
    OrlByteArray m_data;
    std::unique_ptr<CryptoPP::StreamTransformation> m_pCipher;
    std::unique_ptr<OrlVector<uint32_t>> m_pFindResults;  // null = no search active
    OrlVector<uint32_t> m_sessionObjects;  // session objects created through this session
    uint32_t m_ulFindPos;
    CK_NOTIFY m_pfnNotify;
    CK_VOID_PTR m_pApplication;

private:
    void deleteSessionObjects();
};

#endif

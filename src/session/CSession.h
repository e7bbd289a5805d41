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

#include "CryptoOperations.h"
#include "OrlByteArray.h"
#include "OrlVector.h"
#include "cryptoki.h"

class CSessionData;
class C11Object;
class CTokenStore;
class C11RSAPrivateKey;

// A session object a session created: its handle, and its identity, so that a
// later object under the same handle is never taken for it.
struct COwnedObject {
    CK_OBJECT_HANDLE handle;
    uint64_t identity;
    bool operator==(const COwnedObject& other) const {
        return handle == other.handle && identity == other.identity;
    }
};
class C11RSAPublicKey;

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
    // The login ends: an operation under way on a private key ends with it.
    void endPrivateKeyOperation();

    // CKR_DEVICE_REMOVED, CKR_SESSION_CLOSED or CKR_OK (logged when not OK).
    CK_RV guard() const { return m_bRemoved || isClosed() ? guardFailure() : CKR_OK; }

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

    // Login and PIN management; the login belongs to the slot, and it lasts
    // exactly as long as the card's verification on the slot's connection:
    // logout renews the connection, and so does a PIN change made while
    // nobody is logged in; a wrong PIN tried while logged in ends the login.
    CK_RV login(CK_USER_TYPE* userType, const char* pin);
    CK_RV logout();
    CK_RV setPIN(const char* oldPin, const char* newPin);
    CK_RV initPIN(const char* pin);

    // Object operations and object search (SessionObjects.cpp, SessionSearch.cpp).
    // The slot's object table is shared by all its sessions and is a cache of
    // the card: every change of a token object is one token transaction
    // (CTokenStore), stored on the card before the change returns.
    // loadObjects brings the table up to date for a read (cheap when nothing
    // changed elsewhere).
    CK_RV loadObjects();
    CTokenStore& tokenStore();
    CK_RV createObject(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE* phObject);
    CK_RV loadPrivateKey(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE* phObject);
    void clearDefaultContainers();
    CK_RV deleteObject(CK_OBJECT_HANDLE hObject);
    CK_RV getObjectAttributes(CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
    CK_RV setObjectAttributes(CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
    CK_RV findInit(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
    CK_RV find(CK_OBJECT_HANDLE* phObject, CK_ULONG ulMaxObjectCount, CK_ULONG* pulObjectCount);
    CK_RV findFinal();

    // CKR_USER_NOT_LOGGED_IN when the handle names a private object and
    // nobody is logged in on the slot (a handle kept from before a logout
    // included); else CKR_OK, also for an unknown handle.
    CK_RV refusePrivateWhileLoggedOut(CK_OBJECT_HANDLE hObject) const;

    // Cryptographic operations (SessionCrypto.cpp). The activity tests answer
    // 1 or 0, or the guard's code. A private key is refused before any card
    // call while nobody is logged in.
    CK_RV isDigestActive();
    CK_RV isEncryptActive();
    CK_RV isDecryptActive();
    CK_RV isSignActive();
    CK_RV isVerifyActive();
    CK_ULONG getDigestLen();
    CK_RV digestInit(CK_MECHANISM* pMechanism);
    CK_RV digestUpdate(const unsigned char* part, size_t length);
    CK_RV digestFinal(COutput& out);
    CK_RV signInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV signUpdate(const unsigned char* part, size_t length);
    CK_RV signFinal(OrlByteArray& signature);
    CK_RV verifyInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV verifyUpdate(const unsigned char* part, size_t length);
    CK_RV verifyFinal(const unsigned char* signature, size_t length);
    CK_RV encryptInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV encryptUpdate(const unsigned char* in, size_t length, COutput& out);
    CK_RV encryptUpdate(const OrlByteArray& in, OrlByteArray& out);
    CK_RV encryptFinal(COutput& out);
    CK_RV encryptFinal(OrlByteArray& out);
    CK_RV decryptInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV decryptUpdate(const unsigned char* in, size_t length, COutput& out);
    CK_RV decryptUpdate(const OrlByteArray& in, OrlByteArray& out);
    CK_RV decryptFinal(COutput& out);
    CK_RV decryptFinal(OrlByteArray& out);
    // A step with output for the caller's buffer, in the two-call convention
    // (COperationState::produceOutput).
    CK_RV produceOutput(CK_ULONG kind, OutputStep step, unsigned char* out, CK_ULONG* pulLen,
                        CK_ULONG lengthForNull, FunctionRef<CK_RV(COutput&)> run);

    // Key generation and key wrapping (SessionKeyGen.cpp, SessionWrap.cpp).
    // Secret keys are made in software, RSA key pairs by the token; a
    // generated pair becomes the slot's default key container. Wrapping is an
    // encryption of a secret key's value through the session's encryption
    // operation, unwrapping a decryption followed by the creation of a secret key.
    CK_RV generateKey(CK_MECHANISM* pMechanism, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                      CK_OBJECT_HANDLE* phKey);
    CK_RV generateKeyPair(CK_MECHANISM* pMechanism, CK_ATTRIBUTE* pPublicKeyTemplate,
                          CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE* pPrivateKeyTemplate,
                          CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE* phPublicKey,
                          CK_OBJECT_HANDLE* phPrivateKey);
    // Both keys from their templates; on failure neither is left.
    CK_RV createKeyPairObject(OrlVector<CK_ATTRIBUTE*>& publicAttributes,
                              OrlVector<CK_ATTRIBUTE*>& privateAttributes,
                              std::unique_ptr<C11RSAPrivateKey>& privateKey,
                              std::unique_ptr<C11RSAPublicKey>& publicKey);
    // Appends the wrapped key to `wrapped`.
    CK_RV wrapKey(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey,
                  OrlByteArray& wrapped);
    CK_RV unWrapKey(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                    OrlByteArray wrappedKey, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                    CK_OBJECT_HANDLE* phKey);

    char m_szSlotName[kSlotNameSize];
    CK_FLAGS m_ulFlags;
    CK_SLOT_ID m_slotID;
    CSessionData* m_pSessionData;  // not owned; null = closed
    unsigned char m_bRemoved;
    // The cryptographic operation state: m_ulOperation, m_ulMechanism, m_hKey,
    // m_pHash, m_ulDigestLen, m_data, m_pCipher.
    COperationState m_operation;
    std::unique_ptr<OrlVector<uint32_t>> m_pFindResults;  // null = no search active
    OrlVector<COwnedObject> m_sessionObjects;  // session objects created through this session
    uint32_t m_ulFindPos;
    CK_NOTIFY m_pfnNotify;
    CK_VOID_PTR m_pApplication;

    // Puts a new session object into the slot's table and records it as this
    // session's; returns its handle.
    CK_OBJECT_HANDLE addSessionObject(C11Object* object);

private:
    CK_RV guardFailure() const;  // logs and answers why the guard failed
    void deleteSessionObjects();
};

#endif

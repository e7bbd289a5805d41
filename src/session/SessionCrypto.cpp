// The session's cryptographic operations: the session and its slot seen
// through CCryptoContext, the token objects through CCryptoKey, and the
// operations of COperationState run on them.
#include <memory>

#include "C11Object.h"
#include "CSession.h"
#include "CSessionData.h"
#include "CardLibrary.h"
#include "Log.h"
#include "ObjectKey.h"

namespace {

class SessionContext : public CCryptoContext {
public:
    explicit SessionContext(CSession& session) : m_session(session) {}

    CK_RV guard() override { return m_session.guard(); }
    std::unique_ptr<CCryptoKey> findKey(CK_OBJECT_HANDLE hKey) override {
        C11Object* object = nullptr;
        unsigned long key = hKey;
        // A key another process destroyed is gone here too. A failed read
        // leaves the table as it was: the card answers for the key itself.
        if (m_session.m_pSessionData && hKey < CObjectTable::kFirstSessionHandle) {
            m_session.loadObjects();
        }
        if (!m_session.m_pSessionData ||
            !m_session.m_pSessionData->m_objectTable.get(key, object) || !object)
            return nullptr;
        return std::unique_ptr<CCryptoKey>(new CObjectKey(*object));
    }
    uint32_t applyPrivateKey(const char* path, unsigned char mode, OrlByteArray& in,
                             OrlByteArray& out) override {
        return cardFunctions()->ZT_applyPrivateKey(m_session.m_pSessionData->m_hConnection, path,
                                                   mode, in, out);
    }

private:
    CSession& m_session;
};

}  // namespace

CK_RV CSession::refusePrivateWhileLoggedOut(CK_OBJECT_HANDLE hObject) const {
    if (isRemoved() || isClosed() || m_pSessionData->m_ulUserType != kNoUserType) return CKR_OK;
    unsigned long number = hObject;
    C11Object* object = nullptr;
    if (!m_pSessionData->m_objectTable.get(number, object) || !object || !object->isPrivate())
        return CKR_OK;
    logError("<e> private object %lx: CKR_USER_NOT_LOGGED_IN", static_cast<unsigned long>(hObject));
    return CKR_USER_NOT_LOGGED_IN;
}

CK_RV CSession::isDigestActive() {
    SessionContext ctx(*this);
    return m_operation.isActive(ctx, OP_DIGEST);
}

CK_RV CSession::isEncryptActive() {
    SessionContext ctx(*this);
    return m_operation.isActive(ctx, OP_ENCRYPT);
}

CK_RV CSession::isDecryptActive() {
    SessionContext ctx(*this);
    return m_operation.isActive(ctx, OP_DECRYPT);
}

CK_RV CSession::isSignActive() {
    SessionContext ctx(*this);
    return m_operation.isActive(ctx, OP_SIGN);
}

CK_RV CSession::isVerifyActive() {
    SessionContext ctx(*this);
    return m_operation.isActive(ctx, OP_VERIFY);
}

CK_ULONG CSession::getDigestLen() {
    SessionContext ctx(*this);
    return m_operation.getDigestLen(ctx);
}

CK_RV CSession::digestInit(CK_MECHANISM* pMechanism) {
    SessionContext ctx(*this);
    return m_operation.digestInit(ctx, pMechanism);
}

CK_RV CSession::digestUpdate(const unsigned char* part, size_t length) {
    SessionContext ctx(*this);
    return m_operation.digestUpdate(ctx, part, length);
}

CK_RV CSession::digestFinal(COutput& out) {
    SessionContext ctx(*this);
    return m_operation.digestFinal(ctx, out);
}

CK_RV CSession::signInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey) {
    CK_RV rv = refusePrivateWhileLoggedOut(hKey);
    if (rv != CKR_OK) return rv;
    SessionContext ctx(*this);
    return m_operation.signInit(ctx, pMechanism, hKey);
}

CK_RV CSession::signUpdate(const unsigned char* part, size_t length) {
    SessionContext ctx(*this);
    return m_operation.signUpdate(ctx, part, length);
}

CK_RV CSession::signFinal(OrlByteArray& signature) {
    SessionContext ctx(*this);
    return m_operation.signFinal(ctx, signature);
}

CK_RV CSession::verifyInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey) {
    CK_RV rv = refusePrivateWhileLoggedOut(hKey);
    if (rv != CKR_OK) return rv;
    SessionContext ctx(*this);
    return m_operation.verifyInit(ctx, pMechanism, hKey);
}

CK_RV CSession::verifyUpdate(const unsigned char* part, size_t length) {
    SessionContext ctx(*this);
    return m_operation.verifyUpdate(ctx, part, length);
}

CK_RV CSession::verifyFinal(const unsigned char* signature, size_t length) {
    SessionContext ctx(*this);
    return m_operation.verifyFinal(ctx, signature, length);
}

CK_RV CSession::encryptInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey) {
    CK_RV rv = refusePrivateWhileLoggedOut(hKey);
    if (rv != CKR_OK) return rv;
    SessionContext ctx(*this);
    return m_operation.encryptInit(ctx, pMechanism, hKey);
}

CK_RV CSession::encryptUpdate(const unsigned char* in, size_t length, COutput& out) {
    SessionContext ctx(*this);
    return m_operation.encryptUpdate(ctx, in, length, out);
}

CK_RV CSession::encryptFinal(COutput& out) {
    SessionContext ctx(*this);
    return m_operation.encryptFinal(ctx, out);
}

CK_RV CSession::decryptInit(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey) {
    CK_RV rv = refusePrivateWhileLoggedOut(hKey);
    if (rv != CKR_OK) return rv;
    SessionContext ctx(*this);
    return m_operation.decryptInit(ctx, pMechanism, hKey);
}

CK_RV CSession::decryptUpdate(const unsigned char* in, size_t length, COutput& out) {
    SessionContext ctx(*this);
    return m_operation.decryptUpdate(ctx, in, length, out);
}

CK_RV CSession::decryptFinal(COutput& out) {
    SessionContext ctx(*this);
    return m_operation.decryptFinal(ctx, out);
}

CK_RV CSession::produceOutput(CK_ULONG kind, OutputStep step, unsigned char* out, CK_ULONG* pulLen,
                              CK_ULONG lengthForNull, FunctionRef<CK_RV(COutput&)> run) {
    SessionContext ctx(*this);
    return m_operation.produceOutput(ctx, kind, step, out, pulLen, lengthForNull, run);
}

// The array forms, for the session's own callers (key wrapping).
CK_RV CSession::encryptUpdate(const OrlByteArray& in, OrlByteArray& out) {
    COutput sink(out);
    return encryptUpdate(in.getContent(), in.getLength(), sink);
}

CK_RV CSession::encryptFinal(OrlByteArray& out) {
    COutput sink(out);
    return encryptFinal(sink);
}

CK_RV CSession::decryptUpdate(const OrlByteArray& in, OrlByteArray& out) {
    COutput sink(out);
    return decryptUpdate(in.getContent(), in.getLength(), sink);
}

CK_RV CSession::decryptFinal(OrlByteArray& out) {
    COutput sink(out);
    return decryptFinal(sink);
}

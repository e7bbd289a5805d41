// The cryptographic operation state of a session and the operations on it:
// digesting, signing, verification, encryption and decryption. A session runs
// at most one of them at a time.
//
// The operations reach the session and its slot only through CCryptoContext,
// which the session provides for the duration of one call (under the global
// lock). Every operation runs the session guard first.
#ifndef QUILLON_SESSION_CRYPTOOPERATIONS_H
#define QUILLON_SESSION_CRYPTOOPERATIONS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include <cryptopp/cryptlib.h>

#include "CryptoOutput.h"
#include "Oaep.h"
#include "OrlByteArray.h"
#include "PaddedCipher.h"
#include "Pss.h"
#include "SymmetricCipher.h"
#include "cryptoki.h"

// Kinds of the active operation (m_ulOperation).
enum : CK_ULONG {
    OP_NONE = 0,
    OP_DIGEST = 1,
    OP_ENCRYPT = 2,
    OP_DECRYPT = 4,
    OP_SIGN = 8,
    OP_VERIFY = 16,
};

// Which call an output that did not fit waits for: the same update again, or
// the end of the operation (its final step or its single-part call).
enum class OutputStep { Update, Finish };

// A key object as the operations see it.
class CCryptoKey {
public:
    virtual ~CCryptoKey() = default;
    virtual CK_OBJECT_CLASS keyClass() = 0;
    virtual CK_KEY_TYPE keyType() = 0;
    // CKA_ENCRYPT / CKA_DECRYPT of a secret key.
    virtual bool allowsEncrypt() = 0;
    virtual bool allowsDecrypt() = 0;
    // Secret key value, appended; non-zero on failure.
    virtual CK_RV getValue(OrlByteArray& out) = 0;
    // RSA modulus (public and private keys) and public exponent (public keys),
    // unsigned big-endian, appended. Errors as the key reports them.
    virtual CK_RV getModulus(OrlByteArray& out) = 0;
    virtual CK_RV getPublicExponent(OrlByteArray& out) = 0;
    // The private key's path on the token.
    virtual const char* path() = 0;
};

// What the operations need from the session and its slot.
class CCryptoContext {
public:
    virtual ~CCryptoContext() = default;
    // The session guard: CKR_OK, or CKR_DEVICE_REMOVED / CKR_SESSION_CLOSED
    // (already logged).
    virtual CK_RV guard() = 0;
    // The key with that handle in the slot's object table, or null when the
    // handle names no object. The key stays usable until the call returns.
    virtual std::unique_ptr<CCryptoKey> findKey(CK_OBJECT_HANDLE hKey) = 0;
    // The token's private-key operation (ZT_applyPrivateKey on the slot's
    // connection). 0 = success; may throw.
    virtual uint32_t applyPrivateKey(const char* path, unsigned char mode, OrlByteArray& in,
                                     OrlByteArray& out) = 0;
};

class COperationState {
public:
    COperationState();
    ~COperationState();
    COperationState(const COperationState&) = delete;
    COperationState& operator=(const COperationState&) = delete;

    // Ends whatever operation runs (session close).
    void reset();

    // 1 when the operation of that kind is active, 0 when not, the guard's
    // code when the session is closed or removed.
    CK_RV isActive(CCryptoContext& ctx, CK_ULONG kind);
    // The announced digest length while a digest runs, else
    // CKR_OPERATION_NOT_INITIALIZED (or the guard's code).
    CK_ULONG getDigestLen(CCryptoContext& ctx);

    CK_RV digestInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism);
    CK_RV digestUpdate(CCryptoContext& ctx, const unsigned char* part, size_t length);
    CK_RV digestFinal(CCryptoContext& ctx, OrlByteArray& out);

    CK_RV signInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV signUpdate(CCryptoContext& ctx, const unsigned char* part, size_t length);
    CK_RV signFinal(CCryptoContext& ctx, OrlByteArray& signature);

    CK_RV verifyInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV verifyUpdate(CCryptoContext& ctx, const unsigned char* part, size_t length);
    CK_RV verifyFinal(CCryptoContext& ctx, const unsigned char* signature, size_t length);

    CK_RV encryptInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV encryptUpdate(CCryptoContext& ctx, const unsigned char* in, size_t length, COutput& out);
    CK_RV encryptFinal(CCryptoContext& ctx, COutput& out);

    CK_RV decryptInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey);
    CK_RV decryptUpdate(CCryptoContext& ctx, const unsigned char* in, size_t length, COutput& out);
    CK_RV decryptFinal(CCryptoContext& ctx, COutput& out);

    // One step of the active operation of that kind whose output goes to the
    // caller's buffer, in the two-call convention. A null buffer is told
    // lengthForNull, or the exact length of an output already waiting. A
    // buffer too small is told the exact length and answers
    // CKR_BUFFER_TOO_SMALL; the output waits here, the operation stays active
    // and the next call of the same step hands it over without running the
    // step again (so no card operation is made twice). Until then every other
    // step of the operation answers CKR_OPERATION_ACTIVE.
    CK_RV produceOutput(CCryptoContext& ctx, CK_ULONG kind, OutputStep step, unsigned char* out,
                        CK_ULONG* pulLen, CK_ULONG lengthForNull,
                        const std::function<CK_RV(COutput&)>& run);

    CK_ULONG operation() const { return m_ulOperation; }
    CK_MECHANISM_TYPE mechanism() const { return m_ulMechanism; }
    // A symmetric cipher runs: its output is as long as its input.
    bool usesBlockCipher() const { return m_pCipher != nullptr; }
    // A padded cipher runs: a part may give up to a block more than it is.
    bool usesPaddedCipher() const { return m_pPadded != nullptr; }
    // The key of the active operation; 0 for none (and for a digest).
    CK_OBJECT_HANDLE key() const { return m_ulOperation == OP_NONE ? 0 : m_hKey; }

private:
    CK_RV cipherInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey,
                     bool encrypt);
    CK_RV cipherUpdate(CCryptoContext& ctx, const unsigned char* in, size_t length, COutput& out,
                       bool encrypt);
    void releaseHash();
    // PSS parameters of a sign or verify init, checked against the key's modulus.
    CK_RV pssInit(const CK_MECHANISM& mechanism, const DigestAlgorithm* ownHash, CCryptoKey& key);
    CK_RV handOverWaitingOutput(OutputStep step, unsigned char* out, CK_ULONG* pulLen);
    void dropWaitingOutput();

    CK_ULONG m_ulOperation;
    CK_MECHANISM_TYPE m_ulMechanism;
    CK_OBJECT_HANDLE m_hKey;
    std::unique_ptr<CryptoPP::HashTransformation> m_pHash;
    CK_ULONG m_ulDigestLen;
    OrlByteArray m_data;
    std::unique_ptr<CSymmetricCipher> m_pCipher;
    // Extended mechanisms: the PSS or OAEP parameters of the running RSA
    // operation, and the padded cipher of CKM_AES_CBC_PAD (then m_pCipher is null).
    PssParameters m_pss;
    OaepParameters m_oaep;
    std::unique_ptr<CPaddedCipher> m_pPadded;
    // Output made but not yet fetched (see produceOutput).
    bool m_bOutputWaiting;
    OutputStep m_waitingStep;
    OrlByteArray m_waitingOutput;
};

#endif

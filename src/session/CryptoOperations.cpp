#include "CryptoOperations.h"

#include <cstring>

#include "CardFunctions.h"
#include "Digest.h"
#include "Log.h"
#include "MechanismSet.h"
#include "Pkcs1.h"
#include "PrivateKeyResult.h"
#include "RsaParameters.h"
#include "RsaPublic.h"
#include "SignatureEncoding.h"

namespace {

bool isRsaMechanism(CK_MECHANISM_TYPE m) {
    return m == CKM_RSA_PKCS || m == CKM_RSA_X_509 || m == CKM_VENDOR_RSA_RAW;
}

// The modulus (and, when asked, the exponent) of a key, with their log lines.
CK_RV rsaParameters(CCryptoKey& key, OrlByteArray& n, OrlByteArray* e) {
    CK_RV rv = key.getModulus(n);
    if (rv != CKR_OK) return rv;
    if (e) {
        rv = key.getPublicExponent(*e);
        if (rv != CKR_OK) return rv;
    }
    if (loggingEnabled()) {
        logMessage("Modulus len: %lx", static_cast<unsigned long>(n.getLength()));
        logMessage("Modulus: %s", n.toHexString());
        if (e) {
            logMessage("Exponent len: %lx", static_cast<unsigned long>(e->getLength()));
            logMessage("Exponent: %s", e->toHexString());
        }
    }
    return CKR_OK;
}

// k of PKCS#1, or 0 for a modulus the provider does not handle (empty, or
// above 4096 bits).
size_t usableModulusLength(const OrlByteArray& n) {
    size_t k = modulusLength(n.getContent(), n.getLength());
    return k > kMaxModulusBytes ? 0 : k;
}

// Appends a part to the accumulated data, refusing what the byte array cannot
// hold (its limit keeps every length sum within 32 bits).
CK_RV accumulate(OrlByteArray& data, const unsigned char* part, size_t length) {
    if (length > OrlByteArray::kMaxLength - data.getLength()) {
        logMessage("<e> CKR_DATA_LEN_RANGE: %lX", static_cast<unsigned long>(length));
        return CKR_DATA_LEN_RANGE;
    }
    data.append(part, static_cast<unsigned>(length));
    return CKR_OK;
}

// The accumulated data may be plaintext or key bytes: zeroed when the
// operation ends, however the final step returns.
class WipeOnExit {
public:
    explicit WipeOnExit(OrlByteArray& data) : m_data(data) {}
    ~WipeOnExit() { m_data.wipe(); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    OrlByteArray& m_data;
};

CK_RV mechanismInvalid(CK_MECHANISM_TYPE m) {
    logMessage("<e> CKR_MECHANISM_INVALID: %lX", static_cast<unsigned long>(m));
    return CKR_MECHANISM_INVALID;
}

// The extended mechanisms exist only while the extended set is configured.
bool offered(bool extended) {
    return !extended || extendedMechanismsEnabled();
}

// CKM_AES_CBC_PAD runs on the AES-CBC cipher; every other mechanism is itself.
CK_MECHANISM_TYPE unpaddedMechanism(CK_MECHANISM_TYPE m) {
    return m == CKM_AES_CBC_PAD && extendedMechanismsEnabled() ? CKM_AES_CBC : m;
}

CK_RV outputWaiting() {
    logMessage("<e> CKR_OPERATION_ACTIVE: an output waits to be fetched");
    return CKR_OPERATION_ACTIVE;
}

}  // namespace

COperationState::COperationState()
    : m_ulOperation(OP_NONE),
      m_ulMechanism(0),
      m_hKey(0),
      m_pHashAlgorithm(nullptr),
      m_ulDigestLen(0),
      m_bOutputWaiting(false),
      m_waitingStep(OutputStep::Finish),
      m_pSpareAlgorithm(nullptr) {}

COperationState::~COperationState() {
    dropWaitingOutput();
}

void COperationState::reset() {
    m_ulOperation = OP_NONE;
    m_hKey = 0;
    m_data.wipe();
    if (m_pHash) m_pHash->Restart();  // a digest left unfinished: drop its data
    releaseHash(true);
    m_pCipher.reset();
    m_pPadded.reset();
    dropWaitingOutput();
}

CK_RV COperationState::pssInit(const CK_MECHANISM& mechanism, const DigestAlgorithm* ownHash,
                               CCryptoKey& key) {
    PssParameters params;
    CK_RV rv = readPssParameters(mechanism, ownHash, params);
    if (rv != CKR_OK) return rv;
    OrlByteArray n;
    rv = key.getModulus(n);
    if (rv != CKR_OK) return rv;
    if (!pssFits(params, modulusBits(n.getContent(), n.getLength()))) {
        logMessage("<e> CKR_MECHANISM_PARAM_INVALID: salt length %lu",
                   static_cast<unsigned long>(params.saltLength));
        return CKR_MECHANISM_PARAM_INVALID;
    }
    m_pss = params;
    return CKR_OK;
}

void COperationState::dropWaitingOutput() {
    m_bOutputWaiting = false;
    m_waitingOutput.wipe();
}

// ---- Output in two calls ---------------------------------------------------

CK_RV COperationState::produceOutput(CCryptoContext& ctx, CK_ULONG kind, OutputStep step,
                                     unsigned char* out, CK_ULONG* pulLen, CK_ULONG lengthForNull,
                                     FunctionRef<CK_RV(COutput&)> run) {
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != kind) return CKR_OPERATION_NOT_INITIALIZED;
    if (m_bOutputWaiting) return handOverWaitingOutput(step, out, pulLen);
    if (!out) {
        *pulLen = lengthForNull;
        return CKR_OK;
    }
    COutput sink(out, *pulLen);
    rv = run(sink);
    if (rv != CKR_OK) return rv;
    if (!sink.overflowed()) {
        *pulLen = static_cast<CK_ULONG>(sink.length());
        return CKR_OK;
    }
    // Keep what was made; a final step that ended the operation is resumed
    // until its output is fetched (its hash or cipher is no longer needed).
    logMessage("->e<- CKR_BUFFER_TOO_SMALL (%lu < %lu)", static_cast<unsigned long>(*pulLen),
               static_cast<unsigned long>(sink.length()));
    m_waitingOutput.removeAll();
    m_waitingOutput.append(sink.spilledOutput());
    sink.spilledOutput().wipe();
    m_bOutputWaiting = true;
    m_waitingStep = step;
    m_ulOperation = kind;
    *pulLen = static_cast<CK_ULONG>(m_waitingOutput.getLength());
    return CKR_BUFFER_TOO_SMALL;
}

CK_RV COperationState::handOverWaitingOutput(OutputStep step, unsigned char* out,
                                             CK_ULONG* pulLen) {
    if (step != m_waitingStep) return outputWaiting();
    const unsigned long length = m_waitingOutput.getLength();
    if (!out) {
        *pulLen = static_cast<CK_ULONG>(length);
        return CKR_OK;
    }
    if (*pulLen < length) {
        logMessage("->e<- CKR_BUFFER_TOO_SMALL (%lu < %lu)", static_cast<unsigned long>(*pulLen),
                   length);
        *pulLen = static_cast<CK_ULONG>(length);
        return CKR_BUFFER_TOO_SMALL;
    }
    if (length) std::memcpy(out, m_waitingOutput.getContent(), length);
    *pulLen = static_cast<CK_ULONG>(length);
    dropWaitingOutput();
    if (step == OutputStep::Finish) {
        m_ulOperation = OP_NONE;
        m_hKey = 0;
    }
    return CKR_OK;
}

void COperationState::releaseHash(bool reusable) {
    if (m_pHash && reusable) {
        m_pSpareHash = std::move(m_pHash);
        m_pSpareAlgorithm = m_pHashAlgorithm;
    }
    m_pHash.reset();
    m_pHashAlgorithm = nullptr;
}

CK_RV COperationState::isActive(CCryptoContext& ctx, CK_ULONG kind) {
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    return m_ulOperation == kind ? 1 : 0;
}

CK_ULONG COperationState::getDigestLen(CCryptoContext& ctx) {
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    return m_ulOperation == OP_DIGEST ? m_ulDigestLen : CKR_OPERATION_NOT_INITIALIZED;
}

// ---- Digesting -------------------------------------------------------------
//
// A small digest costs little more than the hash itself, so its log lines are
// not even a call while logging is off.

CK_RV COperationState::digestInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism) {
    if (loggingEnabled()) logMessage("-> digestInit");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_NONE) return CKR_OPERATION_ACTIVE;
    if (!pMechanism) return CKR_ARGUMENTS_BAD;
    const DigestAlgorithm* algorithm = findDigestAlgorithm(pMechanism->mechanism);
    if (!algorithm || !offered(algorithm->extended)) {
        logMessage("<e> CKR_MECHANISM_INVALID: %lX",
                   static_cast<unsigned long>(pMechanism->mechanism));
        return CKR_MECHANISM_INVALID;
    }
    if (loggingEnabled()) logMessage("Algo: %s", algorithm->name);
    if (m_pSpareHash && m_pSpareAlgorithm == algorithm) {
        m_pHash = std::move(m_pSpareHash);  // restarted when it was set aside
    } else {
        m_pHash = algorithm->create();
    }
    m_pHashAlgorithm = algorithm;
    m_ulDigestLen = algorithm->announcedLength;
    m_hKey = 0;  // the hash takes the key's place
    m_ulOperation = OP_DIGEST;
    m_data.removeAll();  // wiped when the last operation ended
    if (loggingEnabled()) logMessage("-> digestInit");
    return CKR_OK;
}

bool COperationState::digestFitsDirectly(CK_ULONG capacity) const {
    return m_ulOperation == OP_DIGEST && !m_bOutputWaiting && m_pHashAlgorithm &&
           capacity >= m_pHashAlgorithm->digestSize;
}

CK_RV COperationState::digestUpdate(CCryptoContext& ctx, const unsigned char* part, size_t length) {
    if (loggingEnabled()) logMessage("-> digestUpdate");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_DIGEST) return CKR_OPERATION_NOT_INITIALIZED;
    if (m_bOutputWaiting) return outputWaiting();
    try {
        if (length) m_pHash->Update(part, length);
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by ZT_digestUpdate");
        m_ulOperation = OP_NONE;
        releaseHash(false);
        return CKR_GENERAL_ERROR;
    }
    if (loggingEnabled()) logMessage("<- digestUpdate");
    return CKR_OK;
}

CK_RV COperationState::digestFinal(CCryptoContext& ctx, OrlByteArray& out) {
    COutput output(out);
    return digestFinal(ctx, output);
}

CK_RV COperationState::digestFinal(CCryptoContext& ctx, COutput& out) {
    if (loggingEnabled()) logMessage("-> digestFinal");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_DIGEST) return CKR_OPERATION_NOT_INITIALIZED;
    if (m_bOutputWaiting) return outputWaiting();
    m_ulOperation = OP_NONE;  // over, whatever happens below
    try {
        // Straight into the caller's buffer when the digest fits there.
        m_pHash->Final(out.reserve(m_pHash->DigestSize()));
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by ZT_digestFinal");
        releaseHash(false);
        return CKR_GENERAL_ERROR;
    }
    releaseHash(true);
    if (loggingEnabled()) logMessage("<- digestFinal");
    return CKR_OK;
}

// ---- Signing and verification ----------------------------------------------

CK_RV COperationState::signInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism,
                                CK_OBJECT_HANDLE hKey) {
    logMessage("-> signInit");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_NONE) return CKR_OPERATION_ACTIVE;
    if (!pMechanism) return CKR_ARGUMENTS_BAD;
    std::unique_ptr<CCryptoKey> key = ctx.findKey(hKey);
    if (!key) {
        logMessage("CKR_KEY_HANDLE_INVALID : %lx", static_cast<unsigned long>(hKey));
        return CKR_KEY_HANDLE_INVALID;
    }
    CK_OBJECT_CLASS keyClass = key->keyClass();
    if (keyClass != CKO_PRIVATE_KEY) {
        logMessage("CKR_KEY_TYPE_INCONSISTENT: %lx", static_cast<unsigned long>(keyClass));
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    const SignatureScheme* scheme = findSignatureScheme(pMechanism->mechanism);
    if (!scheme || !offered(scheme->extended)) return mechanismInvalid(pMechanism->mechanism);
    if (scheme->padding == SignaturePadding::Pss) {
        rv = pssInit(*pMechanism, scheme->digest, *key);
        if (rv != CKR_OK) return rv;
    }
    m_ulMechanism = scheme->mechanism;
    logMessage("%s", scheme->name);
    m_hKey = hKey;
    m_ulOperation = OP_SIGN;
    m_data.wipe();
    logMessage("<- signInit");
    return CKR_OK;
}

CK_RV COperationState::signUpdate(CCryptoContext& ctx, const unsigned char* part, size_t length) {
    logMessage("-> signUpdate");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_SIGN) {
        logMessage("CKR_OPERATION_NOT_INITIALIZED");
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (m_bOutputWaiting) return outputWaiting();
    rv = accumulate(m_data, part, length);
    if (rv != CKR_OK) return rv;
    logMessage("<- signUpdate");
    return CKR_OK;
}

CK_RV COperationState::signFinal(CCryptoContext& ctx, OrlByteArray& signature) {
    logMessage("-> signFinal");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_SIGN) {
        logMessage("CKR_OPERATION_NOT_INITIALIZED");
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    m_ulOperation = OP_NONE;  // over, whatever happens below
    WipeOnExit wipeData(m_data);

    const SignatureScheme* scheme = findSignatureScheme(m_ulMechanism);
    if (!scheme) return mechanismInvalid(m_ulMechanism);
    OrlByteArray content;
    try {
        signatureContent(*scheme, m_data.getContent(), m_data.getLength(), content);
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by ZT_digest");
        return CKR_GENERAL_ERROR;
    }

    std::unique_ptr<CCryptoKey> key = ctx.findKey(m_hKey);
    if (!key) return CKR_KEY_HANDLE_INVALID;
    logMessage("padding");
    OrlByteArray n;
    rv = rsaParameters(*key, n, nullptr);
    if (rv != CKR_OK) return rv;
    size_t k = usableModulusLength(n);
    if (k == 0) {
        logMessage("<e> CKR_KEY_SIZE_RANGE: %lX", static_cast<unsigned long>(n.getLength()));
        return CKR_KEY_SIZE_RANGE;
    }
    OrlByteArray block;
    rv = buildSignatureBlock(*scheme, m_pss, content, n, block);
    if (rv != CKR_OK) {
        // Too much to sign for the padding (or, raw, a value not below the modulus).
        logMessage("<e> signature block %lX: %lX", static_cast<unsigned long>(rv),
                   static_cast<unsigned long>(content.getLength()));
        return rv;
    }
    if (loggingEnabled()) logMessage("toSign: %s", block.toHexString());

    OrlByteArray result;
    result.ensureCapacity(block.getLength());
    uint32_t status;
    try {
        status = ctx.applyPrivateKey(key->path(), kPrivateKeyRaw, block, result);
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by ZT_applyPrivateKey");
        return CKR_GENERAL_ERROR;
    }
    if (status != 0) {
        logMessage("<e> error ZT_applyPrivateKey: %X ", status);
        return CKR_DEVICE_ERROR;
    }
    rv = checkPrivateKeyResult(*key, PrivateKeyResult::Raw, block, result);
    if (rv != CKR_OK) return rv;
    // A signature is always k bytes, also when its number has leading zeros.
    leftPadToLength(result, k);
    signature.append(result);
    logMessage("<- signFinal");
    return CKR_OK;
}

CK_RV COperationState::verifyInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism,
                                  CK_OBJECT_HANDLE hKey) {
    logMessage("-> verifyInit");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_NONE) return CKR_OPERATION_ACTIVE;
    if (!pMechanism) return CKR_ARGUMENTS_BAD;
    std::unique_ptr<CCryptoKey> key = ctx.findKey(hKey);
    if (!key) return CKR_KEY_HANDLE_INVALID;
    if (key->keyClass() != CKO_PUBLIC_KEY) return CKR_KEY_TYPE_INCONSISTENT;
    const SignatureScheme* scheme = findSignatureScheme(pMechanism->mechanism);
    if (!scheme || !offered(scheme->extended)) return mechanismInvalid(pMechanism->mechanism);
    if (scheme->padding == SignaturePadding::Pss) {
        rv = pssInit(*pMechanism, scheme->digest, *key);
        if (rv != CKR_OK) return rv;
    }
    m_ulMechanism = scheme->mechanism;
    m_hKey = hKey;
    m_ulOperation = OP_VERIFY;
    m_data.wipe();
    logMessage("<- verifyInit");
    return CKR_OK;
}

CK_RV COperationState::verifyUpdate(CCryptoContext& ctx, const unsigned char* part, size_t length) {
    logMessage("-> verifyUpdate");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_VERIFY) return CKR_OPERATION_NOT_INITIALIZED;
    rv = accumulate(m_data, part, length);
    if (rv != CKR_OK) return rv;
    logMessage("-> verifyUpdate");
    return CKR_OK;
}

CK_RV COperationState::verifyFinal(CCryptoContext& ctx, const unsigned char* signature,
                                   size_t length) {
    logMessage("-> verifyFinal");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_VERIFY) return CKR_OPERATION_NOT_INITIALIZED;
    m_ulOperation = OP_NONE;
    WipeOnExit wipeData(m_data);

    const SignatureScheme* scheme = findSignatureScheme(m_ulMechanism);
    if (!scheme) return mechanismInvalid(m_ulMechanism);
    OrlByteArray expected;
    try {
        signatureContent(*scheme, m_data.getContent(), m_data.getLength(), expected);
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by ZT_digest");
        return CKR_GENERAL_ERROR;
    }

    std::unique_ptr<CCryptoKey> key = ctx.findKey(m_hKey);
    if (!key) return CKR_KEY_HANDLE_INVALID;
    OrlByteArray n, e;
    rv = rsaParameters(*key, n, &e);
    if (rv != CKR_OK) return rv;
    if (loggingEnabled()) {
        logMessage("nAlgo: %x", scheme->logNumber);
        OrlByteArray s(signature, length);
        logMessage("signed_text: %s", s.toHexString());
    }
    size_t k = usableModulusLength(n);
    if (k == 0) {
        logMessage("<e> CKR_KEY_SIZE_RANGE: %lX", static_cast<unsigned long>(n.getLength()));
        return CKR_KEY_SIZE_RANGE;
    }
    const bool tooLong =
        scheme->padding == SignaturePadding::Pkcs1 ? expected.getLength() + kPkcs1Overhead > k
        : scheme->padding == SignaturePadding::Raw ? expected.getLength() > k
                                                   : expected.getLength() != m_pss.hash->digestSize;
    if (tooLong) {
        logMessage("<e> CKR_DATA_LEN_RANGE: %lX", static_cast<unsigned long>(expected.getLength()));
        return CKR_DATA_LEN_RANGE;
    }

    bool valid = false;
    // A signature is exactly k bytes and, as a number, below the modulus.
    if (length == k) {
        OrlByteArray recovered;
        try {
            rv = rsaPublicOperation(n, e, signature, length, recovered);
        } catch (...) {
            logMessage("<e> Unexpected Exception thrown by ZT_verifySign");
            return CKR_GENERAL_ERROR;
        }
        valid =
            rv == CKR_OK && signatureBlockValid(*scheme, m_pss, expected, recovered.getContent(),
                                                recovered.getLength(), n);
    }
    if (!valid) {
        logMessage("<e> ERROR_SIGNATURE_NOT_VALID");
        return CKR_SIGNATURE_INVALID;
    }
    logMessage("<- verifyFinal");
    return CKR_OK;
}

// ---- Encryption and decryption ---------------------------------------------

CK_RV COperationState::encryptInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism,
                                   CK_OBJECT_HANDLE hKey) {
    logMessage("-> encryptInit");
    return cipherInit(ctx, pMechanism, hKey, true);
}

CK_RV COperationState::decryptInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism,
                                   CK_OBJECT_HANDLE hKey) {
    logMessage("-> decryptInit");
    return cipherInit(ctx, pMechanism, hKey, false);
}

CK_RV COperationState::cipherInit(CCryptoContext& ctx, const CK_MECHANISM* pMechanism,
                                  CK_OBJECT_HANDLE hKey, bool encrypt) {
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_NONE) return CKR_OPERATION_ACTIVE;
    m_pCipher.reset();
    m_pPadded.reset();
    if (!pMechanism) return CKR_ARGUMENTS_BAD;

    std::unique_ptr<CCryptoKey> key = ctx.findKey(hKey);
    if (!key) {
        if (encrypt) logMessage("CKR_KEY_HANDLE_INVALID : %lx", static_cast<unsigned long>(hKey));
        return CKR_KEY_HANDLE_INVALID;
    }
    const CK_OBJECT_CLASS keyClass = key->keyClass();
    const CK_OBJECT_CLASS asymmetricClass = encrypt ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY;
    if (keyClass != asymmetricClass && keyClass != CKO_SECRET_KEY) {
        if (!encrypt) return CKR_KEY_HANDLE_INVALID;
        logMessage("CKR_KEY_TYPE_INCONSISTENT: %lx", static_cast<unsigned long>(keyClass));
        return CKR_KEY_TYPE_INCONSISTENT;
    }

    const CK_MECHANISM_TYPE mechanism = pMechanism->mechanism;
    if (mechanism == CKM_RSA_PKCS_OAEP && extendedMechanismsEnabled()) {
        if (keyClass != asymmetricClass) {
            logMessage("CKR_KEY_TYPE_INCONSISTENT: %lx", static_cast<unsigned long>(keyClass));
            return CKR_KEY_TYPE_INCONSISTENT;
        }
        rv = readOaepParameters(*pMechanism, m_oaep);
        if (rv != CKR_OK) return rv;
        m_ulMechanism = mechanism;
    } else if (isRsaMechanism(mechanism)) {
        // Decryption takes any key class here and refuses a secret key at the final step.
        if (encrypt && keyClass != CKO_PUBLIC_KEY) {
            logMessage("CKR_KEY_TYPE_INCONSISTENT: %lx", static_cast<unsigned long>(keyClass));
            return CKR_KEY_TYPE_INCONSISTENT;
        }
        m_ulMechanism = mechanism == CKM_RSA_PKCS ? CKM_RSA_PKCS : CKM_VENDOR_RSA_RAW;
    } else if (const SymmetricMechanism* symmetric =
                   findSymmetricMechanism(unpaddedMechanism(mechanism))) {
        if (keyClass != CKO_SECRET_KEY) {
            logMessage("CKR_KEY_TYPE_INCONSISTENT: %lx", static_cast<unsigned long>(keyClass));
            return CKR_KEY_TYPE_INCONSISTENT;
        }
        const CK_KEY_TYPE keyType = key->keyType();
        if (keyType != symmetric->keyType ||
            !(encrypt ? key->allowsEncrypt() : key->allowsDecrypt())) {
            logMessage("CKR_KEY_TYPE_INCONSISTENT: %lx", static_cast<unsigned long>(keyType));
            return CKR_KEY_TYPE_INCONSISTENT;
        }
        OrlByteArray value;
        rv = key->getValue(value);
        if (rv != CKR_OK) {
            logMessage("CKR_DEVICE_ERROR: %lx", static_cast<unsigned long>(rv));
            return CKR_DEVICE_ERROR;
        }
        // The IV is one whole block; a shorter parameter would be read past its end.
        if (symmetric->cbc &&
            (!pMechanism->pParameter || pMechanism->ulParameterLen < symmetric->blockSize)) {
            logMessage("CKR_MECHANISM_PARAM_INVALID: %lx",
                       static_cast<unsigned long>(pMechanism->ulParameterLen));
            return CKR_MECHANISM_PARAM_INVALID;
        }
        const unsigned char* iv =
            symmetric->cbc ? static_cast<const unsigned char*>(pMechanism->pParameter) : nullptr;
        // A key of a length the cipher refuses throws: the session stays idle.
        std::unique_ptr<CSymmetricCipher> cipher(
            new CSymmetricCipher(*symmetric, encrypt, value.getContent(), value.getLength(), iv));
        m_ulMechanism = mechanism;
        if (mechanism == CKM_AES_CBC_PAD) {
            m_pPadded.reset(new CPaddedCipher(std::move(cipher), encrypt));
        } else {
            m_pCipher = std::move(cipher);
        }
    } else {
        return mechanismInvalid(mechanism);
    }

    m_hKey = hKey;
    m_ulOperation = encrypt ? OP_ENCRYPT : OP_DECRYPT;
    m_data.wipe();
    logMessage(encrypt ? "<- encryptInit" : "<- decryptInit");
    return CKR_OK;
}

CK_RV COperationState::encryptUpdate(CCryptoContext& ctx, const unsigned char* in, size_t length,
                                     COutput& out) {
    logMessage("-> encryptUpdate");
    return cipherUpdate(ctx, in, length, out, true);
}

CK_RV COperationState::decryptUpdate(CCryptoContext& ctx, const unsigned char* in, size_t length,
                                     COutput& out) {
    logMessage("-> decryptUpdate");
    return cipherUpdate(ctx, in, length, out, false);
}

CK_RV COperationState::cipherUpdate(CCryptoContext& ctx, const unsigned char* in, size_t length,
                                    COutput& out, bool encrypt) {
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != (encrypt ? OP_ENCRYPT : OP_DECRYPT)) return CKR_OPERATION_NOT_INITIALIZED;

    if (isRsaMechanism(m_ulMechanism) || m_ulMechanism == CKM_RSA_PKCS_OAEP) {
        rv = accumulate(m_data, in, length);
        if (rv != CKR_OK) return rv;
    } else if (m_pPadded && m_ulMechanism == CKM_AES_CBC_PAD) {
        m_pPadded->update(in, length, out);
    } else if (m_pCipher && m_pCipher->mechanism().mechanism == m_ulMechanism) {
        if (length % m_pCipher->blockSize() != 0) {
            logMessage("<e> CKR_KEY_SIZE_RANGE: %lX", static_cast<unsigned long>(length));
            return CKR_KEY_SIZE_RANGE;
        }
        // The whole part in one call, straight into the output.
        if (length) m_pCipher->process(out.reserve(length), in, length);
    } else {
        return mechanismInvalid(m_ulMechanism);
    }
    logMessage(encrypt ? "<- encryptUpdate" : "<- decryptUpdate ");
    return CKR_OK;
}

CK_RV COperationState::encryptFinal(CCryptoContext& ctx, COutput& out) {
    logMessage("<- encryptFinal");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_ENCRYPT) return CKR_OPERATION_NOT_INITIALIZED;
    m_ulOperation = OP_NONE;  // over, whatever happens below
    WipeOnExit wipeData(m_data);

    std::unique_ptr<CCryptoKey> key = ctx.findKey(m_hKey);
    if (!key) return CKR_KEY_HANDLE_INVALID;
    if (key->keyClass() != CKO_PUBLIC_KEY) {
        if (m_pPadded && m_ulMechanism == CKM_AES_CBC_PAD) {
            m_pPadded->final(out);
            m_pPadded.reset();
            logMessage("<- encryptFinal");
            return CKR_OK;
        }
        if (!findSymmetricMechanism(m_ulMechanism)) return mechanismInvalid(m_ulMechanism);
        m_pCipher.reset();  // all output came from the updates
        logMessage("<- encryptFinal");
        return CKR_OK;
    }

    OrlByteArray n, e;
    rv = rsaParameters(*key, n, &e);
    if (rv != CKR_OK) return rv;
    size_t k = usableModulusLength(n);
    if (k == 0) {
        logMessage("<e> CKR_KEY_SIZE_RANGE: %lX", static_cast<unsigned long>(n.getLength()));
        return CKR_KEY_SIZE_RANGE;
    }
    OrlByteArray block;
    unsigned algo;
    if (m_ulMechanism == CKM_RSA_PKCS) {
        rv = pkcs1Pad(2, k, m_data.getContent(), m_data.getLength(), block);
        if (rv != CKR_OK) {
            logMessage("<e> CKR_DATA_LEN_RANGE: %lX",
                       static_cast<unsigned long>(m_data.getLength()));
            return rv;
        }
        algo = 0;
    } else if (m_ulMechanism == CKM_VENDOR_RSA_RAW) {
        if (m_data.getLength() != k) {
            logMessage("<e> CKR_ARGUMENTS_BAD: %lX",
                       static_cast<unsigned long>(m_data.getLength()));
            return CKR_ARGUMENTS_BAD;
        }
        block = m_data;
        algo = 2;
    } else if (m_ulMechanism == CKM_RSA_PKCS_OAEP) {
        rv = oaepEncode(m_oaep, k, m_data.getContent(), m_data.getLength(), block);
        if (rv != CKR_OK) {
            logMessage("<e> CKR_DATA_LEN_RANGE: %lX",
                       static_cast<unsigned long>(m_data.getLength()));
            return rv;
        }
        algo = 3;
    } else {
        return mechanismInvalid(m_ulMechanism);
    }
    logMessage("nAlgo: %x", algo);

    OrlByteArray c;
    try {
        rv = rsaPublicOperation(n, e, block.getContent(), block.getLength(), c);
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by encryptFinal");
        return CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK) {
        // Raw data whose number is not below the modulus.
        logMessage("<e> CKR_DATA_INVALID");
        return rv;
    }
    out.append(c.getContent(), c.getLength());
    logMessage("<- encryptFinal");
    return CKR_OK;
}

CK_RV COperationState::decryptFinal(CCryptoContext& ctx, COutput& out) {
    logMessage("-> decryptFinal");
    CK_RV rv = ctx.guard();
    if (rv != CKR_OK) return rv;
    if (m_ulOperation != OP_DECRYPT) return CKR_OPERATION_NOT_INITIALIZED;
    m_ulOperation = OP_NONE;
    WipeOnExit wipeData(m_data);

    std::unique_ptr<CCryptoKey> key = ctx.findKey(m_hKey);
    if (!key) return CKR_KEY_HANDLE_INVALID;
    const CK_OBJECT_CLASS keyClass = key->keyClass();
    if (keyClass == CKO_SECRET_KEY) {
        if (m_pPadded && m_ulMechanism == CKM_AES_CBC_PAD) {
            rv = m_pPadded->final(out);
            m_pPadded.reset();
            if (rv != CKR_OK) {
                logMessage("<e> padding %lX", static_cast<unsigned long>(rv));
                return rv;
            }
            logMessage("<- decryptFinal");
            return CKR_OK;
        }
        if (!findSymmetricMechanism(m_ulMechanism)) return mechanismInvalid(m_ulMechanism);
        m_pCipher.reset();
        logMessage("<- decryptFinal");
        return CKR_OK;
    }
    if (keyClass != CKO_PRIVATE_KEY) return CKR_KEY_HANDLE_INVALID;

    unsigned char mode;
    PrivateKeyResult kind;
    size_t k = 0;
    if (m_ulMechanism == CKM_RSA_PKCS) {
        mode = kPrivateKeyDecryptPkcs1;
        kind = PrivateKeyResult::Pkcs1Message;
    } else if (m_ulMechanism == CKM_VENDOR_RSA_RAW) {
        mode = kPrivateKeyRaw;
        kind = PrivateKeyResult::Raw;
        // A raw result is delivered at the modulus length.
        OrlByteArray n;
        rv = key->getModulus(n);
        if (rv != CKR_OK) return rv;
        k = usableModulusLength(n);
    } else if (m_ulMechanism == CKM_RSA_PKCS_OAEP) {
        mode = kPrivateKeyRaw;
        kind = PrivateKeyResult::Raw;
        OrlByteArray n;
        rv = key->getModulus(n);
        if (rv != CKR_OK) return rv;
        k = usableModulusLength(n);
        // Length and range are public: no oracle in telling them apart.
        if (k == 0 || m_data.getLength() != k) {
            logMessage("<e> CKR_ENCRYPTED_DATA_LEN_RANGE: %lX",
                       static_cast<unsigned long>(m_data.getLength()));
            return CKR_ENCRYPTED_DATA_LEN_RANGE;
        }
        if (std::memcmp(m_data.getContent(), n.getContent() + (n.getLength() - k), k) >= 0) {
            logMessage("<e> CKR_ENCRYPTED_DATA_INVALID");
            return CKR_ENCRYPTED_DATA_INVALID;
        }
    } else {
        return mechanismInvalid(m_ulMechanism);
    }

    OrlByteArray result;
    result.ensureCapacity(m_data.getLength());
    uint32_t status;
    try {
        status = ctx.applyPrivateKey(key->path(), mode, m_data, result);
    } catch (...) {
        logMessage("<e> Unexpected Exception thrown by ZT_applyPrivateKey");
        return CKR_GENERAL_ERROR;
    }
    if (status != 0) {
        logMessage("<e> ZT_applyPrivateKey %X", status);
        return CKR_DEVICE_ERROR;
    }
    rv = checkPrivateKeyResult(*key, kind, m_data, result);
    if (rv != CKR_OK) return rv;
    if (k) leftPadToLength(result, k);
    if (m_ulMechanism == CKM_RSA_PKCS_OAEP) {
        OrlByteArray message;
        rv = result.getLength() == k ? oaepDecode(m_oaep, result.getContent(), k, message)
                                     : CKR_DEVICE_ERROR;
        result.wipe();
        if (rv != CKR_OK) {
            message.wipe();
            logMessage("<e> OAEP %lX", static_cast<unsigned long>(rv));
            return rv;
        }
        out.append(message.getContent(), message.getLength());
        message.wipe();
        logMessage("<- decryptFinal");
        return CKR_OK;
    }
    out.append(result.getContent(), result.getLength());
    logMessage("<- decryptFinal");
    return CKR_OK;
}

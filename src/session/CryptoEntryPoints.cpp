// The exported digest, sign, verify, encrypt and decrypt functions: argument
// checks, the length reported for a null output pointer, and the session's
// operation. Output reaches the caller in the two-call convention: a buffer
// too small is told the length needed and the operation keeps its result
// for the next call (COperationState::produceOutput). Where data goes in
// (digest, sign, the data of a verification, encrypt), length 0 with a null
// pointer is the empty message; the decryption calls keep refusing it.

#include "CallFrame.h"
#include "CryptoOutput.h"
#include "OrlByteArray.h"
#include "Pkcs1.h"
#include "CSession.h"
#include "cryptoki_functions.h"

namespace {

// The frame for a session. Some entry points skip the initialisation check:
// before C_Initialize they then fail at the session lookup instead.
template <typename Work>
CK_RV onSession(bool checkInitialised, CK_SESSION_HANDLE hSession, frame::ZeroSession zero,
                frame::Checks checks, const char* exitLine, Work&& work) {
    if (checkInitialised) return frame::forSession(hSession, checks, exitLine, work, zero);
    return frame::forSessionUnchecked(hSession, checks, exitLine, work);
}

constexpr frame::ZeroSession kBadArguments = frame::ZeroSession::BadArguments;
constexpr frame::ZeroSession kInvalidHandle = frame::ZeroSession::InvalidHandle;

CK_RV operationActive() {
    logMessage("->e<- CKR_OPERATION_ACTIVE");
    return CKR_OPERATION_ACTIVE;
}

CK_RV operationNotInitialised() {
    logMessage("->e<- CKR_OPERATION_NOT_INITIALIZED");
    return CKR_OPERATION_NOT_INITIALIZED;
}

unsigned long ul(CK_ULONG v) {
    return static_cast<unsigned long>(v);
}

}  // namespace

// ---- Digesting -------------------------------------------------------------

namespace {

CK_RV finishDigest(CSession& s, COutput& out) {
    OrlByteArray digest;
    CK_RV rv = s.digestFinal(digest);
    if (rv != CKR_OK) {
        logMessage("->e<- digest Final error");
        return rv;
    }
    out.append(digest.getContent(), digest.getLength());
    return CKR_OK;
}

}  // namespace

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    logMessage("-> C_DigestInit (%lu) ", ul(hSession));
    return onSession(true, hSession, kBadArguments, {pMechanism != nullptr}, "<- C_DigestInit",
                     [&](CSession& s) -> CK_RV {
                         if (s.isDigestActive()) return operationActive();
                         return s.digestInit(pMechanism);
                     });
}

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    logMessage("-> C_DigestUpdate sessione %lu Len %lu", ul(hSession), ul(ulPartLen));
    return onSession(false, hSession, kBadArguments, {pPart != nullptr || ulPartLen == 0}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isDigestActive()) return operationNotInitialised();
                         CK_RV rv = s.digestUpdate(pPart, ulPartLen);
                         if (rv != CKR_OK) {
                             logMessage("->e<- digest Update error");
                             return rv;
                         }
                         logMessage("<- C_DigestUpdate");
                         return CKR_OK;
                     });
}

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    logMessage("-> C_DigestFinal(%lu,%p,%p)", ul(hSession), static_cast<void*>(pDigest),
               static_cast<void*>(pulDigestLen));
    return onSession(false, hSession, kBadArguments, {pulDigestLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isDigestActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_DIGEST, OutputStep::Finish, pDigest, pulDigestLen, s.getDigestLen(),
                             [&](COutput& out) { return finishDigest(s, out); });
                         if (rv == CKR_OK && pDigest) {
                             logMessage("<- C_DigestFinal(%lu,%p,%p)", ul(hSession),
                                        static_cast<void*>(pDigest),
                                        static_cast<void*>(pulDigestLen));
                         }
                         return rv;
                     });
}

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
               CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    logMessage("-> C_Digest(%lu,%p,%lu,%p,%p)", ul(hSession), static_cast<void*>(pData),
               ul(ulDataLen), static_cast<void*>(pDigest), static_cast<void*>(pulDigestLen));
    return onSession(true, hSession, kBadArguments,
                     {pData != nullptr || ulDataLen == 0, pulDigestLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isDigestActive()) return operationNotInitialised();
                         CK_RV rv =
                             s.produceOutput(OP_DIGEST, OutputStep::Finish, pDigest, pulDigestLen,
                                             s.getDigestLen(), [&](COutput& out) -> CK_RV {
                                                 CK_RV r = s.digestUpdate(pData, ulDataLen);
                                                 if (r != CKR_OK) {
                                                     logMessage("->e<- digest Update error");
                                                     return r;
                                                 }
                                                 return finishDigest(s, out);
                                             });
                         if (rv == CKR_OK && pDigest) logMessage("<- C_Digest");
                         return rv;
                     });
}

// ---- Signing
// -----------------------------------------------------------------

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    logMessage("C_SignInit(%lu,%p,%lu)", ul(hSession), static_cast<void*>(pMechanism), ul(hKey));
    return onSession(true, hSession, kBadArguments, {pMechanism != nullptr, hKey != 0},
                     "<- C_SignInit", [&](CSession& s) -> CK_RV {
                         if (s.isSignActive()) return operationActive();
                         CK_RV rv = s.signInit(pMechanism, hKey);
                         if (rv != CKR_OK) logMessage("->e<- signInit %lX", ul(rv));
                         return rv;
                     });
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    logMessage("-> C_SignUpdate");
    return onSession(true, hSession, kInvalidHandle, {pPart != nullptr || ulPartLen == 0}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isSignActive()) return operationNotInitialised();
                         CK_RV rv = s.signUpdate(pPart, ulPartLen);
                         if (rv != CKR_OK) {
                             logMessage("->e<- signUpdate Update error %lX", ul(rv));
                             return rv;
                         }
                         logMessage("<- C_SignUpdate");
                         return CKR_OK;
                     });
}

namespace {

// signFinal, shared by C_SignFinal and C_Sign.
CK_RV finishSignature(CSession& s, COutput& out) {
    OrlByteArray signature;
    CK_RV rv = s.signFinal(signature);
    if (rv != CKR_OK) {
        logMessage("->e<- signFinal error %lX", ul(rv));
        return rv;
    }
    out.append(signature.getContent(), signature.getLength());
    return CKR_OK;
}

}  // namespace

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,
                  CK_ULONG_PTR pulSignatureLen) {
    logMessage("-> C_SignFinal");
    return onSession(true, hSession, kInvalidHandle, {pulSignatureLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isSignActive()) return operationNotInitialised();
                         CK_RV rv =
                             s.produceOutput(OP_SIGN, OutputStep::Finish, pSignature,
                                             pulSignatureLen, kMaxModulusBytes,
                                             [&](COutput& out) { return finishSignature(s, out); });
                         if (rv == CKR_OK && pSignature) logMessage("<- C_SignFinal");
                         return rv;
                     });
}

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
             CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    logMessage("C_Sign(%lu,%p,%lu,%p,%p)", ul(hSession), static_cast<void*>(pData), ul(ulDataLen),
               static_cast<void*>(pSignature), static_cast<void*>(pulSignatureLen));
    return onSession(true, hSession, kInvalidHandle,
                     {pData != nullptr || ulDataLen == 0, pulSignatureLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isSignActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_SIGN, OutputStep::Finish, pSignature, pulSignatureLen,
                             kMaxModulusBytes, [&](COutput& out) -> CK_RV {
                                 CK_RV r = s.signUpdate(pData, ulDataLen);
                                 if (r != CKR_OK) {
                                     logMessage("->e<- signUpdate error %lX", ul(r));
                                     return r;
                                 }
                                 return finishSignature(s, out);
                             });
                         if (rv == CKR_OK) logMessage(pSignature ? "<- C_Sign" : "<- C_Sign OK");
                         return rv;
                     });
}

// ---- Verification
// --------------------------------------------------------------

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    logMessage("-> C_VerifyInit(%lu,%p,%lu)", ul(hSession), static_cast<void*>(pMechanism),
               ul(hKey));
    return onSession(true, hSession, kBadArguments, {pMechanism != nullptr, hKey != 0},
                     "<- C_VerifyInit", [&](CSession& s) -> CK_RV {
                         if (s.isVerifyActive()) return operationActive();
                         CK_RV rv = s.verifyInit(pMechanism, hKey);
                         if (rv != CKR_OK) logMessage("->e<- verifyInit %lX", ul(rv));
                         return rv;
                     });
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    logMessage("->C_VerifyUpdate");
    return onSession(true, hSession, kBadArguments, {pPart != nullptr, ulPartLen != 0}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isVerifyActive()) return operationNotInitialised();
                         CK_RV rv = s.verifyUpdate(pPart, ulPartLen);
                         if (rv != CKR_OK) {
                             logMessage("->e<- verifyUpdate Update error %lX", ul(rv));
                             return rv;
                         }
                         logMessage("<- C_VerifyUpdate");
                         return CKR_OK;
                     });
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    logMessage("C_VerifyFinal DA TESTARE");
    return onSession(true, hSession, kInvalidHandle, {pSignature != nullptr, ulSignatureLen != 0},
                     nullptr, [&](CSession& s) -> CK_RV {
                         if (!s.isVerifyActive()) return operationNotInitialised();
                         CK_RV rv = s.verifyFinal(pSignature, ulSignatureLen);
                         if (rv != CKR_OK) {
                             logMessage("->e<- verifyFinal error %lX", ul(rv));
                             return rv;
                         }
                         logMessage("<- C_VerifyFinal");
                         return CKR_OK;
                     });
}

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
               CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    logMessage("-> C_Verify");
    return onSession(
        false, hSession, kBadArguments,
        {pData != nullptr || ulDataLen == 0, pSignature != nullptr, ulSignatureLen != 0}, nullptr,
        [&](CSession& s) -> CK_RV {
            if (!s.isVerifyActive()) return operationNotInitialised();
            if (loggingEnabled()) {
                OrlByteArray data(pData, ulDataLen), sig(pSignature, ulSignatureLen);
                logMessage("ClearText - Len %lX, Content:%s", ul(ulDataLen), data.toHexString());
                logMessage("SignedText - Len %lX, Content:%s", ul(ulSignatureLen),
                           sig.toHexString());
            }
            CK_RV rv = s.verifyUpdate(pData, ulDataLen);
            if (rv != CKR_OK) {
                logMessage("->e<- verifyUpdate error %lX", ul(rv));
                return rv;
            }
            rv = s.verifyFinal(pSignature, ulSignatureLen);
            if (rv != CKR_OK) {
                logMessage("->e<- verifyFinal error %lX", ul(rv));
                return rv;
            }
            logMessage("<- C_Verify");
            return CKR_OK;
        });
}

// ---- Encryption
// ----------------------------------------------------------------

namespace {

CK_RV finishEncryption(CSession& s, COutput& out) {
    CK_RV rv = s.encryptFinal(out);
    if (rv != CKR_OK) logMessage("->e<- encryptFinal error %lX", ul(rv));
    return rv;
}

CK_RV finishDecryption(CSession& s, COutput& out) {
    CK_RV rv = s.decryptFinal(out);
    if (rv != CKR_OK) logMessage("->e<- decryptFinal error: %lX", ul(rv));
    return rv;
}

// What a null buffer is told a decryption may give: a symmetric cipher gives
// as much as it gets; an RSA result may be longer than a short ciphertext
// (a raw result has the modulus length).
CK_ULONG decryptedLengthBound(CSession& s, CK_ULONG inLength) {
    // Padding holds back up to a block, delivered with a later part.
    if (s.m_operation.usesPaddedCipher()) return inLength + kMaxPaddedBlock;
    if (s.m_operation.usesBlockCipher() || inLength >= kMaxModulusBytes) return inLength;
    return kMaxModulusBytes;
}

}  // namespace

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                    CK_OBJECT_HANDLE hKey) {
    logMessage("-> C_EncryptInit con chiave %lu", ul(hKey));
    return onSession(true, hSession, kBadArguments, {pMechanism != nullptr, hKey != 0},
                     "<- C_EncryptInit", [&](CSession& s) -> CK_RV {
                         if (s.isEncryptActive()) return operationActive();
                         return s.encryptInit(pMechanism, hKey);
                     });
}

CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                      CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    logMessage("->C_EncryptUpdate");
    return onSession(true, hSession, kBadArguments,
                     {pPart != nullptr || ulPartLen == 0, pulEncryptedPartLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isEncryptActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_ENCRYPT, OutputStep::Update, pEncryptedPart, pulEncryptedPartLen,
                             ulPartLen + kMaxModulusBytes, [&](COutput& out) -> CK_RV {
                                 CK_RV r = s.encryptUpdate(pPart, ulPartLen, out);
                                 if (r != CKR_OK)
                                     logMessage("->e<- encryptUpdate error %lX", ul(r));
                                 return r;
                             });
                         if (rv == CKR_OK) logMessage("<- C_EncryptUpdate");
                         return rv;
                     });
}

CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                     CK_ULONG_PTR pulLastEncryptedPartLen) {
    logMessage("-> C_EncryptFinal");
    return onSession(true, hSession, kBadArguments, {pulLastEncryptedPartLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isEncryptActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_ENCRYPT, OutputStep::Finish, pLastEncryptedPart,
                             pulLastEncryptedPartLen, kMaxModulusBytes,
                             [&](COutput& out) { return finishEncryption(s, out); });
                         if (rv == CKR_OK) logMessage("<- C_EncryptFinal");
                         return rv;
                     });
}

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen) {
    logMessage("-> C_Encrypt");
    return onSession(true, hSession, kBadArguments,
                     {pData != nullptr || ulDataLen == 0, pulEncryptedDataLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isEncryptActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_ENCRYPT, OutputStep::Finish, pEncryptedData, pulEncryptedDataLen,
                             ulDataLen + kMaxModulusBytes, [&](COutput& out) -> CK_RV {
                                 CK_RV r = s.encryptUpdate(pData, ulDataLen, out);
                                 if (r != CKR_OK) {
                                     logMessage("->e<- encryptUpdate error %lX", ul(r));
                                     return r;
                                 }
                                 return finishEncryption(s, out);
                             });
                         if (rv == CKR_OK) logMessage("<- C_Encrypt");
                         return rv;
                     });
}

// ---- Decryption
// ----------------------------------------------------------------

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                    CK_OBJECT_HANDLE hKey) {
    logMessage("C_DecryptInit con chiave %lu", ul(hKey));
    return onSession(true, hSession, kBadArguments, {pMechanism != nullptr, hKey != 0},
                     "<- C_DecryptInit", [&](CSession& s) -> CK_RV {
                         if (s.isDecryptActive()) return operationActive();
                         return s.decryptInit(pMechanism, hKey);
                     });
}

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                      CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    logMessage("C_DecryptUpdate in TESTING");
    return onSession(true, hSession, kBadArguments,
                     {pEncryptedPart != nullptr, ulEncryptedPartLen != 0, pulPartLen != nullptr},
                     nullptr, [&](CSession& s) -> CK_RV {
                         if (!s.isDecryptActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_DECRYPT, OutputStep::Update, pPart, pulPartLen, ulEncryptedPartLen,
                             [&](COutput& out) -> CK_RV {
                                 CK_RV r = s.decryptUpdate(pEncryptedPart, ulEncryptedPartLen, out);
                                 if (r != CKR_OK)
                                     logMessage("->e<- decryptUpdate error %lX", ul(r));
                                 return r;
                             });
                         if (rv == CKR_OK) logMessage("<- C_DecryptUpdate");
                         return rv;
                     });
}

CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart,
                     CK_ULONG_PTR pulLastPartLen) {
    logMessage("C_DecryptFinal");
    return onSession(true, hSession, kBadArguments, {pulLastPartLen != nullptr}, nullptr,
                     [&](CSession& s) -> CK_RV {
                         if (!s.isDecryptActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_DECRYPT, OutputStep::Finish, pLastPart, pulLastPartLen,
                             kMaxModulusBytes,
                             [&](COutput& out) { return finishDecryption(s, out); });
                         if (rv == CKR_OK) logMessage("<- C_DecryptFinal");
                         return rv;
                     });
}

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    logMessage("-> C_Decrypt");
    return onSession(true, hSession, kBadArguments,
                     {pEncryptedData != nullptr, ulEncryptedDataLen != 0, pulDataLen != nullptr},
                     nullptr, [&](CSession& s) -> CK_RV {
                         if (!s.isDecryptActive()) return operationNotInitialised();
                         CK_RV rv = s.produceOutput(
                             OP_DECRYPT, OutputStep::Finish, pData, pulDataLen,
                             decryptedLengthBound(s, ulEncryptedDataLen),
                             [&](COutput& out) -> CK_RV {
                                 CK_RV r = s.decryptUpdate(pEncryptedData, ulEncryptedDataLen, out);
                                 if (r != CKR_OK) {
                                     logMessage("->e<- decryptUpdate error");
                                     return r;
                                 }
                                 return finishDecryption(s, out);
                             });
                         if (rv == CKR_OK) logMessage("<- C_Decrypt");
                         return rv;
                     });
}

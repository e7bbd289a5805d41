// C_GenerateKey, C_GenerateKeyPair, C_WrapKey and C_UnwrapKey.
#include <cstring>

#include "CSession.h"
#include "CallFrame.h"
#include "Log.h"

using frame::ZeroSession;

CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
    logMessage("C_GenerateKey");
    CK_RV rv = frame::forSession(
        hSession, {pMechanism != nullptr, pTemplate != nullptr, ulCount != 0, phKey != nullptr},
        nullptr, [&](CSession& session) -> CK_RV {
            logMessage("-> C_GenerateKey(%lu,%p)", hSession, static_cast<void*>(pMechanism));
            CK_RV result = session.generateKey(pMechanism, pTemplate, ulCount, phKey);
            if (result != CKR_OK) logError("generateKey Error (%lX)", result);
            return result;
        });
    if (rv == CKR_OK) logMessage("<- C_GenerateKey KeyHandle: %lX", *phKey);
    return rv;
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                        CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                        CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                        CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
    CK_RV rv = frame::forSession(
        hSession,
        // Either template may be empty (Java and PyKCS11 pass an empty private one).
        {pMechanism != nullptr, pPublicKeyTemplate != nullptr || ulPublicKeyAttributeCount == 0,
         pPrivateKeyTemplate != nullptr || ulPrivateKeyAttributeCount == 0, phPublicKey != nullptr,
         phPrivateKey != nullptr},
        nullptr, [&](CSession& session) -> CK_RV {
            logMessage("-> C_GenerateKeyPair(%lu,%p)", hSession, static_cast<void*>(pMechanism));
            if (pMechanism->mechanism != CKM_RSA_PKCS_KEY_PAIR_GEN) {
                logError("<e> CKR_MECHANISM_INVALID supported only CKM_RSA_PKCS_KEY_PAIR_GEN: %lx",
                         static_cast<unsigned long>(pMechanism->mechanism));
                return CKR_MECHANISM_INVALID;
            }
            CK_RV result = session.generateKeyPair(
                pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount, pPrivateKeyTemplate,
                ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
            if (result != CKR_OK) logError("generateKeyPair Error (%lX)", result);
            return result;
        });
    if (rv == CKR_OK) {
        logMessage("<- C_GenerateKeyPair PriHandle: %d PubHandle %d",
                   static_cast<int>(*phPrivateKey), static_cast<int>(*phPublicKey));
    }
    return rv;
}

CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey,
                CK_ULONG_PTR pulWrappedKeyLen) {
    logMessage("-> C_WrapKey(%lu,%p)", hSession, static_cast<void*>(pMechanism));
    return frame::forSession(
        hSession,
        {pMechanism != nullptr, hWrappingKey != 0, hKey != 0, pulWrappedKeyLen != nullptr}, nullptr,
        [&](CSession& session) -> CK_RV {
            // Wrapping is software only and leaves no operation behind, so a
            // length query wraps and tells the exact length, and a buffer too
            // small is told it and the wrap is made again on the next call.
            OrlByteArray wrapped;
            CK_RV rv = session.wrapKey(pMechanism, hWrappingKey, hKey, wrapped);
            if (rv != CKR_OK) {
                logError("->e<- wrapKey error %lX", rv);
                return rv;
            }
            if (!pWrappedKey) {
                *pulWrappedKeyLen = wrapped.getLength();
                return CKR_OK;
            }
            if (*pulWrappedKeyLen < wrapped.getLength()) {
                logError("->e<- CKR_BUFFER_TOO_SMALL");
                *pulWrappedKeyLen = wrapped.getLength();
                return CKR_BUFFER_TOO_SMALL;
            }
            std::memcpy(pWrappedKey, wrapped.getContent(), wrapped.getLength());
            *pulWrappedKeyLen = wrapped.getLength();
            logMessage("<- C_WrapKey");
            return CKR_OK;
        },
        ZeroSession::InvalidHandle);
}

CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                  CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey,
                  CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount,
                  CK_OBJECT_HANDLE_PTR phKey) {
    logMessage("-> C_UnwrapKey(%lu,%p)", hSession, static_cast<void*>(pMechanism));
    return frame::forSession(
        hSession,
        {pMechanism != nullptr, hUnwrappingKey != 0, pWrappedKey != nullptr, ulWrappedKeyLen != 0,
         pTemplate != nullptr || ulAttributeCount == 0, phKey != nullptr},
        nullptr,
        [&](CSession& session) -> CK_RV {
            OrlByteArray wrapped(pWrappedKey, ulWrappedKeyLen);
            CK_RV rv = session.unWrapKey(pMechanism, hUnwrappingKey, wrapped, pTemplate,
                                         ulAttributeCount, phKey);
            if (rv != CKR_OK) {
                logError("->e<- unWrapKey error %lX", rv);
                return rv;
            }
            logMessage("<- C_UnWrapKey");
            return CKR_OK;
        },
        ZeroSession::InvalidHandle);
}

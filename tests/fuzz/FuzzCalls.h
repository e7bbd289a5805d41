// PKCS#11 call sequences shared by the provider fuzz targets.
#ifndef QUILLON_TESTS_FUZZCALLS_H
#define QUILLON_TESTS_FUZZCALLS_H

#include <cstring>
#include <memory>
#include <vector>

#include "cryptoki.h"
#include "cryptoki_functions.h"

namespace fuzz {

using Bytes = std::vector<unsigned char>;

// Every attribute type an object class of the provider answers, and a few it does not.
inline const std::vector<CK_ATTRIBUTE_TYPE>& attributeTypes() {
    static const std::vector<CK_ATTRIBUTE_TYPE> types = {
        CKA_CLASS,
        CKA_TOKEN,
        CKA_PRIVATE,
        CKA_LABEL,
        CKA_APPLICATION,
        CKA_VALUE,
        CKA_OBJECT_ID,
        CKA_CERTIFICATE_TYPE,
        CKA_ISSUER,
        CKA_SERIAL_NUMBER,
        CKA_SUBJECT,
        CKA_KEY_TYPE,
        CKA_ID,
        CKA_SENSITIVE,
        CKA_ENCRYPT,
        CKA_DECRYPT,
        CKA_WRAP,
        CKA_UNWRAP,
        CKA_SIGN,
        CKA_SIGN_RECOVER,
        CKA_VERIFY,
        CKA_VERIFY_RECOVER,
        CKA_DERIVE,
        CKA_START_DATE,
        CKA_END_DATE,
        CKA_MODULUS,
        CKA_MODULUS_BITS,
        CKA_PUBLIC_EXPONENT,
        CKA_PRIVATE_EXPONENT,
        CKA_PRIME_1,
        CKA_PRIME_2,
        CKA_EXPONENT_1,
        CKA_EXPONENT_2,
        CKA_COEFFICIENT,
        CKA_VALUE_LEN,
        CKA_EXTRACTABLE,
        CKA_LOCAL,
        CKA_NEVER_EXTRACTABLE,
        CKA_ALWAYS_SENSITIVE,
        CKA_MODIFIABLE,
        CKA_TRUSTED,
        0x80000001ul,
        0x80000002ul,
        0x80000003ul,
        0x80000005ul,
        0x12345678ul,
    };
    return types;
}

// Reads every attribute of the object the two-call way: lengths first, then
// values into buffers of exactly those lengths.
inline void readAllAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    const auto& types = attributeTypes();
    std::vector<CK_ATTRIBUTE> query(types.size());
    for (size_t i = 0; i < types.size(); ++i) query[i] = {types[i], nullptr, 0};
    C_GetAttributeValue(session, object, query.data(), query.size());
    // Buffers of exactly the lengths announced: the sanitizer sees any byte beyond.
    std::vector<std::unique_ptr<unsigned char[]>> buffers;
    for (size_t i = 0; i < types.size(); ++i) {
        CK_ULONG length = query[i].ulValueLen;
        if (length == static_cast<CK_ULONG>(-1) || length > (1u << 20)) length = 0;
        buffers.emplace_back(new unsigned char[length]);
        query[i].pValue = buffers.back().get();
        query[i].ulValueLen = length;
    }
    C_GetAttributeValue(session, object, query.data(), query.size());
}

// The handles a search for the template finds, at most 64.
inline std::vector<CK_OBJECT_HANDLE> findObjects(CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl,
                                                 CK_ULONG count) {
    std::vector<CK_OBJECT_HANDLE> found(64);
    CK_ULONG n = 0;
    if (C_FindObjectsInit(session, tmpl, count) != CKR_OK) return {};
    if (C_FindObjects(session, found.data(), found.size(), &n) != CKR_OK) n = 0;
    C_FindObjectsFinal(session);
    found.resize(n);
    return found;
}

inline CK_OBJECT_CLASS classOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    CK_OBJECT_CLASS cls = static_cast<CK_OBJECT_CLASS>(-1);
    CK_ATTRIBUTE a = {CKA_CLASS, &cls, sizeof cls};
    if (C_GetAttributeValue(session, object, &a, 1) != CKR_OK) return static_cast<CK_ULONG>(-1);
    return cls;
}

// One signature, one verification or one RSA operation with the key; the
// outcome does not matter, only that it is answered.
inline CK_MECHANISM withParameters(CK_MECHANISM_TYPE type);

inline void sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type) {
    CK_MECHANISM m = withParameters(type);
    if (C_SignInit(session, &m, key) != CKR_OK) return;
    unsigned char data[20] = {'a', 'b', 'c'};
    unsigned char sig[600];
    CK_ULONG len = sizeof sig;
    C_Sign(session, data, sizeof data, sig, &len);
}

// PSS and OAEP parameters with SHA-256, for the extended mechanisms.
inline CK_MECHANISM withParameters(CK_MECHANISM_TYPE type) {
    static CK_RSA_PKCS_PSS_PARAMS pss = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    static CK_RSA_PKCS_OAEP_PARAMS oaep = {CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, nullptr,
                                           0};
    if (type == CKM_RSA_PKCS_OAEP) return {type, &oaep, sizeof oaep};
    if (type == CKM_SHA256_RSA_PKCS_PSS || type == CKM_RSA_PKCS_PSS)
        return {type, &pss, sizeof pss};
    return {type, nullptr, 0};
}

inline void decrypt(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type,
                    size_t inLength) {
    CK_MECHANISM m = withParameters(type);
    if (C_DecryptInit(session, &m, key) != CKR_OK) return;
    Bytes in(inLength ? inLength : 1, 0x42), out(inLength + 600);
    CK_ULONG len = out.size();
    C_Decrypt(session, in.data(), in.size(), out.data(), &len);
}

inline void encrypt(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type,
                    size_t inLength) {
    unsigned char iv[16] = {};
    CK_MECHANISM m = {type, iv, sizeof iv};
    if (C_EncryptInit(session, &m, key) != CKR_OK) return;
    Bytes in(inLength ? inLength : 1, 0x24), out(inLength + 600);
    CK_ULONG len = out.size();
    C_Encrypt(session, in.data(), in.size(), out.data(), &len);
}

inline void verify(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key) {
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    if (C_VerifyInit(session, &m, key) != CKR_OK) return;
    unsigned char data[3] = {'a', 'b', 'c'};
    unsigned char sig[128] = {1, 2, 3};
    C_Verify(session, data, sizeof data, sig, sizeof sig);
}

// Uses the object as what its class says it is.
inline void exercise(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    readAllAttributes(session, object);
    switch (classOf(session, object)) {
        case CKO_PRIVATE_KEY:
            sign(session, object, CKM_SHA1_RSA_PKCS);
            sign(session, object, CKM_RSA_PKCS);
            decrypt(session, object, CKM_RSA_X_509, 128);
            decrypt(session, object, CKM_RSA_PKCS, 128);
            sign(session, object, CKM_SHA256_RSA_PKCS_PSS);
            sign(session, object, CKM_SHA256_RSA_PKCS);
            sign(session, object, CKM_RSA_X_509);
            decrypt(session, object, CKM_RSA_PKCS_OAEP, 128);
            break;
        case CKO_PUBLIC_KEY:
            verify(session, object);
            encrypt(session, object, CKM_RSA_PKCS, 10);
            break;
        case CKO_SECRET_KEY:
            encrypt(session, object, CKM_AES_ECB, 32);
            encrypt(session, object, CKM_DES3_CBC, 16);
            decrypt(session, object, CKM_DES_ECB, 8);
            break;
        default:
            break;
    }
}

}  // namespace fuzz

#endif

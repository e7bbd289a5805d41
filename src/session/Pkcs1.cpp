#include "Pkcs1.h"

#include <cryptopp/osrng.h>

#include <cstring>

#include "Digest.h"
#include "OrlByteArray.h"

namespace {

// Random padding bytes, none of them zero.
void fillNonZeroRandom(unsigned char* p, size_t n) {
    CryptoPP::AutoSeededRandomPool rng;
    rng.GenerateBlock(p, n);
    for (size_t i = 0; i < n; ++i) {
        while (p[i] == 0) p[i] = rng.GenerateByte();
    }
}

}  // namespace

CK_RV pkcs1Pad(unsigned blockType, size_t k, const unsigned char* data, size_t dLen,
               OrlByteArray& out) {
    if (blockType > 2) return CKR_ARGUMENTS_BAD;
    if (k > kMaxModulusBytes) return CKR_KEY_SIZE_RANGE;
    if (k < kPkcs1Overhead || dLen > k - kPkcs1Overhead) return CKR_DATA_LEN_RANGE;

    unsigned long start = out.getLength();
    out.setLength(start + k);
    unsigned char* block = out.getContent() + start;
    size_t padLen = k - dLen - 3;
    block[0] = 0x00;
    block[1] = static_cast<unsigned char>(blockType);
    if (blockType == 2) {
        fillNonZeroRandom(block + 2, padLen);
    } else {
        std::memset(block + 2, blockType == 1 ? 0xFF : 0x00, padLen);
    }
    block[2 + padLen] = 0x00;
    if (dLen) std::memcpy(block + 3 + padLen, data, dLen);
    return CKR_OK;
}

bool pkcs1SignatureBlockMatches(const unsigned char* recovered, size_t recoveredLen, size_t k,
                                const unsigned char* expected, size_t expectedLen) {
    if (recoveredLen != k) return false;
    OrlByteArray want;
    if (pkcs1Pad(1, k, expected, expectedLen, want) != CKR_OK) return false;
    // Both blocks are public; still, compare every byte rather than stop early.
    unsigned char diff = 0;
    for (size_t i = 0; i < k; ++i)
        diff |= static_cast<unsigned char>(recovered[i] ^ want.getContent()[i]);
    return diff == 0;
}

const SignatureScheme* findSignatureScheme(CK_MECHANISM_TYPE mechanism) {
    // Built on first use: the digest entries live in another file's table.
    static const SignatureScheme schemes[] = {
        {CKM_RSA_PKCS, "CKM_RSA_PKCS", 0, nullptr, SignaturePadding::Pkcs1, false},
        {CKM_MD2_RSA_PKCS, "CKM_MD2_RSA_PKCS", 1, findDigestAlgorithm(CKM_MD2),
         SignaturePadding::Pkcs1, false},
        {CKM_MD5_RSA_PKCS, "CKM_MD5_RSA_PKCS", 2, findDigestAlgorithm(CKM_MD5),
         SignaturePadding::Pkcs1, false},
        {CKM_SHA1_RSA_PKCS, "CKM_SHA1_RSA_PKCS", 3, findDigestAlgorithm(CKM_SHA_1),
         SignaturePadding::Pkcs1, false},
        {CKM_SHA224_RSA_PKCS, "CKM_SHA224_RSA_PKCS", 4, findDigestAlgorithm(CKM_SHA224),
         SignaturePadding::Pkcs1, true},
        {CKM_SHA256_RSA_PKCS, "CKM_SHA256_RSA_PKCS", 5, findDigestAlgorithm(CKM_SHA256),
         SignaturePadding::Pkcs1, true},
        {CKM_SHA384_RSA_PKCS, "CKM_SHA384_RSA_PKCS", 6, findDigestAlgorithm(CKM_SHA384),
         SignaturePadding::Pkcs1, true},
        {CKM_SHA512_RSA_PKCS, "CKM_SHA512_RSA_PKCS", 7, findDigestAlgorithm(CKM_SHA512),
         SignaturePadding::Pkcs1, true},
        {CKM_RSA_PKCS_PSS, "CKM_RSA_PKCS_PSS", 8, nullptr, SignaturePadding::Pss, true},
        {CKM_SHA1_RSA_PKCS_PSS, "CKM_SHA1_RSA_PKCS_PSS", 9, findDigestAlgorithm(CKM_SHA_1),
         SignaturePadding::Pss, true},
        {CKM_SHA224_RSA_PKCS_PSS, "CKM_SHA224_RSA_PKCS_PSS", 10, findDigestAlgorithm(CKM_SHA224),
         SignaturePadding::Pss, true},
        {CKM_SHA256_RSA_PKCS_PSS, "CKM_SHA256_RSA_PKCS_PSS", 11, findDigestAlgorithm(CKM_SHA256),
         SignaturePadding::Pss, true},
        {CKM_SHA384_RSA_PKCS_PSS, "CKM_SHA384_RSA_PKCS_PSS", 12, findDigestAlgorithm(CKM_SHA384),
         SignaturePadding::Pss, true},
        {CKM_SHA512_RSA_PKCS_PSS, "CKM_SHA512_RSA_PKCS_PSS", 13, findDigestAlgorithm(CKM_SHA512),
         SignaturePadding::Pss, true},
        {CKM_RSA_X_509, "CKM_RSA_X_509", 14, nullptr, SignaturePadding::Raw, true},
    };
    for (const SignatureScheme& s : schemes) {
        if (s.mechanism == mechanism) return &s;
    }
    return nullptr;
}

void signatureContent(const SignatureScheme& scheme, const unsigned char* data, size_t length,
                      OrlByteArray& out) {
    if (!scheme.digest) {
        out.append(data, static_cast<unsigned>(length));
        return;
    }
    OrlByteArray hash;
    computeDigest(*scheme.digest, data, length, hash);
    if (scheme.padding == SignaturePadding::Pss) {
        out.append(hash);
        return;
    }
    buildDigestInfo(scheme.digest->cryptoApiId, hash.getContent(), hash.getLength(), out);
}

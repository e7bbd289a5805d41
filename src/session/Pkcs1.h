// PKCS#1 v1.5 encryption blocks (RFC 8017, 7.2 and 9.2) and the RSA signature
// schemes built on them.
#ifndef QUILLON_SESSION_PKCS1_H
#define QUILLON_SESSION_PKCS1_H

#include <cstddef>

#include "cryptoki.h"

class OrlByteArray;
struct DigestAlgorithm;

// Largest modulus the provider handles: 4096 bits. Signatures and RSA results
// never exceed this many bytes, which is also what a length query reports.
constexpr size_t kMaxModulusBytes = 512;
// 00, block type, at least eight padding bytes, 00.
constexpr size_t kPkcs1Overhead = 11;

// Appends the k-byte block 00 || BT || PS || 00 || D, PS being k - dLen - 3
// bytes: 00 for block type 0, FF for type 1, random non-zero for type 2.
//   CKR_DATA_LEN_RANGE   dLen > k - 11 (the padding would be shorter than 8 bytes)
//   CKR_KEY_SIZE_RANGE   k above kMaxModulusBytes
//   CKR_ARGUMENTS_BAD    any other block type
// Nothing is appended on failure.
CK_RV pkcs1Pad(unsigned blockType, size_t k, const unsigned char* data, size_t dLen,
               OrlByteArray& out);

// Strict signature check: the block recovered from a signature is valid only
// when it is exactly k bytes and equals pkcs1Pad(1, k, expected) byte for byte.
// No parsing of the padding, so garbage hidden in it (the small-exponent
// forgery) cannot pass.
bool pkcs1SignatureBlockMatches(const unsigned char* recovered, size_t recoveredLen, size_t k,
                                const unsigned char* expected, size_t expectedLen);

// How a signature block is made from the signed content.
enum class SignaturePadding {
    Pkcs1,  // block type 1 around the content
    Pss,    // EMSA-PSS of the content, a hash (parameters from the mechanism)
    Raw,    // the content itself, left-padded with zeros to the modulus length
};

// The signature mechanisms. CKM_RSA_PKCS signs the caller's data as it is;
// the hashed PKCS#1 ones sign the DigestInfo of the data's hash. With the
// extended set: SHA-2 PKCS#1, PSS over a prepared hash (CKM_RSA_PKCS_PSS) or
// over the data's hash, and raw RSA (CKM_RSA_X_509).
struct SignatureScheme {
    CK_MECHANISM_TYPE mechanism;
    const char* name;               // "CKM_SHA1_RSA_PKCS", ...
    unsigned logNumber;             // 0 plain, 1 MD2, 2 MD5, 3 SHA-1, above: extended
    const DigestAlgorithm* digest;  // null when the caller's data is signed as it is
    SignaturePadding padding;
    bool extended;  // offered only with the extended mechanism set
};

// The scheme of a signature mechanism, or null.
const SignatureScheme* findSignatureScheme(CK_MECHANISM_TYPE mechanism);

// The value a signature block carries for `data`: the data itself, the
// DigestInfo of its hash (PKCS#1) or the hash alone (PSS). Appends to `out`;
// hash exceptions pass through.
void signatureContent(const SignatureScheme& scheme, const unsigned char* data, size_t length,
                      OrlByteArray& out);

#endif

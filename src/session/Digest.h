// The hashes the provider offers, computed in software: MD2, MD5 and SHA-1,
// and with the extended mechanism set SHA-224, SHA-256, SHA-384 and SHA-512.
// Digesting, signing and verification all reach them through this table, so a
// mechanism, its hash class and its DigestInfo header cannot drift apart.
#ifndef QUILLON_SESSION_DIGEST_H
#define QUILLON_SESSION_DIGEST_H

#include <cstddef>
#include <memory>

#include <cryptopp/cryptlib.h>

#include "cryptoki.h"

class OrlByteArray;

// CryptoAPI algorithm identifiers, the keys of buildDigestInfo.
enum : unsigned {
    kAlgMd2 = 0x8001,
    kAlgMd5 = 0x8003,
    kAlgSha1 = 0x8004,
    kAlgSha256 = 0x800C,
    kAlgSha384 = 0x800D,
    kAlgSha512 = 0x800E,
    kAlgSha224 = 0x18004,  // CryptoAPI has none; a value outside its range
    kAlgRawHash = 0x8008,  // the hash copied without header
};

struct DigestAlgorithm {
    CK_MECHANISM_TYPE mechanism;  // CKM_MD2, CKM_MD5, CKM_SHA_1, CKM_SHA256, ...
    const char* name;             // as logged: "CKM_MD2", ...
    CK_ULONG announcedLength;     // what a length query reports (18 for MD2 and MD5)
    size_t digestSize;            // what is delivered
    unsigned cryptoApiId;         // kAlgMd2, kAlgMd5, kAlgSha1, ...
    std::unique_ptr<CryptoPP::HashTransformation> (*create)();
    bool extended;  // offered only with the extended mechanism set
};

// The largest digest delivered (SHA-512).
constexpr size_t kMaxDigestSize = 64;

// The digest mechanism's entry, or null for any other mechanism.
const DigestAlgorithm* findDigestAlgorithm(CK_MECHANISM_TYPE mechanism);

// Hash of a whole message in one call. Crypto++ exceptions pass through.
void computeDigest(const DigestAlgorithm& algorithm, const unsigned char* data, size_t length,
                   OrlByteArray& out);

// The DER DigestInfo of a hash: its algorithm's header followed by the hash
// (kAlgRawHash: the hash alone). The header's length bytes follow hashLen.
// Appends to `out`; false (and nothing appended) for an unknown algorithm or
// a hash too long for a one-byte DER length.
bool buildDigestInfo(unsigned algorithm, const unsigned char* hash, size_t hashLen,
                     OrlByteArray& out);

#endif

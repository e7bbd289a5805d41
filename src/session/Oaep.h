// EME-OAEP, the encryption padding of RFC 8017 (7.1), with MGF1. Pure byte
// work: the RSA operations are the caller's.
#ifndef QUILLON_SESSION_OAEP_H
#define QUILLON_SESSION_OAEP_H

#include <cstddef>

#include "OrlByteArray.h"
#include "cryptoki.h"

struct DigestAlgorithm;

struct OaepParameters {
    const DigestAlgorithm* hash;     // of the label
    const DigestAlgorithm* mgfHash;  // inside MGF1
    OrlByteArray label;
};

// Appends the k-byte encoded message 00 || maskedSeed || maskedDB. `seed` is
// for known-answer tests; null draws a random one.
//   CKR_DATA_LEN_RANGE  more than k - 2 hLen - 2 bytes of message
CK_RV oaepEncode(const OaepParameters& params, size_t k, const unsigned char* message,
                 size_t length, OrlByteArray& out, const unsigned char* seed = nullptr);

// Decodes the k-byte block of a raw private-key operation and appends the
// message. Every way a block can be wrong gives the same answer, found in time
// that does not depend on where the block is wrong: no padding oracle.
//   CKR_ENCRYPTED_DATA_INVALID  any fault of the padding (nothing appended)
CK_RV oaepDecode(const OaepParameters& params, const unsigned char* block, size_t k,
                 OrlByteArray& out);

#endif

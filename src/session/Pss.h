// EMSA-PSS, the probabilistic signature encoding of RFC 8017 (9.1), with
// MGF1. Pure byte work: the RSA operations are the caller's.
#ifndef QUILLON_SESSION_PSS_H
#define QUILLON_SESSION_PSS_H

#include <cstddef>

#include "cryptoki.h"

class OrlByteArray;
struct DigestAlgorithm;

struct PssParameters {
    const DigestAlgorithm* hash;     // of the message, and the one that hashes M'
    const DigestAlgorithm* mgfHash;  // inside MGF1
    size_t saltLength;
};

// Whether the salt fits a modulus of modBits bits: emLen >= hLen + sLen + 2,
// emLen being ceil((modBits - 1) / 8).
bool pssFits(const PssParameters& params, size_t modBits);

// Appends the encoded message for a modulus of modBits bits as k =
// ceil(modBits / 8) bytes (a leading 00 when emLen is k - 1), ready for the
// raw private-key operation. `salt` is for known-answer tests; null draws a
// random salt.
//   CKR_DATA_LEN_RANGE           mHash is not one hash long
//   CKR_MECHANISM_PARAM_INVALID  the salt does not fit the modulus
CK_RV pssEncode(const PssParameters& params, const unsigned char* mHash, size_t mHashLength,
                size_t modBits, OrlByteArray& out, const unsigned char* salt = nullptr);

// Strict check of the k-byte block recovered from a signature (s^e mod n)
// against mHash: exactly the given salt length, every fixed byte as the
// encoding writes it, the top bits beyond modBits - 1 zero.
bool pssVerify(const PssParameters& params, const unsigned char* mHash, size_t mHashLength,
               const unsigned char* block, size_t blockLength, size_t modBits);

#endif

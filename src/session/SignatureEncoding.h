// The block a signature scheme asks the token to sign (the raw private-key
// operation), and the strict check of a block recovered from a signature.
#ifndef QUILLON_SESSION_SIGNATUREENCODING_H
#define QUILLON_SESSION_SIGNATUREENCODING_H

#include <cstddef>

#include "Pkcs1.h"
#include "Pss.h"
#include "cryptoki.h"

class OrlByteArray;

// Bits of an unsigned big-endian number (the modulus), leading zeros not counted.
size_t modulusBits(const unsigned char* modulus, size_t length);

// Appends the k-byte block for the content (signatureContent) under the
// modulus; `pss` is read only by the PSS schemes.
//   CKR_DATA_LEN_RANGE           PKCS#1 content above k - 11 bytes, raw content
//                                above k bytes, a PSS hash of the wrong length
//   CKR_DATA_INVALID             raw content not below the modulus
//   CKR_MECHANISM_PARAM_INVALID  the PSS salt does not fit the modulus
//   CKR_KEY_SIZE_RANGE           a modulus above 4096 bits
CK_RV buildSignatureBlock(const SignatureScheme& scheme, const PssParameters& pss,
                          const OrlByteArray& content, const OrlByteArray& modulus,
                          OrlByteArray& block);

// Whether the k-byte block recovered from a signature (s^e mod n) is exactly
// what the scheme makes of the content; no lenient parsing.
bool signatureBlockValid(const SignatureScheme& scheme, const PssParameters& pss,
                         const OrlByteArray& content, const unsigned char* recovered,
                         size_t recoveredLength, const OrlByteArray& modulus);

#endif

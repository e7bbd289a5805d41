// The RSA public-key operation, done in software for encryption and for
// signature verification.
#ifndef QUILLON_SESSION_RSAPUBLIC_H
#define QUILLON_SESSION_RSAPUBLIC_H

#include <cstddef>

#include "cryptoki.h"

class OrlByteArray;

// Length in bytes of an unsigned big-endian number, leading zero bytes not
// counted: the k of PKCS#1 for a modulus.
size_t modulusLength(const unsigned char* modulus, size_t length);

// Appends (in ^ e) mod n as exactly k bytes, k the modulus length, left-padded
// with zero bytes, as PKCS#1 requires of ciphertexts and signatures.
// n, e and in are unsigned big-endian.
//   CKR_KEY_SIZE_RANGE  empty modulus or one above 4096 bits
//   CKR_DATA_INVALID    the input, read as a number, is not below n
// Crypto++ exceptions (an even modulus, an unusable exponent) pass through.
CK_RV rsaPublicOperation(const OrlByteArray& modulus, const OrlByteArray& exponent,
                         const unsigned char* in, size_t inLen, OrlByteArray& out);

// Left-pads `value` in place with zero bytes to k bytes; longer values stay.
void leftPadToLength(OrlByteArray& value, size_t k);

#endif

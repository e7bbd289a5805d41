// MGF1, the mask generation function of RSA-PSS and RSA-OAEP (RFC 8017, B.2.1).
#ifndef QUILLON_SESSION_MGF1_H
#define QUILLON_SESSION_MGF1_H

#include <cstddef>

struct DigestAlgorithm;

// XORs the MGF1 mask of `seed` (with the given hash) over the `length` bytes
// at `target`: the masking step of both paddings, without a mask buffer.
void mgf1Xor(const DigestAlgorithm& hash, const unsigned char* seed, size_t seedLength,
             unsigned char* target, size_t length);

#endif

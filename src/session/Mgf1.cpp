#include "Mgf1.h"

#include <memory>

#include "Digest.h"

void mgf1Xor(const DigestAlgorithm& hash, const unsigned char* seed, size_t seedLength,
             unsigned char* target, size_t length) {
    std::unique_ptr<CryptoPP::HashTransformation> h = hash.create();
    unsigned char block[kMaxDigestSize];
    const size_t hLen = h->DigestSize();
    for (unsigned long counter = 0; length > 0; ++counter) {
        const unsigned char c[4] = {
            static_cast<unsigned char>(counter >> 24), static_cast<unsigned char>(counter >> 16),
            static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
        h->Update(seed, seedLength);
        h->Update(c, sizeof c);
        h->Final(block);
        const size_t n = length < hLen ? length : hLen;
        for (size_t i = 0; i < n; ++i) target[i] ^= block[i];
        target += n;
        length -= n;
    }
}

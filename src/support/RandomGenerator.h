// The provider's source of random bytes: a cryptographic generator seeded by
// the operating system, shared by all threads. Seeds from the application are
// mixed into it and can never make it predictable.
#ifndef QUILLON_SUPPORT_RANDOMGENERATOR_H
#define QUILLON_SUPPORT_RANDOMGENERATOR_H

#include <cstddef>

void generateRandom(unsigned char* out, size_t length);
void mixRandomSeed(const unsigned char* seed, size_t length);

#endif

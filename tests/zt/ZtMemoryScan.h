// Looks through this process's own memory (heap, stacks, writable data) for
// a byte string, to show that no copy of a secret outlived its use. The
// string is given masked (each byte XOR kScanMask), so the search itself
// never holds it in memory.
#ifndef QUILLON_TESTS_ZT_ZTMEMORYSCAN_H
#define QUILLON_TESTS_ZT_ZTMEMORYSCAN_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zttest {

constexpr unsigned char kScanMask = 0xA5;

std::vector<unsigned char> masked(const unsigned char* data, size_t n);

// How many times the unmasked string occurs in readable, writable private
// memory (pages not in memory are skipped).
size_t countInMemory(const std::vector<unsigned char>& maskedNeedle);

}  // namespace zttest

#endif

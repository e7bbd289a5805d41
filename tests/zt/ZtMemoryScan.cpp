#include "ZtMemoryScan.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zttest {

namespace {

constexpr size_t kMaxRegion = size_t(4) << 30;  // sanitizer shadows are larger: no user data
constexpr size_t kPagesPerStep = 4096;

// Reads memory the sanitizers consider off-limits (red zones, freed blocks):
// that is where a freed, unwiped copy would be.
__attribute__((no_sanitize("address", "thread", "undefined"))) size_t countIn(
    const unsigned char* begin, const unsigned char* end, const unsigned char* needle, size_t n) {
    size_t found = 0;
    unsigned char first = static_cast<unsigned char>(needle[0] ^ kScanMask);
    for (const volatile unsigned char* p = begin; p + n <= end; ++p) {
        if (*p != first) continue;
        size_t i = 1;
        while (i < n && p[i] == static_cast<unsigned char>(needle[i] ^ kScanMask)) ++i;
        if (i == n) ++found;
    }
    return found;
}

}  // namespace

std::vector<unsigned char> masked(const unsigned char* data, size_t n) {
    std::vector<unsigned char> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(data[i] ^ kScanMask);
    return out;
}

size_t countInMemory(const std::vector<unsigned char>& needle) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    static unsigned char resident[kPagesPerStep];
    // The map is read whole before the scan, so the scan allocates nothing.
    static char maps[1 << 20];
    FILE* f = std::fopen("/proc/self/maps", "r");
    if (!f) return 0;
    size_t length = std::fread(maps, 1, sizeof(maps) - 1, f);
    std::fclose(f);
    maps[length] = 0;

    size_t found = 0;
    for (char* line = maps; line && *line;) {
        char* next = std::strchr(line, '\n');
        if (next) *next++ = 0;
        unsigned long lo = 0, hi = 0;
        char perms[8] = {0};
        char path[512] = {0};
        int fields = std::sscanf(line, "%lx-%lx %7s %*s %*s %*s %511s", &lo, &hi, perms, path);
        line = next;
        if (fields < 3 || perms[0] != 'r' || perms[1] != 'w' || perms[3] != 'p') continue;
        if (std::strcmp(path, "[vvar]") == 0 || std::strcmp(path, "[vsyscall]") == 0) continue;
        if (hi - lo > kMaxRegion) continue;
        for (unsigned long at = lo; at < hi; at += kPagesPerStep * page) {
            size_t span = std::min<size_t>(hi - at, kPagesPerStep * page);
            if (mincore(reinterpret_cast<void*>(at), span, resident) != 0) continue;
            for (size_t p = 0; p < (span + page - 1) / page;) {
                if (!(resident[p] & 1)) {
                    ++p;
                    continue;
                }
                size_t q = p;
                while (q < (span + page - 1) / page && (resident[q] & 1)) ++q;
                auto* begin = reinterpret_cast<const unsigned char*>(at + p * page);
                auto* end = reinterpret_cast<const unsigned char*>(at + std::min(q * page, span));
                found += countIn(begin, end, needle.data(), needle.size());
                p = q;
            }
        }
    }
    return found;
}

}  // namespace zttest

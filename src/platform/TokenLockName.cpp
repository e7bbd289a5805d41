#include <cstdio>

#include "TokenLock.h"

namespace platform {

std::string tokenLockFileName(const std::string& key) {
    // FNV-1a: stable on every platform and build, so every process agrees.
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    char name[32];
    std::snprintf(name, sizeof(name), "token-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace platform

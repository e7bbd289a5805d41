// Helpers shared by the session, login and slot-event tests.
#ifndef QUILLON_TESTS_SESSIONTESTSUPPORT_H
#define QUILLON_TESTS_SESSIONTESTSUPPORT_H

#include <dirent.h>

#include <chrono>
#include <string>
#include <thread>

#include "ProviderFixture.h"

// Polls condition every 10 ms until it holds or the limit passes.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Threads of this process.
inline int threadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] != '.') ++n;
        }
        closedir(dir);
    }
    return n;
}

inline CK_UTF8CHAR_PTR pinBytes(const std::string& pin) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data()));
}

#endif

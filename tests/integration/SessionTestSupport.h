// Helpers shared by the session, login and slot-event tests.
#ifndef QUILLON_TESTS_SESSIONTESTSUPPORT_H
#define QUILLON_TESTS_SESSIONTESTSUPPORT_H

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

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
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    }
    CloseHandle(snapshot);
#else
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] != '.') ++n;
        }
        closedir(dir);
    }
#endif
    return n;
}

inline CK_UTF8CHAR_PTR pinBytes(const std::string& pin) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data()));
}

#endif

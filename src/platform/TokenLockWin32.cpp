#ifdef _WIN32
#include <windows.h>
#include <sddl.h>

#include "TokenLock.h"

namespace platform {

namespace {

// The lock covers one byte at 4 GiB, far from the generation at offset 0:
// LockFileEx is mandatory, and readers must reach the generation meanwhile.
constexpr DWORD kLockOffsetHigh = 1;

// Folders made here let every user of the machine create, lock and write the
// lock files (system and administrators: full control).
bool createSharedFolder(const std::string& path) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGWGX;;;WD)", SDDL_REVISION_1, &descriptor,
            nullptr)) {
        sa.lpSecurityDescriptor = descriptor;
    }
    BOOL made = CreateDirectoryA(path.c_str(), &sa);
    DWORD error = GetLastError();
    if (descriptor) LocalFree(descriptor);
    if (!made && error != ERROR_ALREADY_EXISTS) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string environment(const char* name) {
    char value[MAX_PATH] = {0};
    DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
    return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

bool sharedFolder(std::string& folder) {
    std::string base = environment("QUILLON_LOCK_DIR");
    if (base.empty()) base = environment("ProgramData");
    if (base.empty()) return false;
    std::string quillon = base + "\\Quillon";
    if (!createSharedFolder(quillon)) return false;
    folder = quillon + "\\tokens";
    return createSharedFolder(folder);
}

HANDLE handleOf(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace

TokenLock::~TokenLock() {
    close();
}

bool TokenLock::open(const std::string& key) {
    close();
    std::string folder;
    if (!sharedFolder(folder)) return false;
    std::string path = folder + "\\" + tokenLockFileName(key);
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(h);
    m_key = key;
    return true;
}

void TokenLock::close() {
    if (m_handle == kClosed) return;
    unlock();
    CloseHandle(handleOf(m_handle));
    m_handle = kClosed;
    m_key.clear();
}

bool TokenLock::lock() {
    if (m_handle == kClosed) return false;
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    m_bLocked = LockFileEx(handleOf(m_handle), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
    return m_bLocked;
}

void TokenLock::unlock() {
    if (m_handle == kClosed || !m_bLocked) return;
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(handleOf(m_handle), 0, 1, 0, &at);
    m_bLocked = false;
}

bool TokenLock::readGeneration(uint64_t& generation) const {
    if (m_handle == kClosed) return false;
    unsigned char bytes[8] = {0};
    OVERLAPPED at = {};
    DWORD n = 0;
    if (!ReadFile(handleOf(m_handle), bytes, sizeof(bytes), &n, &at) &&
        GetLastError() != ERROR_HANDLE_EOF) {
        return false;
    }
    generation = 0;
    for (int i = 7; i >= 0; --i) generation = generation << 8 | bytes[i];
    return true;
}

bool TokenLock::writeGeneration(uint64_t generation) {
    if (m_handle == kClosed || !m_bLocked) return false;
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(generation >> (8 * i));
    OVERLAPPED at = {};
    DWORD n = 0;
    return WriteFile(handleOf(m_handle), bytes, sizeof(bytes), &n, &at) && n == sizeof(bytes);
}

}  // namespace platform
#endif

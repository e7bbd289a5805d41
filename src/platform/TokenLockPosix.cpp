#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "TokenLock.h"

namespace platform {

namespace {

constexpr mode_t kFolderMode = 01777;
constexpr mode_t kFileMode = 0666;

// The shared folder, created like /tmp: world-writable with the sticky bit,
// so nobody can remove or replace another user's lock file. An existing
// folder is used only when it is a real folder (no link) owned by root or by
// this user, and, when others may write in it, sticky.
bool sharedFolder(std::string& folder) {
    const char* base = std::getenv("QUILLON_LOCK_DIR");
    folder = std::string(base && *base ? base : "/tmp") + "/quillon-tokens";
    if (mkdir(folder.c_str(), kFolderMode) == 0) {
        // The umask took bits away: put them back.
        if (chmod(folder.c_str(), kFolderMode) != 0) return false;
    } else if (errno != EEXIST) {
        return false;
    }
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)) return false;
    return true;
}

}  // namespace

TokenLock::~TokenLock() {
    close();
}

bool TokenLock::open(const std::string& key) {
    close();
    std::string folder;
    if (!sharedFolder(folder)) return false;
    std::string path = folder + "/" + tokenLockFileName(key);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Every user of the token must be able to lock and bump it.
    if (st.st_uid == geteuid() && (st.st_mode & 0777) != kFileMode) fchmod(fd, kFileMode);
    m_handle = fd;
    m_key = key;
    return true;
}

void TokenLock::close() {
    if (m_handle == kClosed) return;
    unlock();
    ::close(static_cast<int>(m_handle));
    m_handle = kClosed;
    m_key.clear();
}

bool TokenLock::lock() {
    if (m_handle == kClosed) return false;
    // flock belongs to the open file, so it is released when the process
    // ends and is not disturbed by other descriptors of the same file.
    int rc;
    do {
        rc = flock(static_cast<int>(m_handle), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    m_bLocked = rc == 0;
    return m_bLocked;
}

void TokenLock::unlock() {
    if (m_handle == kClosed || !m_bLocked) return;
    flock(static_cast<int>(m_handle), LOCK_UN);
    m_bLocked = false;
}

bool TokenLock::readGeneration(uint64_t& generation) const {
    if (m_handle == kClosed) return false;
    unsigned char bytes[8] = {0};
    ssize_t n = pread(static_cast<int>(m_handle), bytes, sizeof(bytes), 0);
    if (n < 0) return false;
    generation = 0;
    for (int i = 7; i >= 0; --i) generation = generation << 8 | bytes[i];
    return true;
}

bool TokenLock::writeGeneration(uint64_t generation) {
    if (m_handle == kClosed || !m_bLocked) return false;
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(generation >> (8 * i));
    return pwrite(static_cast<int>(m_handle), bytes, sizeof(bytes), 0) == sizeof(bytes);
}

}  // namespace platform
#endif

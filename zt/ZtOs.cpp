// POSIX and Win32 halves of the virtual token's operating-system services.
#include "ZtOs.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ZtWipe.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace zt {
namespace os {

namespace {
std::atomic<unsigned> g_tempCounter{0};
// A stale temporary file (from a killed writer, perhaps with this process's
// ID) takes one name; the writer moves on to the next.
constexpr unsigned kTempNameTries = 64;

// ".tmp.<pid>.<start-up time>.<counter>": unique among the living writers, and
// the start-up time keeps a recycled process ID off a dead writer's names.
std::string tempName(const std::string& path, unsigned long pid) {
    static const unsigned long long s_started = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    return path + ".tmp." + std::to_string(pid) + "." + std::to_string(s_started) + "." +
           std::to_string(g_tempCounter.fetch_add(1));
}

const char* envValue(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

std::string parentOf(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    if (cut == std::string::npos) return ".";
    if (cut == 0) return path.substr(0, 1);
    return path.substr(0, cut);
}
}  // namespace

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    char last = dir.back();
    if (last == '/' || last == kSeparator) return dir + name;
    return dir + kSeparator + name;
}

#ifndef _WIN32
// ---------------------------------------------------------------- POSIX half

const char kSeparator = '/';

std::string storeHome() {
    if (const char* home = envValue("ZT_HOME")) return home;
    if (const char* data = envValue("XDG_DATA_HOME")) return join(join(data, "quillon"), "zt");
    const char* home = envValue("HOME");
    if (!home) {
        struct passwd* pw = getpwuid(getuid());
        if (pw && pw->pw_dir && *pw->pw_dir) home = pw->pw_dir;
    }
    if (!home) return std::string();
    return join(join(join(join(home, ".local"), "share"), "quillon"), "zt");
}

bool makePrivateDir(const std::string& path) {
    if (path.empty()) return false;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::string parent = parentOf(path);
        if (parent != path && !isDir(parent) && !makePrivateDir(parent)) return false;
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (stat(path.c_str(), &st) != 0) return false;
    }
    if (!S_ISDIR(st.st_mode)) return false;
    if ((st.st_mode & 0777) != 0700 && st.st_uid == getuid()) chmod(path.c_str(), 0700);
    return true;
}

bool isDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

ReadResult readFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size) + 1);
    // Store files hold PIN hashes, keys and values: the buffer is wiped.
    char buf[8192];
    ReadResult result = ReadResult::Ok;
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = ReadResult::Failed;
            break;
        }
        if (n == 0) break;
        appendWiping(out, buf, static_cast<size_t>(n));
    }
    wipe(buf, sizeof(buf));
    close(fd);
    if (result != ReadResult::Ok) wipe(out);
    return result;
}

static bool syncDir(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool writeFileAtomic(const std::string& path, const void* bytes, size_t size) {
    const char* data = static_cast<const char*>(bytes);
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < kTempNameTries; ++attempt) {
        temp = tempName(path, static_cast<unsigned long>(getpid()));
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    if (ok) ok = fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (ok) ok = rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    return syncDir(parentOf(path));
}

bool removeFile(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    syncDir(parentOf(path));  // best effort: the removal itself succeeded
    return true;
}

bool renamePath(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0) return false;
    syncDir(parentOf(to));
    return true;
}

bool removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    bool ok = true;
    if (DIR* d = opendir(path.c_str())) {
        std::vector<std::string> names;
        while (struct dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        }
        closedir(d);
        for (const auto& n : names) ok = removeTree(join(path, n)) && ok;
    }
    return rmdir(path.c_str()) == 0 && ok;
}

std::vector<std::string> listDir(const std::string& path, bool folders) {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (!d) return names;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        struct stat st;
        if (stat(join(path, e->d_name).c_str(), &st) != 0) continue;
        if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool fileStamp(const std::string& path, FileStamp& out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    out.id = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
    out.size = static_cast<uint64_t>(st.st_size);
    out.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

FileLock::~FileLock() {
    if (m_handle >= 0) close(static_cast<int>(m_handle));  // closing releases the flock
}

bool FileLock::acquire(const std::string& path) {
    if (m_handle >= 0) return true;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    fchmod(fd, 0600);
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return false;
        }
    }
    m_handle = fd;
    return true;
}

#else
// ---------------------------------------------------------------- Win32 half

const char kSeparator = '\\';

std::string storeHome() {
    if (const char* home = envValue("ZT_HOME")) return home;
    if (const char* local = envValue("LOCALAPPDATA")) return join(join(local, "Quillon"), "zt");
    return std::string();
}

bool makePrivateDir(const std::string& path) {
    // Folders under %LOCALAPPDATA% inherit the owner-only ACL of the profile.
    if (path.empty()) return false;
    if (isDir(path)) return true;
    std::string parent = parentOf(path);
    if (parent != path && parent.size() > 2 && !isDir(parent) && !makePrivateDir(parent))
        return false;
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return isDir(path);
}

bool isDir(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

ReadResult readFile(const std::string& path, std::string& out) {
    out.clear();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        return (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) ? ReadResult::Missing
                                                                        : ReadResult::Failed;
    }
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 30))
        out.reserve(static_cast<size_t>(size.QuadPart) + 1);
    // Store files hold PIN hashes, keys and values: the buffer is wiped.
    char buf[8192];
    ReadResult result = ReadResult::Ok;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof(buf), &n, nullptr)) {
            result = ReadResult::Failed;
            break;
        }
        if (n == 0) break;
        appendWiping(out, buf, n);
    }
    wipe(buf, sizeof(buf));
    CloseHandle(h);
    if (result != ReadResult::Ok) wipe(out);
    return result;
}

bool writeFileAtomic(const std::string& path, const void* bytes, size_t size) {
    const char* data = static_cast<const char*>(bytes);
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; h == INVALID_HANDLE_VALUE && attempt < kTempNameTries; ++attempt) {
        temp = tempName(path, GetCurrentProcessId());
        h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < size) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(h, data + done, chunk, &n, nullptr) || n == 0)
            ok = false;
        else
            done += n;
    }
    if (ok) ok = FlushFileBuffers(h) != 0;
    CloseHandle(h);
    if (ok)
        ok = MoveFileExA(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

bool removeFile(const std::string& path) {
    if (DeleteFileA(path.c_str())) return true;
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

bool renamePath(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeTree(const std::string& path) {
    if (!isDir(path)) return removeFile(path);
    bool ok = true;
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA(join(path, "*").c_str(), &fd);
    if (f != INVALID_HANDLE_VALUE) {
        std::vector<std::string> names;
        do {
            if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
                names.push_back(fd.cFileName);
        } while (FindNextFileA(f, &fd));
        FindClose(f);
        for (const auto& n : names) ok = removeTree(join(path, n)) && ok;
    }
    return RemoveDirectoryA(path.c_str()) != 0 && ok;
}

std::vector<std::string> listDir(const std::string& path, bool folders) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA(join(path, "*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) return names;
    do {
        if (fd.cFileName[0] == '.') continue;
        bool dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (dir == folders) names.push_back(fd.cFileName);
    } while (FindNextFileA(f, &fd));
    FindClose(f);
    std::sort(names.begin(), names.end());
    return names;
}

bool fileStamp(const std::string& path, FileStamp& out) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return false;
    out.size = (static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
    out.modified =
        static_cast<int64_t>((static_cast<uint64_t>(a.ftLastWriteTime.dwHighDateTime) << 32) |
                             a.ftLastWriteTime.dwLowDateTime);
    // A renamed-over file keeps no inode number here; its creation time tells it apart.
    out.id = (static_cast<uint64_t>(a.ftCreationTime.dwHighDateTime) << 32) |
             a.ftCreationTime.dwLowDateTime;
    return true;
}

FileLock::~FileLock() {
    if (m_handle != -1) {
        HANDLE h = reinterpret_cast<HANDLE>(m_handle);
        OVERLAPPED ov = {};
        UnlockFileEx(h, 0, 1, 0, &ov);
        CloseHandle(h);
    }
}

bool FileLock::acquire(const std::string& path) {
    if (m_handle != -1) return true;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED ov = {};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov)) {
        CloseHandle(h);
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(h);
    return true;
}

#endif

bool writeFileAtomic(const std::string& path, const std::string& data) {
    return writeFileAtomic(path, data.data(), data.size());
}

bool isTemporaryName(const std::string& name) {
    return name.find(".tmp.") != std::string::npos;
}

void removeTemporaries(const std::string& dir) {
    for (const auto& name : listDir(dir, false))
        if (isTemporaryName(name)) removeFile(join(dir, name));
}

}  // namespace os
}  // namespace zt

#ifndef _WIN32
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "Platform.h"

namespace platform {

namespace {
thread_local unsigned long t_lastError = 0;
thread_local char t_loadError[512];

// Owner-aware mutex: a robust pthread mutex gives the Win32 "abandoned" rule.
struct OsMutex {
    pthread_mutex_t mutex;
};
}  // namespace

LibraryHandle loadLibrary(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        std::snprintf(t_loadError, sizeof(t_loadError), "%s", why ? why : "unknown error");
        setLastError(ENOENT);
    }
    return handle;
}

void* findSymbol(LibraryHandle library, const char* name) {
    dlerror();
    void* symbol = library ? dlsym(library, name) : nullptr;
    if (!symbol) {
        const char* why = library ? dlerror() : "no library";
        std::snprintf(t_loadError, sizeof(t_loadError), "%s", why ? why : "symbol is null");
        setLastError(ENOENT);
    }
    return symbol;
}

bool freeLibrary(LibraryHandle library) {
    if (!library || dlclose(library) != 0) {
        setLastError(EINVAL);
        return false;
    }
    return true;
}

const char* lastLoadError() {
    return t_loadError;
}

unsigned long getLastError() {
    return t_lastError;
}
void setLastError(unsigned long code) {
    t_lastError = code;
}

void messageBox(const char* text, const char* caption, unsigned int) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

void printErrorLine(const char* line) {
    std::fprintf(stderr, "%s\n", line ? line : "");
    std::fflush(stderr);
}

ConfigFileResult readCurrentDirectoryConfig(const char* name, std::string& text,
                                            std::string& fullPath, std::string& why) {
    text.clear();
    why.clear();
    char cwd[4096];
    fullPath = getcwd(cwd, sizeof(cwd)) ? std::string(cwd) + "/" + name : std::string(name);
    // Non-blocking, so that a planted FIFO cannot hang the application.
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        int error = errno;
        why = std::strerror(error);
        return error == ENOENT ? ConfigFileResult::Missing : ConfigFileResult::Failed;
    }
    struct stat st;
    ConfigFileResult result = ConfigFileResult::Read;
    char detail[160];
    if (fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        result = ConfigFileResult::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        result = ConfigFileResult::Refused;
    } else if (st.st_uid != geteuid() && st.st_uid != 0) {
        std::snprintf(detail, sizeof(detail), "owned by uid %lu, not by uid %lu or root",
                      static_cast<unsigned long>(st.st_uid), static_cast<unsigned long>(geteuid()));
        why = detail;
        result = ConfigFileResult::Refused;
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        std::snprintf(detail, sizeof(detail), "writable by %s (mode %04o)",
                      (st.st_mode & S_IWGRP) ? "its group" : "others",
                      static_cast<unsigned>(st.st_mode & 07777));
        why = detail;
        result = ConfigFileResult::Refused;
    }
    while (result == ConfigFileResult::Read) {
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            result = ConfigFileResult::Failed;
        } else if (n == 0) {
            break;
        } else {
            text.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    if (result != ConfigFileResult::Read) text.clear();
    return result;
}

unsigned long osCreateMutex(void** out) {
    auto* m = new (std::nothrow) OsMutex;
    if (!m) return ENOMEM;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(&m->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete m;
        return static_cast<unsigned long>(rc);
    }
    pthread_mutex_lock(&m->mutex);
    *out = m;
    return 0;
}

unsigned long osDestroyMutex(void* mutex) {
    auto* m = static_cast<OsMutex*>(mutex);
    if (!m) return EINVAL;
    int rc = pthread_mutex_unlock(&m->mutex);
    if (rc != 0) return static_cast<unsigned long>(rc);
    pthread_mutex_destroy(&m->mutex);
    delete m;
    return 0;
}

unsigned long osLockMutex(void* mutex) {
    auto* m = static_cast<OsMutex*>(mutex);
    if (!m) return 0xFFFFFFFFUL;
    int rc = pthread_mutex_lock(&m->mutex);
    if (rc == 0) return 0;
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&m->mutex);
        return 0x80;
    }
    setLastError(static_cast<unsigned long>(rc));
    return 0xFFFFFFFFUL;
}

unsigned long osUnlockMutex(void* mutex) {
    auto* m = static_cast<OsMutex*>(mutex);
    if (!m) return EINVAL;
    int rc = pthread_mutex_unlock(&m->mutex);
    return static_cast<unsigned long>(rc);
}

CriticalSection::CriticalSection() {
    auto* m = new pthread_mutex_t;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
    m_impl = m;
}

CriticalSection::~CriticalSection() {
    auto* m = static_cast<pthread_mutex_t*>(m_impl);
    pthread_mutex_destroy(m);
    delete m;
}

void CriticalSection::enter() {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(m_impl));
}
void CriticalSection::leave() {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m_impl));
}

void sleepMilliseconds(unsigned int ms) {
    usleep(static_cast<useconds_t>(ms) * 1000);
}

bool localTime(std::time_t when, std::tm* out) {
    return localtime_r(&when, out) != nullptr;
}

unsigned long processId() {
    return static_cast<unsigned long>(getpid());
}

}  // namespace platform
#endif

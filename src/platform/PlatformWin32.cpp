#ifdef _WIN32
#include <windows.h>

#include <cstdio>

#include "Platform.h"

namespace platform {

namespace {
thread_local char t_loadError[64];
}

LibraryHandle loadLibrary(const char* path) {
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        // Reaching a thread_local resets the last-error value (TlsGetValue):
        // keep the loader's code for the caller's GetLastError.
        DWORD error = GetLastError();
        std::snprintf(t_loadError, sizeof(t_loadError), "error %lu", error);
        SetLastError(error);
    }
    return reinterpret_cast<LibraryHandle>(module);
}

void* findSymbol(LibraryHandle library, const char* name) {
    void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
    if (!symbol) {
        DWORD error = GetLastError();
        std::snprintf(t_loadError, sizeof(t_loadError), "error %lu", error);
        SetLastError(error);
    }
    return symbol;
}

bool freeLibrary(LibraryHandle library) {
    return FreeLibrary(static_cast<HMODULE>(library)) != 0;
}

const char* lastLoadError() {
    return t_loadError;
}

// Reaching a thread_local or a winpthreads lock calls TlsGetValue, which
// resets the thread's last-error value to 0: a code the provider passes up
// through it (a failed getSessionData) would read as success a few calls
// later. So a code set here is also kept aside and answered while the
// system's value reads 0; a later system error (non-zero) takes over.
namespace {
thread_local unsigned long t_lastErrorSet = 0;
}

unsigned long getLastError() {
    DWORD system = GetLastError();  // before the thread_local access below
    if (system != 0) return system;
    return t_lastErrorSet;
}

void setLastError(unsigned long code) {
    t_lastErrorSet = code;
    SetLastError(code);  // after the thread_local access above
}

void messageBox(const char* text, const char* caption, unsigned int style) {
    MessageBoxA(nullptr, text, caption, style);
}

void printErrorLine(const char* line) {
    std::fprintf(stderr, "%s\n", line ? line : "");
    std::fflush(stderr);
}

// Windows files have no owner check here: the file is read as it is.
ConfigFileResult readCurrentDirectoryConfig(const char* name, std::string& text,
                                            std::string& fullPath, std::string& why) {
    text.clear();
    why.clear();
    char cwd[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof(cwd), cwd);
    fullPath = (n > 0 && n < sizeof(cwd)) ? std::string(cwd) + "\\" + name : std::string(name);
    FILE* file = std::fopen(name, "r");
    if (!file) {
        why = "cannot be opened";
        return ConfigFileResult::Missing;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, got);
    std::fclose(file);
    return ConfigFileResult::Read;
}

unsigned long osCreateMutex(void** out) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    if (!mutex) return GetLastError();
    *out = mutex;
    return 0;
}

unsigned long osDestroyMutex(void* mutex) {
    if (!ReleaseMutex(static_cast<HANDLE>(mutex))) return GetLastError();
    CloseHandle(static_cast<HANDLE>(mutex));
    return 0;
}

unsigned long osLockMutex(void* mutex) {
    DWORD rc = WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
    return rc == WAIT_OBJECT_0 ? 0 : rc;
}

unsigned long osUnlockMutex(void* mutex) {
    return ReleaseMutex(static_cast<HANDLE>(mutex)) ? 0 : GetLastError();
}

CriticalSection::CriticalSection() {
    auto* cs = new CRITICAL_SECTION;
    InitializeCriticalSection(cs);
    m_impl = cs;
}

CriticalSection::~CriticalSection() {
    auto* cs = static_cast<CRITICAL_SECTION*>(m_impl);
    DeleteCriticalSection(cs);
    delete cs;
}

void CriticalSection::enter() {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}
void CriticalSection::leave() {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(m_impl));
}

void sleepMilliseconds(unsigned int ms) {
    Sleep(ms);
}

bool localTime(std::time_t when, std::tm* out) {
    return localtime_s(out, &when) == 0;
}

unsigned long processId() {
    return GetCurrentProcessId();
}

}  // namespace platform
#endif

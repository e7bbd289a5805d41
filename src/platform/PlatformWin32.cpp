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
    if (!module) std::snprintf(t_loadError, sizeof(t_loadError), "error %lu", GetLastError());
    return reinterpret_cast<LibraryHandle>(module);
}

void* findSymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool freeLibrary(LibraryHandle library) {
    return FreeLibrary(static_cast<HMODULE>(library)) != 0;
}

const char* lastLoadError() {
    return t_loadError;
}

unsigned long getLastError() {
    return GetLastError();
}
void setLastError(unsigned long code) {
    SetLastError(code);
}

void messageBox(const char* text, const char* caption, unsigned int style) {
    MessageBoxA(nullptr, text, caption, style);
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

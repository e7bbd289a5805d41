// The thin layer through which the provider reaches the operating system.
// One interface, a POSIX and a Win32 implementation.
#ifndef QUILLON_PLATFORM_PLATFORM_H
#define QUILLON_PLATFORM_PLATFORM_H

#include <ctime>
#include <string>

namespace platform {

// Shared libraries.
typedef void* LibraryHandle;
LibraryHandle loadLibrary(const char* path);
void* findSymbol(LibraryHandle library, const char* name);
bool freeLibrary(LibraryHandle library);
// The system's text for the last failure of loadLibrary or findSymbol.
const char* lastLoadError();

// The calling thread's last-error value.
unsigned long getLastError();
void setLastError(unsigned long code);

// A load-time failure shown to the user (stderr where there is no desktop).
void messageBox(const char* text, const char* caption, unsigned int style);
// One line on standard error, for whoever started the application.
void printErrorLine(const char* line);

// A configuration file found in the current directory. Where files have
// owners (POSIX), it is read only when it belongs to the effective user or
// root and neither group nor others may write it; the check and the read use
// one open file, so it cannot be swapped in between.
enum class ConfigFileResult { Read, Missing, Refused, Failed };
ConfigFileResult readCurrentDirectoryConfig(const char* name, std::string& text,
                                            std::string& fullPath, std::string& why);

// The provider's own mutex functions, with the CK_CREATEMUTEX family's
// contracts: create returns the mutex already held by the caller; lock waits
// without limit and answers 0, or 0x80 when the previous owner ended holding
// it; every function answers 0 or a system error code.
unsigned long osCreateMutex(void** mutex);
unsigned long osDestroyMutex(void* mutex);
unsigned long osLockMutex(void* mutex);
unsigned long osUnlockMutex(void* mutex);

// A recursive lock for short critical sections.
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void enter();
    void leave();

private:
    void* m_impl;
};

void sleepMilliseconds(unsigned int ms);
unsigned long processId();
bool localTime(std::time_t when, std::tm* out);

}  // namespace platform

#endif

// The few <dlfcn.h> calls the tests use, over LoadLibraryA and friends, so
// that tests loading the provider as an application does also build for
// Windows. Test code only; the provider itself goes through src/platform.
#ifndef QUILLON_TESTS_WINDOWS_DLFCN_H
#define QUILLON_TESTS_WINDOWS_DLFCN_H

#include <windows.h>

#include <cstdio>

#define RTLD_LAZY 0x1
#define RTLD_NOW 0x2
#define RTLD_LOCAL 0x0
#define RTLD_GLOBAL 0x100
#define RTLD_NOLOAD 0x4

namespace quillon_dlfcn {
inline char* errorText() {
    static thread_local char text[160];
    return text;
}
inline void setError(const char* what, const char* name) {
    DWORD code = GetLastError();
    std::snprintf(errorText(), 160, "%s %s: Windows error %lu", what, name ? name : "(null)",
                  static_cast<unsigned long>(code));
}
}  // namespace quillon_dlfcn

inline void* dlopen(const char* path, int flags) {
    HMODULE module = nullptr;
    if (flags & RTLD_NOLOAD) {
        // Only an already loaded module, with one more reference as dlopen gives.
        if (GetModuleHandleExA(0, path, &module)) return module;
        quillon_dlfcn::setError("not loaded:", path);
        return nullptr;
    }
    module = LoadLibraryA(path);
    if (!module) quillon_dlfcn::setError("LoadLibrary", path);
    return module;
}

inline void* dlsym(void* module, const char* name) {
    void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
    if (!symbol) quillon_dlfcn::setError("GetProcAddress", name);
    return symbol;
}

inline int dlclose(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) ? 0 : -1;
}

inline char* dlerror() {
    char* text = quillon_dlfcn::errorText();
    if (!text[0]) return nullptr;
    static thread_local char last[160];
    std::snprintf(last, sizeof(last), "%s", text);
    text[0] = 0;
    return last;
}

#endif

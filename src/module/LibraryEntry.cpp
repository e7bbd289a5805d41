// The operating system's load and unload hooks.
#include "Startup.h"

#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return moduleAttach() ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            // A non-null reserved pointer means the process is terminating:
            // its other threads are gone and other DLLs may be torn down.
            if (reserved) moduleProcessExit(false);
            moduleDetach();
            return TRUE;
        default:
            return TRUE;
    }
}
#else
// A shared object cannot refuse to load: a failed start-up leaves the module
// loaded and every entry point reports it.
extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* library);
extern "C" void* __dso_handle;

static void quillonProcessExit(void*) {
    moduleProcessExit(true);
}

// The exit handler is registered after the card library was loaded, so at
// exit() it runs before that library's static destructors; on dlclose it runs
// only after the unload hook, and then does nothing.
__attribute__((constructor)) static void quillonLoad() {
    moduleAttach();
    // Registered for this library (not plain atexit), so a dlclose also
    // withdraws it even where a sanitizer intercepts atexit.
    __cxa_atexit(quillonProcessExit, nullptr, &__dso_handle);
}
__attribute__((destructor)) static void quillonUnload() {
    moduleDetach();
}
#endif

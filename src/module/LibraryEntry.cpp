// The operating system's load and unload hooks.
#include "Startup.h"

#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return moduleAttach() ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            moduleDetach();
            return TRUE;
        default:
            return TRUE;
    }
}
#else
// A shared object cannot refuse to load: a failed start-up leaves the module
// loaded and every entry point reports it.
__attribute__((constructor)) static void quillonLoad() {
    moduleAttach();
}
__attribute__((destructor)) static void quillonUnload() {
    moduleDetach();
}
#endif

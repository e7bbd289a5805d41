// Loads the provider as an application does and reports whether Windows
// accepted it. Usage: load_probe DLL load|refuse
// "load": LoadLibraryA succeeds, C_GetFunctionList / C_Initialize / C_GetInfo /
// C_Finalize answer CKR_OK. "refuse": LoadLibraryA fails (DllMain said FALSE).
// Exit status 0 when the expectation holds.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cryptoki.h"

static int check(CK_RV rv, const char* what) {
    if (rv == CKR_OK) return 0;
    std::printf("load_probe: %s answered 0x%lx\n", what, static_cast<unsigned long>(rv));
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: load_probe DLL load|refuse\n");
        return 2;
    }
    const bool expectLoad = std::strcmp(argv[2], "load") == 0;
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        DWORD error = GetLastError();
        std::printf("load_probe: LoadLibrary(%s) failed, error %lu\n", argv[1], error);
        return expectLoad ? 1 : 0;
    }
    if (!expectLoad) {
        std::printf("load_probe: %s loaded but should have been refused\n", argv[1]);
        FreeLibrary(module);
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
    if (!getList) {
        std::printf("load_probe: no C_GetFunctionList export\n");
        return 1;
    }
    CK_FUNCTION_LIST_PTR list = nullptr;
    int failures = check(getList(&list), "C_GetFunctionList");
    if (!list) return 1;
    failures += check(list->C_Initialize(nullptr), "C_Initialize");
    CK_INFO info;
    failures += check(list->C_GetInfo(&info), "C_GetInfo");
    failures += check(list->C_Finalize(nullptr), "C_Finalize");
    FreeLibrary(module);
    std::printf("load_probe: %s loaded and answered (%d failures)\n", argv[1], failures);
    return failures == 0 ? 0 : 1;
}

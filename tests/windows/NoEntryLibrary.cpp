// A DLL that is no card-access library: it lacks the "GetFunctionList" export.
#include <windows.h>

extern "C" __declspec(dllexport) int NotTheEntryPoint() {
    return 42;
}

// Object operation speed: creating session data objects, and searching among
// them for one label and with an empty template. Usage: quillon_object_bench [count]
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cryptoki.h"

namespace {

typedef std::chrono::steady_clock Clock;

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s failed: 0x%lX\n", what, rv);
        std::exit(1);
    }
}

// Runs one whole search and answers how many handles it handed out.
CK_ULONG search(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE s, CK_ATTRIBUTE* t, CK_ULONG n,
                std::vector<CK_OBJECT_HANDLE>& out) {
    check(p11->C_FindObjectsInit(s, t, n), "C_FindObjectsInit");
    CK_ULONG total = 0, got = 0;
    do {
        check(p11->C_FindObjects(s, out.data(), out.size(), &got), "C_FindObjects");
        total += got;
    } while (got > 0);
    check(p11->C_FindObjectsFinal(s), "C_FindObjectsFinal");
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    char dir[] = "/tmp/quillon-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string home = std::string(dir) + "/zt";
    std::string admin = std::string(ZT_ADMIN_PATH) + " --home '" + home + "' ";
    if (std::system((admin + "reader add 'Bench Reader' >/dev/null").c_str()) != 0 ||
        std::system((admin + "card new 'Bench Reader' --user-pin 1234 --so-pin 87654321 "
                             ">/dev/null")
                        .c_str()) != 0) {
        std::fprintf(stderr, "zt-admin failed\n");
        return 1;
    }
    setenv("ZT_HOME", home.c_str(), 1);
    std::string config = std::string(dir) + "/quillon.conf";
    std::ofstream(config) << "zt=" << ZT_LIBRARY_PATH << "\nloglevel=0\n";
    setenv("QUILLON_REGISTRY", config.c_str(), 1);

    void* library = dlopen(QUILLON_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST* p11 = nullptr;
    check(getList(&p11), "C_GetFunctionList");
    check(p11->C_Initialize(nullptr), "C_Initialize");
    CK_SLOT_ID slot = 0;
    CK_ULONG slots = 1;
    check(p11->C_GetSlotList(CK_TRUE, &slot, &slots), "C_GetSlotList");
    CK_SESSION_HANDLE s = 0;
    check(p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s),
          "C_OpenSession");

    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL no = CK_FALSE;
    char label[32];
    const char value[] = "value";
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_TOKEN, &no, sizeof(no)},
                        {CKA_LABEL, label, 0},
                        {CKA_VALUE, const_cast<char*>(value), sizeof(value) - 1}};
    Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
        t[2].ulValueLen = std::snprintf(label, sizeof(label), "object %d", i);
        CK_OBJECT_HANDLE h = 0;
        check(p11->C_CreateObject(s, t, 4, &h), "C_CreateObject");
    }
    double createMicros = microsSince(start);
    std::printf("create %d session data objects: %.1f ms, %.0f objects/s\n", count,
                createMicros / 1000, count / (createMicros / 1e6));

    std::vector<CK_OBJECT_HANDLE> out(64);
    const int rounds = 200;
    int wanted = count / 2;
    char wantedLabel[32];
    CK_ATTRIBUTE one = {CKA_LABEL, wantedLabel,
                        static_cast<CK_ULONG>(
                            std::snprintf(wantedLabel, sizeof(wantedLabel), "object %d", wanted))};
    start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        if (search(p11, s, &one, 1, out) != 1) {
            std::fprintf(stderr, "one-label search found the wrong count\n");
            return 1;
        }
    }
    std::printf("one-label search over %d objects: %.1f us each\n", count,
                microsSince(start) / rounds);
    start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        if (search(p11, s, nullptr, 0, out) != static_cast<CK_ULONG>(count)) {
            std::fprintf(stderr, "empty-template search found the wrong count\n");
            return 1;
        }
    }
    std::printf("empty-template search over %d objects: %.1f us each\n", count,
                microsSince(start) / rounds);

    check(p11->C_Finalize(nullptr), "C_Finalize");
    dlclose(library);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return 0;
}

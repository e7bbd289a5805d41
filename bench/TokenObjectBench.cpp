// Token object speed over the virtual token: creating and destroying token
// data objects, a one-label search among them while nothing changes
// elsewhere, and the cost of the freshness check (an attribute read of a
// token object, which checks the token's generation, against one of a
// session object, which does not).
// Usage: quillon_token_bench [count]
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

CK_ULONG search(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE s, CK_ATTRIBUTE* t, CK_ULONG n) {
    std::vector<CK_OBJECT_HANDLE> out(64);
    check(p11->C_FindObjectsInit(s, t, n), "C_FindObjectsInit");
    CK_ULONG total = 0, got = 0;
    do {
        check(p11->C_FindObjects(s, out.data(), out.size(), &got), "C_FindObjects");
        total += got;
    } while (got > 0);
    check(p11->C_FindObjectsFinal(s), "C_FindObjectsFinal");
    return total;
}

CK_OBJECT_HANDLE create(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE s, bool token, int i) {
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL flag = token ? CK_TRUE : CK_FALSE;
    char label[32];
    const char value[] = "value";
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_TOKEN, &flag, sizeof(flag)},
                        {CKA_LABEL, label, 0},
                        {CKA_VALUE, const_cast<char*>(value), sizeof(value) - 1}};
    t[2].ulValueLen = std::snprintf(label, sizeof(label), "object %d", i);
    CK_OBJECT_HANDLE h = 0;
    check(p11->C_CreateObject(s, t, 4, &h), "C_CreateObject");
    return h;
}

double labelReads(CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, int reads) {
    char label[64];
    Clock::time_point start = Clock::now();
    for (int i = 0; i < reads; ++i) {
        CK_ATTRIBUTE a = {CKA_LABEL, label, sizeof(label)};
        check(p11->C_GetAttributeValue(s, h, &a, 1), "C_GetAttributeValue");
    }
    return microsSince(start) * 1000 / reads;
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
    setenv("QUILLON_LOCK_DIR", dir, 1);
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

    std::vector<CK_OBJECT_HANDLE> handles;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) handles.push_back(create(p11, s, true, i));
    double micros = microsSince(start);
    std::printf("create %d token data objects: %.0f objects/s\n", count, count / (micros / 1e6));

    const int rounds = 5000;
    char wantedLabel[32];
    CK_ATTRIBUTE one = {CKA_LABEL, wantedLabel,
                        static_cast<CK_ULONG>(std::snprintf(wantedLabel, sizeof(wantedLabel),
                                                            "object %d", count / 2))};
    start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        if (search(p11, s, &one, 1) != 1) {
            std::fprintf(stderr, "one-label search found the wrong count\n");
            return 1;
        }
    }
    std::printf("one-label search among %d token objects: %.1f us each\n", count,
                microsSince(start) / rounds);

    CK_OBJECT_HANDLE session = create(p11, s, false, -1);
    const int reads = 200000;
    double tokenRead = labelReads(p11, s, handles[0], reads);
    double sessionRead = labelReads(p11, s, session, reads);
    std::printf(
        "label read: token object %.0f ns, session object %.0f ns (freshness check %.0f ns)\n",
        tokenRead, sessionRead, tokenRead - sessionRead);

    int destroys = count / 2;
    start = Clock::now();
    for (int i = 0; i < destroys; ++i)
        check(p11->C_DestroyObject(s, handles[i]), "C_DestroyObject");
    micros = microsSince(start);
    std::printf("destroy %d token data objects: %.0f objects/s\n", destroys,
                destroys / (micros / 1e6));

    check(p11->C_Finalize(nullptr), "C_Finalize");
    dlclose(library);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return 0;
}

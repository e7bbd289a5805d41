// The extended mechanisms against the same work done directly: SHA-256 over
// 1 MiB through C_Digest against Crypto++'s SHA256, and CKM_SHA256_RSA_PKCS_PSS
// signatures (RSA-2048) against the virtual token's own raw private-key call
// on the same key.
//
// The machine is shared, so provider (A) and raw (B) run in interleaved
// rounds, ABBA ABBA ..., each a short slice; every round gives one ratio A/B
// from neighbouring slices, which met about the same load, and the figure
// reported is the median ratio over the rounds, with the median rates.
//
//   quillon_extended_bench [--provider PATH] [--token PATH] [--zt-admin PATH]
//                          [--rounds N] [--slice SECONDS]
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CardFunctions.h"
#include "OrlByteArray.h"
#include "OrlStringVector.h"
#include "cryptoki.h"

#ifndef QUILLON_BENCH_PROVIDER
#define QUILLON_BENCH_PROVIDER "libquillon.so"
#endif
#ifndef QUILLON_BENCH_TOKEN
#define QUILLON_BENCH_TOKEN ""
#endif
#ifndef QUILLON_BENCH_ZT_ADMIN
#define QUILLON_BENCH_ZT_ADMIN ""
#endif

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

int g_rounds = 10;
double g_slice = 0.2;

// Operations per second of op over about one slice; 0 when it fails.
double sliceRate(const std::function<bool()>& op) {
    long count = 0;
    Clock::time_point start = Clock::now();
    double elapsed;
    do {
        if (!op()) return 0;
        ++count;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < g_slice);
    return count / elapsed;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// ABBA rounds: each round's ratio compares slices run next to each other.
void compare(const char* name, double bytesPerOp, const std::function<bool()>& a,
             const std::function<bool()>& b) {
    std::vector<double> ratios, rateA, rateB;
    for (int round = 0; round < g_rounds; ++round) {
        double a1 = sliceRate(a), b1 = sliceRate(b), b2 = sliceRate(b), a2 = sliceRate(a);
        if (a1 == 0 || b1 == 0 || a2 == 0 || b2 == 0) {
            std::printf("%-36s failed\n", name);
            return;
        }
        ratios.push_back((a1 + a2) / (b1 + b2));
        rateA.push_back((a1 + a2) / 2);
        rateB.push_back((b1 + b2) / 2);
    }
    double ra = median(rateA), rb = median(rateB), ratio = median(ratios);
    double worst = *std::min_element(ratios.begin(), ratios.end());
    if (bytesPerOp > 1) {
        std::printf("%-36s provider %8.1f MiB/s  raw %8.1f MiB/s  ratio %.2f (lowest round %.2f)\n",
                    name, ra * bytesPerOp / (1 << 20), rb * bytesPerOp / (1 << 20), ratio, worst);
    } else {
        std::printf("%-36s provider %8.0f op/s   raw %8.0f op/s   ratio %.2f (lowest round %.2f)\n",
                    name, ra, rb, ratio, worst);
    }
}

bool check(CK_RV rv, const char* what) {
    if (rv == CKR_OK) return true;
    std::fprintf(stderr, "%s failed: 0x%lx\n", what, static_cast<unsigned long>(rv));
    return false;
}

Bytes bytesOf(const CryptoPP::Integer& i) {
    Bytes out(i.MinEncodedSize());
    i.Encode(out.data(), out.size());
    return out;
}

CK_OBJECT_HANDLE importPrivateKey(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE s,
                                  const CryptoPP::InvertibleRSAFunction& rsa) {
    Bytes n = bytesOf(rsa.GetModulus()), e = bytesOf(rsa.GetPublicExponent()),
          d = bytesOf(rsa.GetPrivateExponent());
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    unsigned char id[] = {'p', 's', 's'};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_KEY_TYPE, &type, sizeof type},
                        {CKA_TOKEN, &yes, sizeof yes},
                        {CKA_ID, id, sizeof id},
                        {CKA_MODULUS, n.data(), n.size()},
                        {CKA_PUBLIC_EXPONENT, e.data(), e.size()},
                        {CKA_PRIVATE_EXPONENT, d.data(), d.size()}};
    CK_OBJECT_HANDLE h = 0;
    return check(f->C_CreateObject(s, t, 7, &h), "C_CreateObject (RSA key)") ? h : 0;
}

// The virtual token used directly: the library instance the provider loaded,
// a connection of its own, and an imported copy of the key.
struct DirectToken {
    CardFunctions zt = {};
    ZT_HANDLE handle = 0;
    char path[kCardPathSize] = {};
    bool ready = false;

    bool open(const std::string& tokenPath, const std::string& pin,
              const CryptoPP::InvertibleRSAFunction& rsa) {
        void* token = dlopen(tokenPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto getList =
            token ? reinterpret_cast<ZT_GetFunctionList_t>(dlsym(token, ZT_GET_FUNCTION_LIST_NAME))
                  : nullptr;
        if (!getList || getList(&zt) != 0 || !zt.ZT_putKeyPair) return false;
        auto bytes = [](const CryptoPP::Integer& i) {
            OrlByteArray out(i.MinEncodedSize());
            i.Encode(out.getContent(), out.getLength());
            return out;
        };
        OrlByteArray n = bytes(rsa.GetModulus()), d = bytes(rsa.GetPrivateExponent()),
                     e = bytes(rsa.GetPublicExponent());
        OrlStringVector readers;
        zt.ZT_open();
        ready = zt.ZT_getSlotList(readers) == 0 && readers.size() > 0 &&
                zt.ZT_connect(readers[0], &handle) == 0 &&
                zt.ZT_verifyPIN(handle, CKU_USER, pin.c_str()) == 0 &&
                zt.ZT_putKeyPair(handle, n, d, e, path) == 0;
        return ready;
    }

    bool apply(OrlByteArray& block) {
        OrlByteArray out;
        return zt.ZT_applyPrivateKey(handle, path, kPrivateKeyRaw, block, out) == 0;
    }

    void close() {
        if (!ready) return;
        if (zt.ZT_deleteObj) zt.ZT_deleteObj(handle, path);
        zt.ZT_disconnect(handle);
        ready = false;
    }
};

int run(const std::string& provider, const std::string& tokenPath, const std::string& pin) {
    void* library = dlopen(provider.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", provider.c_str(), dlerror());
        return 1;
    }
    auto getList =
        reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR f = nullptr;
    if (!getList || !check(getList(&f), "C_GetFunctionList") ||
        !check(f->C_Initialize(nullptr), "C_Initialize"))
        return 1;
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 1;
    CK_SESSION_HANDLE s = 0;
    if (!check(f->C_GetSlotList(CK_TRUE, &slot, &count), "C_GetSlotList") || count == 0 ||
        !check(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s),
               "C_OpenSession") ||
        !check(f->C_Login(s, CKU_USER,
                          reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                          pin.size()),
               "C_Login"))
        return 1;

    // SHA-256 over 1 MiB.
    const size_t size = size_t(1) << 20;
    Bytes data(size, 0x5A), digest(32);
    compare(
        "C_Digest SHA-256, 1 MiB", double(size),
        [&] {
            CK_MECHANISM m = {CKM_SHA256, nullptr, 0};
            CK_ULONG len = digest.size();
            return f->C_DigestInit(s, &m) == CKR_OK &&
                   f->C_Digest(s, data.data(), data.size(), digest.data(), &len) == CKR_OK;
        },
        [&] {
            CryptoPP::SHA256().CalculateDigest(digest.data(), data.data(), data.size());
            return true;
        });

    // PSS signatures against the token's raw private-key operation.
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::InvertibleRSAFunction rsa;
    rsa.Initialize(rng, 2048);
    CK_OBJECT_HANDLE priv = importPrivateKey(f, s, rsa);
    DirectToken token;
    if (priv && token.open(tokenPath, pin, rsa)) {
        const unsigned char msg[] = "benchmark message";
        Bytes sig(512);
        OrlByteArray block(rsa.GetModulus().ByteCount());  // below the modulus
        std::memset(block.getContent() + 1, 0x5C, block.getLength() - 1);
        CK_RSA_PKCS_PSS_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA256, 32};
        compare(
            "C_Sign CKM_SHA256_RSA_PKCS_PSS, 2048", 0,
            [&] {
                CK_MECHANISM m = {CKM_SHA256_RSA_PKCS_PSS, &params, sizeof params};
                CK_ULONG len = sig.size();
                return f->C_SignInit(s, &m, priv) == CKR_OK &&
                       f->C_Sign(s, const_cast<unsigned char*>(msg), sizeof msg, sig.data(),
                                 &len) == CKR_OK;
            },
            [&] { return token.apply(block); });
    } else {
        std::fprintf(stderr, "cannot use the virtual token %s directly\n", tokenPath.c_str());
    }
    token.close();
    if (priv) f->C_DestroyObject(s, priv);
    f->C_CloseSession(s);
    f->C_Finalize(nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string provider = QUILLON_BENCH_PROVIDER, token = QUILLON_BENCH_TOKEN,
                admin = QUILLON_BENCH_ZT_ADMIN, pin = "1234";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--provider") provider = argv[i + 1];
        if (arg == "--token") token = argv[i + 1];
        if (arg == "--zt-admin") admin = argv[i + 1];
        if (arg == "--rounds") g_rounds = std::max(1, std::atoi(argv[i + 1]));
        if (arg == "--slice") g_slice = std::atof(argv[i + 1]);
    }
    if (token.empty() || admin.empty()) {
        std::fprintf(stderr, "no virtual token: pass --token PATH --zt-admin PATH\n");
        return 2;
    }
    char dir[] = "/tmp/quillon-xbench-XXXXXX";
    if (!mkdtemp(dir)) return 2;
    std::string conf = std::string(dir) + "/quillon.conf";
    if (FILE* file = std::fopen(conf.c_str(), "w")) {
        std::fprintf(file, "loglevel=0\nmechanisms=extended\nzt=%s\n", token.c_str());
        std::fclose(file);
    }
    setenv("QUILLON_REGISTRY", conf.c_str(), 1);
    std::string home = std::string(dir) + "/zt";
    setenv("ZT_HOME", home.c_str(), 1);
    std::string make = "'" + admin + "' reader add 'Bench Reader' && '" + admin +
                       "' card new 'Bench Reader' --user-pin " + pin + " > /dev/null";
    int rc = std::system(make.c_str()) == 0 ? run(provider, token, pin) : 2;
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return rc;
}

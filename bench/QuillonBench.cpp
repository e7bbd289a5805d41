// Throughput of the provider against the same work done directly.
//
// The provider is loaded as an application loads it (dlopen, C_GetFunctionList)
// with a configuration that names the virtual token; each case is then run
// twice in the same process: through the provider, and directly with Crypto++
// (or, for signatures, with the virtual token's own private-key call). The
// ratio provider/raw is printed for each case.
//
//   quillon_bench [--provider PATH] [--token PATH] [--zt-admin PATH] [--seconds S]
//
// The virtual token's store is made afresh in a temporary folder: one reader
// with a new card whose user PIN is 1234.
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <dlfcn.h>
#include <unistd.h>

#include "OrlByteArray.h"
#include "OrlStringVector.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CardFunctions.h"
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

double g_seconds = 1.0;

// Operations per second of op over one slice of about `seconds`; 0 when it fails.
double sliceRate(const std::function<bool()>& op, double seconds) {
    long count = 0;
    Clock::time_point start = Clock::now();
    double elapsed;
    do {
        for (int i = 0; i < 4; ++i) {
            if (!op()) return 0;
        }
        count += 4;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return count / elapsed;
}

// Provider and raw counterpart alternate in five slices of about g_seconds / 5,
// so that both meet the same load on shared cores; each keeps its best slice.
void compare(const std::function<bool()>& provider, const std::function<bool()>& raw,
             double& providerRate, double& rawRate) {
    providerRate = rawRate = 0;
    for (int slice = 0; slice < 5; ++slice) {
        double p = sliceRate(provider, g_seconds / 5), r = sliceRate(raw, g_seconds / 5);
        if (p == 0 || r == 0) {
            providerRate = rawRate = 0;
            return;
        }
        if (p > providerRate) providerRate = p;
        if (r > rawRate) rawRate = r;
    }
}

void report(const char* name, double bytesPerOp, double provider, double raw) {
    double ratio = raw > 0 ? provider / raw : 0;
    if (bytesPerOp >= 1024 * 1024) {
        std::printf("%-34s provider %9.1f MiB/s   raw %9.1f MiB/s   ratio %.2f\n", name,
                    provider * bytesPerOp / (1024 * 1024), raw * bytesPerOp / (1024 * 1024), ratio);
    } else {
        std::printf("%-34s provider %9.0f op/s    raw %9.0f op/s    ratio %.2f\n", name, provider,
                    raw, ratio);
    }
}

bool check(CK_RV rv, const char* what) {
    if (rv == CKR_OK) return true;
    std::fprintf(stderr, "%s failed: 0x%lx\n", what, static_cast<unsigned long>(rv));
    return false;
}

struct Provider {
    void* library = nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE session = 0;
};

bool loadProvider(const std::string& path, Provider& p) {
    p.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!p.library) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    auto getList = reinterpret_cast<CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR)>(
        dlsym(p.library, "C_GetFunctionList"));
    return getList && check(getList(&p.f), "C_GetFunctionList") &&
           check(p.f->C_Initialize(nullptr), "C_Initialize");
}

bool openSession(Provider& p, const std::string& pin) {
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    if (!check(p.f->C_GetSlotList(CK_TRUE, slots, &count), "C_GetSlotList")) return false;
    if (count == 0) {
        std::fprintf(stderr, "no token present\n");
        return false;
    }
    if (!check(p.f->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                  &p.session),
               "C_OpenSession"))
        return false;
    if (pin.empty()) return true;
    CK_RV rv =
        p.f->C_Login(p.session, CKU_USER,
                     reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())), pin.size());
    return rv == CKR_USER_ALREADY_LOGGED_IN || check(rv, "C_Login");
}

void benchDigests(Provider& p) {
    for (size_t size : {size_t(1) << 20, size_t(64)}) {
        Bytes data(size, 0x5A), digest(20);
        double provider, raw;
        compare(
            [&] {
                CK_MECHANISM m = {CKM_SHA_1, nullptr, 0};
                CK_ULONG len = digest.size();
                return p.f->C_DigestInit(p.session, &m) == CKR_OK &&
                       p.f->C_Digest(p.session, data.data(), data.size(), digest.data(), &len) ==
                           CKR_OK;
            },
            [&] {
                CryptoPP::SHA1 sha;
                sha.CalculateDigest(digest.data(), data.data(), data.size());
                return true;
            },
            provider, raw);
        report(size > 64 ? "C_Digest SHA-1, 1 MiB" : "C_Digest SHA-1, 64 bytes", double(size),
               provider, raw);
    }
}

void benchAes(Provider& p) {
    Bytes key(16, 0x2B), iv(16, 0x00);
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_AES;
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls},
                           {CKA_KEY_TYPE, &type, sizeof type},
                           {CKA_TOKEN, &no, sizeof no},
                           {CKA_ENCRYPT, &yes, sizeof yes},
                           {CKA_VALUE, key.data(), key.size()}};
    CK_OBJECT_HANDLE hKey = 0;
    if (!check(p.f->C_CreateObject(p.session, tmpl, 5, &hKey), "C_CreateObject (AES key)")) return;

    const size_t size = size_t(1) << 20;
    Bytes in(size, 0x6B), out(size + 512);
    for (bool cbc : {false, true}) {
        double provider, raw;
        compare(
            [&] {
                CK_MECHANISM m = {cbc ? CKM_AES_CBC : CKM_AES_ECB, cbc ? iv.data() : nullptr,
                                  cbc ? iv.size() : 0};
                CK_ULONG len = out.size();
                return p.f->C_EncryptInit(p.session, &m, hKey) == CKR_OK &&
                       p.f->C_Encrypt(p.session, in.data(), in.size(), out.data(), &len) == CKR_OK;
            },
            [&] {
                if (cbc) {
                    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption e(key.data(), key.size(),
                                                                    iv.data());
                    e.ProcessData(out.data(), in.data(), in.size());
                } else {
                    CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption e(key.data(), key.size());
                    e.ProcessData(out.data(), in.data(), in.size());
                }
                return true;
            },
            provider, raw);
        report(cbc ? "C_Encrypt AES-128 CBC, 1 MiB" : "C_Encrypt AES-128 ECB, 1 MiB", double(size),
               provider, raw);
    }
    p.f->C_DestroyObject(p.session, hKey);
}

// Signatures: the provider against the virtual token's own private-key call
// on the same key (the card library loaded on its own after the provider has
// finished with it). Verification: against Crypto++ directly.
CK_OBJECT_HANDLE importKey(Provider& p, const CryptoPP::InvertibleRSAFunction& rsa, bool priv) {
    auto bytes = [](const CryptoPP::Integer& i) {
        Bytes out(i.MinEncodedSize());
        i.Encode(out.data(), out.size());
        return out;
    };
    Bytes n = bytes(rsa.GetModulus()), e = bytes(rsa.GetPublicExponent()),
          d = bytes(rsa.GetPrivateExponent());
    CK_OBJECT_CLASS cls = priv ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    CK_KEY_TYPE type = CKK_RSA;
    CK_BBOOL token = priv ? CK_TRUE : CK_FALSE;
    unsigned char id[] = {'b', 'e', 'n', 'c', 'h'};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_KEY_TYPE, &type, sizeof type},
                        {CKA_TOKEN, &token, sizeof token},
                        {CKA_ID, id, sizeof id},
                        {CKA_MODULUS, n.data(), n.size()},
                        {CKA_PUBLIC_EXPONENT, e.data(), e.size()},
                        {CKA_PRIVATE_EXPONENT, d.data(), d.size()}};
    CK_OBJECT_HANDLE h = 0;
    if (!check(p.f->C_CreateObject(p.session, t, priv ? 7 : 6, &h), "C_CreateObject (RSA key)"))
        return 0;
    return h;
}

// The virtual token used directly: the same library instance the provider
// loaded, a connection of its own, and an imported copy of the key.
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

    // The raw private-key operation on a modulus-length block, as signing sends it.
    bool sign(OrlByteArray& block) {
        OrlByteArray out;
        return zt.ZT_applyPrivateKey(handle, path, kPrivateKeyRaw, block, out) == 0;
    }

    // Leaves the library open: the provider closes it at C_Finalize.
    void close() {
        if (!ready) return;
        if (zt.ZT_deleteObj) zt.ZT_deleteObj(handle, path);
        zt.ZT_disconnect(handle);
        ready = false;
    }
};

// Ends with C_Finalize.
void benchRsa(Provider& p, const std::string& tokenPath, const std::string& pin) {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::InvertibleRSAFunction rsa;
    rsa.Initialize(rng, 2048);
    CK_OBJECT_HANDLE priv = importKey(p, rsa, true), pub = importKey(p, rsa, false);
    DirectToken token;
    if (priv && pub && !token.open(tokenPath, pin, rsa))
        std::fprintf(stderr, "cannot use the virtual token %s directly\n", tokenPath.c_str());
    if (priv && pub && token.ready) {
        const unsigned char msg[] = "benchmark message";
        Bytes sig(512);
        CK_ULONG sigLen = sig.size();
        OrlByteArray block(rsa.GetModulus().ByteCount());  // 00 01 FF ..., below the modulus
        std::memset(block.getContent() + 2, 0xFF, block.getLength() - 40);
        block.getContent()[1] = 0x01;
        double providerSign, rawSign, providerVerify, rawVerify;
        compare(
            [&] {
                CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
                sigLen = sig.size();
                return p.f->C_SignInit(p.session, &m, priv) == CKR_OK &&
                       p.f->C_Sign(p.session, const_cast<unsigned char*>(msg), sizeof msg,
                                   sig.data(), &sigLen) == CKR_OK;
            },
            [&] { return token.sign(block); }, providerSign, rawSign);
        compare(
            [&] {
                CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
                return p.f->C_VerifyInit(p.session, &m, pub) == CKR_OK &&
                       p.f->C_Verify(p.session, const_cast<unsigned char*>(msg), sizeof msg,
                                     sig.data(), sigLen) == CKR_OK;
            },
            [&] {
                CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier v(
                    rsa.GetModulus(), rsa.GetPublicExponent());
                return v.VerifyMessage(msg, sizeof msg, sig.data(), sigLen);
            },
            providerVerify, rawVerify);
        report("C_Sign CKM_SHA1_RSA_PKCS, RSA-2048", 0, providerSign, rawSign);
        report("C_Verify CKM_SHA1_RSA_PKCS, RSA-2048", 0, providerVerify, rawVerify);
    }
    token.close();
    if (priv) p.f->C_DestroyObject(p.session, priv);
    if (pub) p.f->C_DestroyObject(p.session, pub);
    p.f->C_CloseSession(p.session);
    p.f->C_Finalize(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string provider = QUILLON_BENCH_PROVIDER, token = QUILLON_BENCH_TOKEN,
                admin = QUILLON_BENCH_ZT_ADMIN, pin = "1234";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--provider")
            provider = argv[i + 1];
        else if (arg == "--token")
            token = argv[i + 1];
        else if (arg == "--pin")
            pin = argv[i + 1];
        else if (arg == "--seconds")
            g_seconds = std::atof(argv[i + 1]);
    }
    if (token.empty() || admin.empty()) {
        std::fprintf(stderr, "no virtual token: pass --token PATH --zt-admin PATH\n");
        return 2;
    }
    // A configuration of our own, where the provider looks for it first.
    char dir[] = "/tmp/quillon-bench-XXXXXX";
    if (!mkdtemp(dir)) return 2;
    std::string conf = std::string(dir) + "/quillon.conf";
    if (FILE* file = std::fopen(conf.c_str(), "w")) {
        std::fprintf(file, "loglevel=0\nzt=%s\n", token.c_str());
        std::fclose(file);
    }
    setenv("QUILLON_REGISTRY", conf.c_str(), 1);
    std::string home = std::string(dir) + "/zt";
    setenv("ZT_HOME", home.c_str(), 1);
    std::string make = "'" + admin + "' reader add 'Bench Reader' && '" + admin +
                       "' card new 'Bench Reader' --user-pin " + pin + " > /dev/null";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the virtual token's card\n");
        return 2;
    }

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Provider p;
    if (!loadProvider(provider, p)) return 1;
    if (!openSession(p, pin)) {
        p.f->C_Finalize(nullptr);
        return 1;
    }
    benchDigests(p);
    benchAes(p);
    benchRsa(p, token, pin);  // ends with C_Finalize
    std::remove(conf.c_str());
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return 0;
}

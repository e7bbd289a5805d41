// Throughput of the provider against the same work done directly.
//
// The provider is loaded as an application loads it (dlopen, C_GetFunctionList)
// with a configuration that names the virtual token; each case is then run
// in turns in the same process: through the provider, directly with Crypto++
// (or, for signatures, with the virtual token's own private-key call), and
// through SoftHSM when it is installed. The ratios provider/raw and
// provider/SoftHSM are printed for each case.
//
//   quillon_bench [--provider PATH] [--token PATH] [--zt-admin PATH] [--seconds S]
//                 [--softhsm PATH|none] [--only digest|random|session|aes|rsa]
//
// The virtual token's store is made afresh in a temporary folder: one reader
// with a new card whose user PIN is 1234; SoftHSM gets a fresh token there too.
#ifndef CRYPTOPP_ENABLE_NAMESPACE_WEAK
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#endif
#include <cryptopp/aes.h>
#include <cryptopp/md5.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OrlByteArray.h"
#include "OrlStringVector.h"

#include <ctime>
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
#ifndef QUILLON_BENCH_SOFTHSM
#define QUILLON_BENCH_SOFTHSM "/usr/lib/softhsm/libsofthsm2.so"
#endif
#ifndef QUILLON_BENCH_ZT_ADMIN
#define QUILLON_BENCH_ZT_ADMIN ""
#endif

namespace {

using Bytes = std::vector<unsigned char>;

double g_seconds = 1.0;
const char* const kSoftHsmPath = QUILLON_BENCH_SOFTHSM;

constexpr int kSlices = 10;

// Processor time of the calling thread: time the shared machine gives to
// other work while a slice runs does not count against it.
double threadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Operations per second of op over one slice of about `seconds`; 0 when it
// fails. The clock is read once per batch, and batches grow to at least a
// millisecond, so reading it costs nothing next to the operations.
double sliceRate(const std::function<bool()>& op, double seconds) {
    long count = 0, batch = 1;
    double start = threadSeconds(), last = start, now;
    do {
        for (long i = 0; i < batch; ++i) {
            if (!op()) return 0;
        }
        count += batch;
        now = threadSeconds();
        if (now - last < 1e-3) batch *= 2;
        last = now;
    } while (now - start < seconds);
    return count / (now - start);
}

// The contenders (provider, raw counterpart, SoftHSM when loaded) take turns
// in kSlices slices of about g_seconds / kSlices each, so that all meet the
// same load on shared cores; each keeps its best slice. All zero when one fails.
std::vector<double> compare(const std::vector<std::function<bool()>>& ops) {
    std::vector<double> best(ops.size(), 0);
    for (int slice = 0; slice < kSlices; ++slice) {
        for (size_t i = 0; i < ops.size(); ++i) {
            double rate = sliceRate(ops[i], g_seconds / kSlices);
            if (rate == 0) return std::vector<double>(ops.size(), 0);
            if (rate > best[i]) best[i] = rate;
        }
    }
    return best;
}

void compare(const std::function<bool()>& provider, const std::function<bool()>& raw,
             double& providerRate, double& rawRate) {
    std::vector<double> rates = compare({provider, raw});
    providerRate = rates[0];
    rawRate = rates[1];
}

// "-" when a rate is missing (its contender did not run or failed).
std::string figure(double rate, double bytesPerOp) {
    char text[32];
    if (rate <= 0) return "-";
    if (bytesPerOp >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB/s", rate * bytesPerOp / (1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.0f op/s", rate);
    return text;
}

std::string ratio(double a, double b) {
    char text[16];
    if (a <= 0 || b <= 0) return "-";
    std::snprintf(text, sizeof text, "%.2f", a / b);
    return text;
}

// One line per case: provider, raw, provider/raw, and SoftHSM with
// provider/SoftHSM when it ran.
void report(const char* name, double bytesPerOp, double provider, double raw, double softhsm = -1) {
    std::printf("%-36s provider %14s   raw %14s   ratio %4s", name,
                figure(provider, bytesPerOp).c_str(), figure(raw, bytesPerOp).c_str(),
                ratio(provider, raw).c_str());
    if (softhsm >= 0)
        std::printf("   softhsm %14s   ratio %4s", figure(softhsm, bytesPerOp).c_str(),
                    ratio(provider, softhsm).c_str());
    std::printf("\n");
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

// A peer provider (SoftHSM) to run beside ours, when it is installed.
struct Peer {
    Provider p;
    bool ready = false;
};

// SoftHSM with a token store of its own under `dir`: a fresh token with SO
// PIN 12345678 and user PIN `pin`, a read-write session, the user logged in.
bool loadSoftHsm(const std::string& path, const std::string& dir, const std::string& pin,
                 Peer& peer) {
    std::string tokens = dir + "/softhsm", conf = dir + "/softhsm2.conf";
    if (mkdir(tokens.c_str(), 0700) != 0) return false;
    if (FILE* file = std::fopen(conf.c_str(), "w")) {
        std::fprintf(file,
                     "directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n",
                     tokens.c_str());
        std::fclose(file);
    }
    setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    Provider& p = peer.p;
    if (!loadProvider(path, p)) return false;
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    if (!check(p.f->C_GetSlotList(CK_FALSE, slots, &count), "SoftHSM C_GetSlotList") || !count)
        return false;
    std::string so = "12345678";
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, "bench", 5);
    auto text = [](std::string& t) { return reinterpret_cast<CK_UTF8CHAR_PTR>(&t[0]); };
    if (!check(p.f->C_InitToken(slots[0], text(so), so.size(), label), "SoftHSM C_InitToken"))
        return false;
    // The initialised token moves to a slot ID of its own.
    count = 8;
    if (!check(p.f->C_GetSlotList(CK_TRUE, slots, &count), "SoftHSM C_GetSlotList")) return false;
    for (CK_ULONG i = 0; i < count && !p.session; ++i) {
        CK_TOKEN_INFO info;
        if (p.f->C_GetTokenInfo(slots[i], &info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED))
            continue;
        if (!check(p.f->C_OpenSession(slots[i], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                      nullptr, &p.session),
                   "SoftHSM C_OpenSession"))
            return false;
    }
    std::string user = pin;
    peer.ready =
        p.session &&
        check(p.f->C_Login(p.session, CKU_SO, text(so), so.size()), "SoftHSM SO login") &&
        check(p.f->C_InitPIN(p.session, text(user), user.size()), "SoftHSM C_InitPIN") &&
        check(p.f->C_Logout(p.session), "SoftHSM C_Logout") &&
        check(p.f->C_Login(p.session, CKU_USER, text(user), user.size()), "SoftHSM user login");
    return peer.ready;
}

// The provider's (or the peer's) cases, then the raw counterpart last.
std::vector<std::function<bool()>> contenders(Provider& p, Peer& peer,
                                              const std::function<bool(Provider&)>& op,
                                              const std::function<bool()>& raw) {
    std::vector<std::function<bool()>> ops = {[&p, op] { return op(p); }, raw};
    if (peer.ready) ops.push_back([&peer, op] { return op(peer.p); });
    return ops;
}

void reportRates(const char* name, double bytesPerOp, const std::vector<double>& rates) {
    report(name, bytesPerOp, rates[0], rates[1], rates.size() > 2 ? rates[2] : -1);
}

template <typename Hash>
void benchDigest(Provider& p, Peer& peer, CK_MECHANISM_TYPE mechanism, size_t size,
                 const char* name) {
    Bytes data(size, 0x5A), digest(Hash::DIGESTSIZE);
    std::vector<double> rates = compare(contenders(
        p, peer,
        [&](Provider& q) {
            CK_MECHANISM m = {mechanism, nullptr, 0};
            CK_ULONG len = digest.size();
            return q.f->C_DigestInit(q.session, &m) == CKR_OK &&
                   q.f->C_Digest(q.session, data.data(), data.size(), digest.data(), &len) ==
                       CKR_OK;
        },
        [&] {
            Hash hash;
            hash.CalculateDigest(digest.data(), data.data(), data.size());
            return true;
        }));
    reportRates(name, double(size), rates);
}

void benchDigests(Provider& p, Peer& peer) {
    benchDigest<CryptoPP::SHA1>(p, peer, CKM_SHA_1, size_t(1) << 20, "C_Digest SHA-1, 1 MiB");
    benchDigest<CryptoPP::SHA1>(p, peer, CKM_SHA_1, 64, "C_Digest SHA-1, 64 bytes");
    benchDigest<CryptoPP::Weak1::MD5>(p, peer, CKM_MD5, 64, "C_Digest MD5, 64 bytes");
}

// Random bytes; the raw counterpart is an application's own Crypto++
// generator (AutoSeededRandomPool, made once).
void benchRandom(Provider& p, Peer& peer) {
    CryptoPP::AutoSeededRandomPool pool;
    for (size_t size : {size_t(1) << 20, size_t(16)}) {
        Bytes out(size);
        std::vector<double> rates = compare(contenders(
            p, peer,
            [&](Provider& q) {
                return q.f->C_GenerateRandom(q.session, out.data(), out.size()) == CKR_OK;
            },
            [&] {
                pool.GenerateBlock(out.data(), out.size());
                return true;
            }));
        reportRates(size > 16 ? "C_GenerateRandom, 1 MiB" : "C_GenerateRandom, 16 bytes",
                    double(size), rates);
    }
}

// Opening and closing a session: no raw counterpart.
void benchSessions(Provider& p, Peer& peer) {
    auto cycle = [](Provider& q) {
        CK_SESSION_INFO info;
        CK_SESSION_HANDLE h = 0;
        return q.f->C_GetSessionInfo(q.session, &info) == CKR_OK &&
               q.f->C_OpenSession(info.slotID, CKF_SERIAL_SESSION, nullptr, nullptr, &h) ==
                   CKR_OK &&
               q.f->C_CloseSession(h) == CKR_OK;
    };
    std::vector<std::function<bool()>> ops = {[&] { return cycle(p); }};
    if (peer.ready) ops.push_back([&] { return cycle(peer.p); });
    std::vector<double> rates = compare(ops);
    report("C_OpenSession + C_CloseSession", 0, rates[0], -1, ops.size() > 1 ? rates[1] : -1);
}

CK_OBJECT_HANDLE createAesKey(Provider& p, Bytes& key) {
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_AES;
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls},
                           {CKA_KEY_TYPE, &type, sizeof type},
                           {CKA_TOKEN, &no, sizeof no},
                           {CKA_ENCRYPT, &yes, sizeof yes},
                           {CKA_VALUE, key.data(), key.size()}};
    CK_OBJECT_HANDLE hKey = 0;
    if (!check(p.f->C_CreateObject(p.session, tmpl, 5, &hKey), "C_CreateObject (AES key)"))
        return 0;
    return hKey;
}

void benchAes(Provider& p, Peer& peer) {
    Bytes key(16, 0x2B), iv(16, 0x00);
    CK_OBJECT_HANDLE hKey = createAesKey(p, key);
    if (!hKey) return;
    CK_OBJECT_HANDLE hPeerKey = peer.ready ? createAesKey(peer.p, key) : 0;

    const size_t size = size_t(1) << 20;
    Bytes in(size, 0x6B), out(size + 512);
    for (bool cbc : {false, true}) {
        std::vector<double> rates = compare(contenders(
            p, peer,
            [&](Provider& q) {
                CK_MECHANISM m = {cbc ? CKM_AES_CBC : CKM_AES_ECB, cbc ? iv.data() : nullptr,
                                  cbc ? iv.size() : 0};
                CK_ULONG len = out.size();
                CK_OBJECT_HANDLE h = &q == &p ? hKey : hPeerKey;
                return q.f->C_EncryptInit(q.session, &m, h) == CKR_OK &&
                       q.f->C_Encrypt(q.session, in.data(), in.size(), out.data(), &len) == CKR_OK;
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
            }));
        reportRates(cbc ? "C_Encrypt AES-128 CBC, 1 MiB" : "C_Encrypt AES-128 ECB, 1 MiB",
                    double(size), rates);
    }
    p.f->C_DestroyObject(p.session, hKey);
    if (hPeerKey) peer.p.f->C_DestroyObject(peer.p.session, hPeerKey);
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
                admin = QUILLON_BENCH_ZT_ADMIN, pin = "1234", softhsm = kSoftHsmPath, only;
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
        else if (arg == "--softhsm")
            softhsm = argv[i + 1];
        else if (arg == "--only")
            only = argv[i + 1];
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
    Peer peer;
    if (softhsm != "none" && access(softhsm.c_str(), R_OK) == 0 &&
        !loadSoftHsm(softhsm, dir, pin, peer))
        std::fprintf(stderr, "SoftHSM (%s) left out\n", softhsm.c_str());
    auto wanted = [&](const char* group) { return only.empty() || only == group; };
    if (wanted("digest")) benchDigests(p, peer);
    if (wanted("random")) benchRandom(p, peer);
    if (wanted("session")) benchSessions(p, peer);
    if (wanted("aes")) benchAes(p, peer);
    if (wanted("rsa")) {
        benchRsa(p, token, pin);  // ends with C_Finalize
    } else {
        p.f->C_CloseSession(p.session);
        p.f->C_Finalize(nullptr);
    }
    if (peer.ready) {
        peer.p.f->C_CloseSession(peer.p.session);
        peer.p.f->C_Finalize(nullptr);
    }
    std::remove(conf.c_str());
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return 0;
}

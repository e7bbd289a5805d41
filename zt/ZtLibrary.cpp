// libzt, the virtual token: a card-access library whose cards live in a
// folder tree (ZtStore.h). Statuses are listed in ZtStatus.h.
//
// Locking: g_state.mutex guards the connection table, the key cache and the
// random generator, and is held through every per-card operation; inside it
// the reader's file lock serialises the operation with other processes.
// g_state.homeMutex guards only the store location. ZT_isInserted,
// ZT_getSlotList and ZT_getTokenInfo read single files that are only ever
// replaced whole, so they never wait for a card operation.
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>
#include <cryptopp/secblock.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "CardFunctions.h"
#include "ZtStatus.h"
#include "ZtStore.h"
#include "ZtWipe.h"

namespace zt {
namespace {

constexpr size_t kMaxBlob = 16u << 20;
constexpr unsigned kMinGeneratedBits = 1024;
constexpr unsigned kMinImportedBits = 512;
constexpr unsigned kMaxKeyBits = 4096;
constexpr size_t kMaxCachedKeys = 64;
constexpr uint32_t kSecurityOfficer = 0;  // CKU_SO

struct Connection {
    std::string reader;
    std::string insertion;  // the insertion this connection belongs to
    bool userVerified = false;
    bool soVerified = false;
};

typedef std::shared_ptr<const CryptoPP::InvertibleRSAFunction> KeyPtr;

struct CachedKey {
    os::FileStamp stamp;
    KeyPtr key;
};

// Set when g_state is destroyed at process exit. A provider whose application
// never called C_Finalize finalises from its own unload hook, which can run
// after this library's static destructors; every entry then answers a status
// instead of touching freed state. Trivially destructible, so it stays
// readable to the end.
bool g_stateGone = false;

struct State {
    ~State() { g_stateGone = true; }

    std::mutex homeMutex;
    std::string home;  // resolved by ZT_open, or by the first call without it
    bool homeResolved = false;

    std::mutex mutex;
    std::map<ZT_HANDLE, Connection> connections;
    ZT_HANDLE nextHandle = 1;
    std::map<std::string, CachedKey> keys;
    CryptoPP::AutoSeededRandomPool rng;
};

State g_state;

// The store location; `reset` makes it be looked up again.
std::string home(bool reset = false) {
    std::lock_guard<std::mutex> guard(g_state.homeMutex);
    if (reset || !g_state.homeResolved) {
        g_state.home = os::storeHome();
        g_state.homeResolved = true;
    }
    return g_state.home;
}

// Length of a NUL-terminated text, or `limit` when no NUL comes before it.
size_t boundedLength(const char* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return n;
}

// A caller's text of at most `max` bytes.
bool textArgument(const char* text, size_t max, std::string& out) {
    if (!text) return false;
    size_t n = boundedLength(text, max + 1);
    if (n > max) return false;
    out.assign(text, n);
    return true;
}

// PINs are 1 to 255 bytes; a null PIN is refused.
bool pinArgument(const char* pin, std::string& out) {
    return textArgument(pin, kMaxPinLength, out) && !out.empty();
}

bool pathArgument(const char* path, std::string& out) {
    return textArgument(path, kCardPathSize - 1, out);
}

bool decimalName(const char* digits) {
    size_t n = std::strlen(digits);
    if (n == 0 || n > 9 || digits[0] == '0') return false;
    for (size_t i = 0; i < n; ++i)
        if (digits[i] < '0' || digits[i] > '9') return false;
    return true;
}

// Stored values are named "v1", "v2" …; key pairs "1", "2" ….
bool isValueName(const std::string& p) {
    return p.size() > 1 && p[0] == 'v' && decimalName(p.c_str() + 1);
}
bool isKeyName(const std::string& p) {
    return decimalName(p.c_str());
}

bool isPrivateClass(uint32_t accessClass) {
    return accessClass == kAccessPrivateData || accessClass == kAccessSecretKey;
}

// Copies a text into a caller's 256-byte buffer, cut to fit with its terminator.
void writeText(char* buffer, const std::string& text) {
    std::snprintf(buffer, kCardPathSize, "%s", text.c_str());
}

void appendBytes(OrlByteArray& out, const std::string& bytes) {
    if (!bytes.empty())
        out.append(reinterpret_cast<const unsigned char*>(bytes.data()),
                   static_cast<unsigned int>(bytes.size()));
}

// An exact-size copy (no leftover buffers from growing); the caller wipes it.
std::string bytesOf(const OrlByteArray& a) {
    return std::string(reinterpret_cast<const char*>(a.getContent()), a.getLength());
}

// Any exception becomes a status: nothing escapes into the caller.
template <typename F>
ZT_STATUS guarded(F&& work) {
    if (g_stateGone) return kInternalError;
    try {
        return work();
    } catch (...) {
        return kInternalError;
    }
}

// Runs `work(connection, files)` under the mutex and the reader's file lock,
// after checking that the connection's card is still the one in the reader.
template <typename F>
ZT_STATUS withCard(ZT_HANDLE handle, F&& work) {
    return guarded([&]() -> ZT_STATUS {
        std::lock_guard<std::mutex> guard(g_state.mutex);
        auto it = g_state.connections.find(handle);
        if (it == g_state.connections.end()) return kBadHandle;
        Connection& connection = it->second;
        CardFiles files(home(), connection.reader);
        os::FileLock lock;
        if (!files.lock(lock)) return kNoCard;
        std::string insertion;
        if (files.presence(&insertion) != Presence::Inserted || insertion != connection.insertion)
            return kNoCard;
        return work(connection, files);
    });
}

// A stored value: access class, written flag, bytes.
// Secret keys and private data pass through here: the bytes are wiped.
struct Value {
    Value() = default;
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    ~Value() { wipe(bytes); }

    uint32_t accessClass = 0;
    bool written = false;
    std::string bytes;
};

ZT_STATUS loadValue(const CardFiles& files, const std::string& name, Value& value) {
    std::string raw;
    WipeOnExit wipeRaw(raw);
    switch (os::readFile(files.valuePath(name), raw)) {
        case os::ReadResult::Missing:
            return kUnknownPath;
        case os::ReadResult::Failed:
            return kStoreError;
        case os::ReadResult::Ok:
            break;
    }
    if (raw.size() < 2 || static_cast<unsigned char>(raw[0]) > kAccessSecretKey || raw[1] > 1)
        return kStoreError;
    value.accessClass = static_cast<unsigned char>(raw[0]);
    value.written = raw[1] == 1;
    wipe(value.bytes);
    value.bytes.assign(raw, 2, std::string::npos);
    return kOk;
}

ZT_STATUS saveValue(const CardFiles& files, const std::string& name, const Value& value) {
    std::string raw;
    WipeOnExit wipeRaw(raw);
    raw.reserve(value.bytes.size() + 3);
    raw += static_cast<char>(value.accessClass);
    raw += static_cast<char>(value.written ? 1 : 0);
    raw += value.bytes;
    return os::writeFileAtomic(files.valuePath(name), raw) ? kOk : kStoreError;
}

std::string cacheKey(const Connection& connection, const CardFiles& files,
                     const std::string& name) {
    return connection.insertion + "|" + files.keyPath(name);
}

// Parsed keys are cached; the file's stamp tells when another process changed it.
// Caller holds g_state.mutex.
ZT_STATUS loadKey(const Connection& connection, const CardFiles& files, const std::string& name,
                  KeyPtr& key) {
    std::string path = files.keyPath(name);
    os::FileStamp stamp;
    if (!os::fileStamp(path, stamp)) return kUnknownPath;
    std::string slot = cacheKey(connection, files, name);
    auto it = g_state.keys.find(slot);
    if (it != g_state.keys.end() && it->second.stamp == stamp) {
        key = it->second.key;
        return kOk;
    }
    std::string der;
    WipeOnExit wipeDer(der);
    os::ReadResult r = os::readFile(path, der);
    if (r == os::ReadResult::Missing) return kUnknownPath;
    if (r != os::ReadResult::Ok) return kStoreError;
    auto parsed = std::make_shared<CryptoPP::InvertibleRSAFunction>();
    try {
        CryptoPP::StringSource source(der, true);
        parsed->BERDecode(source);
    } catch (const CryptoPP::Exception&) {
        return kStoreError;
    }
    if (g_state.keys.size() >= kMaxCachedKeys) g_state.keys.clear();
    g_state.keys[slot] = CachedKey{stamp, parsed};
    key = parsed;
    return kOk;
}

// Stores a new key pair under the next key number and writes its path.
ZT_STATUS storeKey(const Connection& connection, const CardFiles& files,
                   const std::shared_ptr<CryptoPP::InvertibleRSAFunction>& key, char* path) {
    uint32_t number = 0;
    if (!files.takeNumber("key", number)) return kStoreError;
    std::string name = std::to_string(number);
    // Encoded into wiping buffers, never into a growing string.
    CryptoPP::ByteQueue queue;
    key->DEREncode(queue);
    CryptoPP::SecByteBlock der(static_cast<size_t>(queue.MaxRetrievable()));
    queue.Get(der, der.size());
    if (!os::writeFileAtomic(files.keyPath(name), der.data(), der.size())) return kStoreError;
    os::FileStamp stamp;
    if (os::fileStamp(files.keyPath(name), stamp)) {
        if (g_state.keys.size() >= kMaxCachedKeys) g_state.keys.clear();
        g_state.keys[cacheKey(connection, files, name)] = CachedKey{stamp, key};
    }
    writeText(path, name);
    return kOk;
}

// Removes PKCS#1 v1.5 type 2 padding: 00 02 PS(at least 8 non-zero) 00 M.
bool unpadType2(const std::string& block, std::string& message) {
    if (block.size() < 11 || block[0] != 0 || block[1] != 2) return false;
    size_t zero = block.find('\0', 2);
    if (zero == std::string::npos || zero < 10) return false;
    message = block.substr(zero + 1);
    return true;
}

// ------------------------------------------------------------------ entries

ZT_STATUS ztConnect(const char* readerName, ZT_HANDLE* handle) {
    std::string reader;
    if (!handle || !textArgument(readerName, kCardPathSize - 1, reader)) return kBadArguments;
    if (!validReaderName(reader)) return kUnknownReader;
    return guarded([&]() -> ZT_STATUS {
        std::lock_guard<std::mutex> guard(g_state.mutex);
        CardFiles files(home(), reader);
        Connection connection;
        // Opening a reader clears what killed writers left there; every
        // writer holds this lock, so none is at work now.
        {
            os::FileLock lock;
            if (files.lock(lock)) files.removeTemporaries();
        }
        switch (files.presence(&connection.insertion)) {
            case Presence::NoReader:
                return kUnknownReader;
            case Presence::Inserted:
                break;
            default:
                return kNoCard;
        }
        connection.reader = reader;
        ZT_HANDLE h = g_state.nextHandle++;
        g_state.connections[h] = connection;
        *handle = h;
        return kOk;
    });
}

ZT_STATUS ztDisconnect(ZT_HANDLE handle) {
    return guarded([&]() -> ZT_STATUS {
        std::lock_guard<std::mutex> guard(g_state.mutex);
        return g_state.connections.erase(handle) ? kOk : kBadHandle;
    });
}

ZT_STATUS ztVerifyPIN(ZT_HANDLE handle, uint32_t userType, const char* pin) {
    std::string text;
    WipeOnExit wipePin(text);
    if (!pinArgument(pin, text)) return kBadArguments;
    bool so = userType == kSecurityOfficer;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        Pins pins;
        if (!files.loadPins(pins)) return kStoreError;
        PinRecord& record = so ? pins.so : pins.user;
        bool& verified = so ? c.soVerified : c.userVerified;
        verified = false;
        if (record.blocked()) return kPinBlocked;
        if (record.matches(text)) {
            if (record.tries != record.maxTries) {
                record.tries = record.maxTries;
                if (!files.savePins(pins)) return kStoreError;
            }
            verified = true;
            return kOk;
        }
        --record.tries;
        if (!files.savePins(pins)) return kStoreError;
        return kPinWrongBase | record.tries;
    });
}

ZT_STATUS ztChangePIN(ZT_HANDLE handle, uint32_t userType, const char* newPin) {
    std::string text;
    WipeOnExit wipePin(text);
    if (!pinArgument(newPin, text)) return kBadArguments;
    bool so = userType == kSecurityOfficer;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        Pins pins;
        if (!files.loadPins(pins)) return kStoreError;
        PinRecord& record = so ? pins.so : pins.user;
        if (record.blocked()) return kPinBlocked;
        if (!(so ? c.soVerified : c.userVerified)) return kNotVerified;
        record.set(text);
        return files.savePins(pins) ? kOk : kStoreError;
    });
}

ZT_STATUS ztInitPIN(ZT_HANDLE handle, const char* newPin) {
    std::string text;
    WipeOnExit wipePin(text);
    if (!pinArgument(newPin, text)) return kBadArguments;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        if (!c.soVerified) return kNotVerified;
        Pins pins;
        if (!files.loadPins(pins)) return kStoreError;
        pins.user.set(text);
        return files.savePins(pins) ? kOk : kStoreError;
    });
}

// Stores bytes at an allocated value (ZT_writeObj, and ZT_addObj with data).
ZT_STATUS storeValueBytes(ZT_HANDLE handle, const std::string& name, uint32_t accessClass,
                          const OrlByteArray& data) {
    if (accessClass > kAccessSecretKey || data.getLength() > kMaxBlob) return kBadArguments;
    if (!isValueName(name)) return kUnknownPath;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        Value value;
        ZT_STATUS st = loadValue(files, name, value);
        if (st != kOk) return st;
        if ((isPrivateClass(value.accessClass) || isPrivateClass(accessClass)) && !c.userVerified)
            return kNotVerified;
        value.accessClass = accessClass;
        value.written = true;
        wipe(value.bytes);
        value.bytes = bytesOf(data);
        return saveValue(files, name, value);
    });
}

ZT_STATUS ztWriteObj(ZT_HANDLE handle, const char* path, uint32_t accessClass, OrlByteArray& data) {
    std::string name;
    if (!pathArgument(path, name)) return kBadArguments;
    return storeValueBytes(handle, name, accessClass, data);
}

ZT_STATUS ztReadObj(ZT_HANDLE handle, const char* path, uint32_t accessClass, OrlByteArray& out) {
    std::string name;
    if (!pathArgument(path, name) || accessClass > kAccessSecretKey) return kBadArguments;
    if (!isValueName(name)) return kUnknownPath;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        Value value;
        ZT_STATUS st = loadValue(files, name, value);
        if (st != kOk) return st;
        if ((isPrivateClass(value.accessClass) || isPrivateClass(accessClass)) && !c.userVerified)
            return kNotVerified;
        if (!value.written) return kEmptyObject;
        appendBytes(out, value.bytes);
        return kOk;
    });
}

ZT_STATUS ztAddObj(ZT_HANDLE handle, OrlByteArray& data, uint32_t accessClass, char* path) {
    if (!path || accessClass > kAccessSecretKey) return kBadArguments;
    if (data.getLength() > 0) {
        std::string name;
        if (!pathArgument(path, name)) return kBadArguments;
        return storeValueBytes(handle, name, accessClass, data);
    }
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        if (isPrivateClass(accessClass) && !c.userVerified) return kNotVerified;
        uint32_t number = 0;
        if (!files.takeNumber("value", number)) return kStoreError;
        std::string name = "v" + std::to_string(number);
        Value value;
        value.accessClass = accessClass;
        ZT_STATUS st = saveValue(files, name, value);
        if (st == kOk) writeText(path, name);
        return st;
    });
}

ZT_STATUS ztDeleteObj(ZT_HANDLE handle, const char* path) {
    std::string name;
    if (!pathArgument(path, name)) return kBadArguments;
    if (!isValueName(name) && !isKeyName(name)) return kUnknownPath;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        if (isKeyName(name)) {
            if (!os::isFile(files.keyPath(name))) return kUnknownPath;
            if (!c.userVerified) return kNotVerified;
            g_state.keys.erase(cacheKey(c, files, name));
            return os::removeFile(files.keyPath(name)) ? kOk : kStoreError;
        }
        Value value;
        ZT_STATUS st = loadValue(files, name, value);
        if (st != kOk) return st;
        if (isPrivateClass(value.accessClass) && !c.userVerified) return kNotVerified;
        return os::removeFile(files.valuePath(name)) ? kOk : kStoreError;
    });
}

ZT_STATUS ztGetObjectTbl(ZT_HANDLE handle, OrlByteArray& out) {
    return withCard(handle, [&](Connection&, const CardFiles& files) -> ZT_STATUS {
        std::string blob;
        WipeOnExit wipeBlob(blob);
        switch (os::readFile(files.directoryPath(), blob)) {
            case os::ReadResult::Missing:
                return kNoDirectory;
            case os::ReadResult::Failed:
                return kStoreError;
            case os::ReadResult::Ok:
                break;
        }
        appendBytes(out, blob);
        return kOk;
    });
}

ZT_STATUS ztPutObjectTbl(ZT_HANDLE handle, OrlByteArray& directory) {
    if (directory.getLength() > kMaxBlob) return kBadArguments;
    return withCard(handle, [&](Connection&, const CardFiles& files) -> ZT_STATUS {
        return os::writeFileAtomic(files.directoryPath(), directory.getContent(),
                                   directory.getLength())
                   ? kOk
                   : kStoreError;
    });
}

ZT_STATUS ztApplyPrivateKey(ZT_HANDLE handle, const char* path, unsigned char mode,
                            OrlByteArray& in, OrlByteArray& out) {
    std::string name;
    if (!pathArgument(path, name) || (mode != kPrivateKeyRaw && mode != kPrivateKeyDecryptPkcs1))
        return kBadArguments;
    if (!isKeyName(name)) return kUnknownPath;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        KeyPtr key;
        ZT_STATUS st = loadKey(c, files, name, key);
        if (st != kOk) return st;
        if (!c.userVerified) return kNotVerified;
        const CryptoPP::Integer& n = key->GetModulus();
        size_t k = n.ByteCount();
        if (in.getLength() == 0 || in.getLength() > k) return kWrongData;
        CryptoPP::Integer x(in.getContent(), in.getLength());
        if (x >= n) return kWrongData;
        CryptoPP::Integer y = key->CalculateInverse(g_state.rng, x);
        std::string block(k, '\0');
        std::string message;
        WipeOnExit wipeResults(block, message);
        y.Encode(reinterpret_cast<CryptoPP::byte*>(&block[0]), k);
        if (mode == kPrivateKeyRaw) {
            appendBytes(out, block);
            return kOk;
        }
        if (!unpadType2(block, message)) return kWrongData;
        appendBytes(out, message);
        return kOk;
    });
}

ZT_STATUS ztGenKeyPair(ZT_HANDLE handle, uint32_t modulusBits, OrlByteArray* publicExponent,
                       char* path) {
    if (!path || modulusBits < kMinGeneratedBits || modulusBits > kMaxKeyBits) return kBadArguments;
    CryptoPP::Integer e(65537);
    if (publicExponent && publicExponent->getLength() > 0) {
        if (publicExponent->getLength() > 8) return kBadArguments;
        e = CryptoPP::Integer(publicExponent->getContent(), publicExponent->getLength());
        if (e < 3 || e.IsEven()) return kBadArguments;
    }
    // Check the connection first, then generate without holding any lock.
    ZT_STATUS st = withCard(handle, [](Connection&, const CardFiles&) -> ZT_STATUS { return kOk; });
    if (st != kOk) return st;
    auto key = std::make_shared<CryptoPP::InvertibleRSAFunction>();
    st = guarded([&]() -> ZT_STATUS {
        CryptoPP::AutoSeededRandomPool rng;
        key->Initialize(rng, modulusBits, e);
        return kOk;
    });
    if (st != kOk) return st;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        return storeKey(c, files, key, path);
    });
}

ZT_STATUS ztGetSlotList(OrlStringVector& readers) {
    return guarded([&]() -> ZT_STATUS {
        std::string h = home();
        if (h.empty()) return kStoreError;
        for (const auto& name : listReaders(h)) readers.addElement(name.c_str());
        return kOk;
    });
}

ZT_STATUS presenceStatus(Presence p) {
    switch (p) {
        case Presence::Inserted:
            return kOk;
        case Presence::NoReader:
            return kUnknownReader;
        default:
            return kNoCard;
    }
}

ZT_STATUS ztIsInserted(const char* readerName) {
    std::string reader;
    if (!textArgument(readerName, kCardPathSize - 1, reader)) return kBadArguments;
    if (!validReaderName(reader)) return kUnknownReader;
    return guarded(
        [&]() -> ZT_STATUS { return presenceStatus(CardFiles(home(), reader).presence()); });
}

ZT_STATUS ztGetTokenInfo(const char* readerName, char* serialNumber, char* label,
                         char* manufacturer, char* model) {
    std::string reader;
    if (!serialNumber || !label || !manufacturer || !model ||
        !textArgument(readerName, kCardPathSize - 1, reader))
        return kBadArguments;
    if (!validReaderName(reader)) return kUnknownReader;
    return guarded([&]() -> ZT_STATUS {
        CardFiles files(home(), reader);
        ZT_STATUS st = presenceStatus(files.presence());
        if (st != kOk) return st;
        TokenInfo info;
        if (!files.loadInfo(info)) return kStoreError;
        writeText(serialNumber, info.serial);
        writeText(label, info.label);
        writeText(manufacturer, info.manufacturer);
        writeText(model, info.model);
        return kOk;
    });
}

ZT_STATUS ztGetPublicKey(ZT_HANDLE handle, const char* path, OrlByteArray& out) {
    std::string name;
    if (!pathArgument(path, name)) return kBadArguments;
    if (!isKeyName(name)) return kUnknownPath;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        KeyPtr key;
        ZT_STATUS st = loadKey(c, files, name, key);
        if (st != kOk) return st;
        CryptoPP::RSAFunction publicKey;
        publicKey.Initialize(key->GetModulus(), key->GetPublicExponent());
        std::string der;
        CryptoPP::StringSink sink(der);
        publicKey.DEREncode(sink);  // X.509 SubjectPublicKeyInfo
        appendBytes(out, der);
        return kOk;
    });
}

ZT_STATUS ztPutKeyPair(ZT_HANDLE handle, OrlByteArray& modulus, OrlByteArray& privateExponent,
                       OrlByteArray& publicExponent, char* path) {
    if (!path || modulus.getLength() == 0 || privateExponent.getLength() == 0 ||
        publicExponent.getLength() == 0 || publicExponent.getLength() > 8)
        return kBadArguments;
    CryptoPP::Integer n(modulus.getContent(), modulus.getLength());
    CryptoPP::Integer d(privateExponent.getContent(), privateExponent.getLength());
    CryptoPP::Integer e(publicExponent.getContent(), publicExponent.getLength());
    if (n.BitCount() < kMinImportedBits || n.BitCount() > kMaxKeyBits) return kBadArguments;
    auto key = std::make_shared<CryptoPP::InvertibleRSAFunction>();
    ZT_STATUS st = guarded([&]() -> ZT_STATUS {
        try {
            // Recovers the primes from (n, e, d), so the key works with CRT.
            key->Initialize(n, e, d);
            CryptoPP::AutoSeededRandomPool rng;
            return key->Validate(rng, 1) ? kOk : kWrongData;
        } catch (const CryptoPP::Exception&) {
            return kWrongData;
        }
    });
    if (st != kOk) return st;
    return withCard(handle, [&](Connection& c, const CardFiles& files) -> ZT_STATUS {
        return storeKey(c, files, key, path);
    });
}

ZT_STATUS ztOpen() {
    return guarded([]() -> ZT_STATUS { return home(true).empty() ? kStoreError : kOk; });
}

ZT_STATUS ztClose() {
    return guarded([]() -> ZT_STATUS {
        std::lock_guard<std::mutex> guard(g_state.mutex);
        g_state.connections.clear();
        g_state.keys.clear();
        std::lock_guard<std::mutex> homeGuard(g_state.homeMutex);
        g_state.homeResolved = false;
        return kOk;
    });
}

}  // namespace
}  // namespace zt

#ifdef _WIN32
#define ZT_EXPORT __declspec(dllexport)
#else
#define ZT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" ZT_EXPORT ZT_STATUS GetFunctionList(CardFunctions* table) {
    if (!table) return zt::kBadArguments;
    std::memset(table, 0, sizeof(*table));
    table->ZT_connect = zt::ztConnect;
    table->ZT_disconnect = zt::ztDisconnect;
    table->ZT_verifyPIN = zt::ztVerifyPIN;
    table->ZT_changePIN = zt::ztChangePIN;
    table->ZT_initPIN = zt::ztInitPIN;
    table->ZT_writeObj = zt::ztWriteObj;
    table->ZT_readObj = zt::ztReadObj;
    table->ZT_addObj = zt::ztAddObj;
    table->ZT_deleteObj = zt::ztDeleteObj;
    table->ZT_getObjectTbl = zt::ztGetObjectTbl;
    table->ZT_putObjectTbl = zt::ztPutObjectTbl;
    table->ZT_applyPrivateKey = zt::ztApplyPrivateKey;
    table->ZT_genKeyPair = zt::ztGenKeyPair;
    table->ZT_getSlotList = zt::ztGetSlotList;
    table->ZT_isInserted = zt::ztIsInserted;
    table->ZT_getTokenInfo = zt::ztGetTokenInfo;
    table->ZT_getPublicKey = zt::ztGetPublicKey;
    table->ZT_putKeyPair = zt::ztPutKeyPair;
    table->ZT_open = zt::ztOpen;
    table->ZT_close = zt::ztClose;
    return zt::kOk;
}

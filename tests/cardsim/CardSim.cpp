#include "CardSim.h"

#include <cryptopp/filters.h>
#include <cryptopp/integer.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct StoredValue {
    std::vector<uint8_t> bytes;
    uint32_t accessClass = 0;
    bool written = false;
};

struct Card {
    std::string serial = "SIM0001", label = "Sim Token", manufacturer = "Quillon Tests",
                model = "CardSim";
    std::map<uint32_t, std::string> pins{{1, "1234"}, {0, "87654321"}};
    std::map<uint32_t, int> tries{{1, 3}, {0, 3}};
    bool hasDirectory = false;
    std::vector<uint8_t> directory;
    std::map<std::string, StoredValue> values;
    std::map<std::string, std::shared_ptr<CryptoPP::InvertibleRSAFunction>> keys;
    unsigned nextPath = 1;
    std::string keyPathPrefix;  // put in front of the number of each new key pair
};

struct Reader {
    std::string name;
    bool hasCard = false;
    Card card;
};

struct Connection {
    std::string reader;
    uint32_t verified = 0xFFFFFFFFu;
};

struct Script {
    uint32_t status = 0;
    int times = 0;  // < 0: forever
    int throws = 0;
};

std::recursive_mutex s_mutex;
std::vector<Reader> s_readers;
std::map<uint64_t, Connection> s_connections;
uint64_t s_nextHandle = 0x1000;
std::map<int, Script> s_scripts;
std::vector<CardSimCall> s_calls;
uint32_t s_nullMask = 0;

Reader* findReader(const std::string& name) {
    for (auto& r : s_readers)
        if (r.name == name) return &r;
    return nullptr;
}

// The card behind a connection, or null when the card has gone.
Card* cardOf(uint64_t handle, Connection** connection = nullptr) {
    auto it = s_connections.find(handle);
    if (it == s_connections.end()) return nullptr;
    Reader* r = findReader(it->second.reader);
    if (!r || !r->hasCard) return nullptr;
    if (connection) *connection = &it->second;
    return &r->card;
}

std::vector<uint8_t> bytesOf(const OrlByteArray& a) {
    return std::vector<uint8_t>(a.getContent(), a.getContent() + a.getLength());
}

void record(CardSimCall call) {
    s_calls.push_back(std::move(call));
}

// True when a script answers this call instead of the card; sets status.
bool scripted(int entry, uint32_t* status) {
    auto it = s_scripts.find(entry);
    if (it == s_scripts.end()) return false;
    Script& s = it->second;
    if (s.throws > 0) {
        --s.throws;
        throw entry;
    }
    if (s.times == 0) return false;
    if (s.times > 0) --s.times;
    *status = s.status;
    return true;
}

CryptoPP::Integer integerOf(const OrlByteArray& a) {
    return CryptoPP::Integer(a.getContent(), a.getLength());
}

void copyText(char* out, const std::string& text) {
    size_t n = std::min<size_t>(text.size(), kCardPathSize - 1);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
}

// Records the call; true when a script answers it instead of the card.
bool intercepted(CardSimCall call, uint32_t* status) {
    int entry = call.entry;
    record(std::move(call));
    return scripted(entry, status);
}

// ---- Verification tied to the connection (cardsim_tieVerificationToConnection)

bool s_tiedVerification = false;

bool isPrivateClass(uint32_t accessClass) {
    return accessClass == kAccessPrivateData || accessClass == kAccessSecretKey;
}

// True when the card refuses: tied verification is on and the connection has
// not verified the PIN of `who` (1 user, 0 SO).
bool refusesUnverified(const Connection* c, uint32_t who) {
    return s_tiedVerification && (!c || c->verified != who);
}

// A failed PIN try ends what the connection had verified.
void failedTry(Connection* c) {
    if (s_tiedVerification && c) c->verified = 0xFFFFFFFFu;
}

// ----

ZT_STATUS simConnect(const char* reader, ZT_HANDLE* handle) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtConnect;
    call.text = reader ? reader : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    if (!reader || !handle) return kSimBadArguments;
    Reader* r = findReader(reader);
    if (!r || !r->hasCard) return kSimNoCard;
    *handle = s_nextHandle++;
    s_connections[*handle] = Connection{reader};
    return 0;
}

ZT_STATUS simDisconnect(ZT_HANDLE handle) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtDisconnect;
    call.handle = handle;
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    return s_connections.erase(handle) ? 0 : kSimBadHandle;
}

uint32_t pinSlot(uint32_t userType) {
    return userType == 0 ? 0 : 1;
}

ZT_STATUS simVerifyPin(ZT_HANDLE handle, uint32_t userType, const char* pin) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtVerifyPin;
    call.handle = handle;
    call.number = userType;
    call.textIsNull = !pin;
    call.text = pin ? pin : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!pin) return kSimBadArguments;
    uint32_t who = pinSlot(userType);
    int& tries = card->tries[who];
    if (tries <= 0) {
        failedTry(c);
        return kStatusPinBlocked;
    }
    if (card->pins[who] != pin) {
        failedTry(c);
        --tries;
        return 0x63C0u | static_cast<uint32_t>(tries);
    }
    tries = 3;
    c->verified = who;
    return 0;
}

ZT_STATUS simChangePin(ZT_HANDLE handle, uint32_t userType, const char* pin) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtChangePin;
    call.handle = handle;
    call.number = userType;
    call.text = pin ? pin : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!pin) return kSimBadArguments;
    uint32_t who = pinSlot(userType);
    if (card->tries[who] <= 0) return kStatusPinBlocked;
    if (refusesUnverified(c, who)) return kStatusNotVerified;
    card->pins[who] = pin;
    return 0;
}

ZT_STATUS simInitPin(ZT_HANDLE handle, const char* pin) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtInitPin;
    call.handle = handle;
    call.text = pin ? pin : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!pin) return kSimBadArguments;
    if (c->verified != 0) return kStatusNotVerified;
    card->pins[1] = pin;
    card->tries[1] = 3;
    return 0;
}

ZT_STATUS simWriteObj(ZT_HANDLE handle, const char* path, uint32_t accessClass,
                      OrlByteArray& data) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtWriteObj;
    call.handle = handle;
    call.text = path ? path : "";
    call.number = accessClass;
    call.bytes = bytesOf(data);
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    auto it = card->values.find(path);
    if (it == card->values.end()) return kSimNotFound;
    if ((isPrivateClass(accessClass) || isPrivateClass(it->second.accessClass)) &&
        refusesUnverified(c, 1))
        return kStatusNotVerified;
    it->second.bytes = bytesOf(data);
    it->second.accessClass = accessClass;
    it->second.written = true;
    return 0;
}

ZT_STATUS simReadObj(ZT_HANDLE handle, const char* path, uint32_t accessClass, OrlByteArray& out) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtReadObj;
    call.handle = handle;
    call.text = path ? path : "";
    call.number = accessClass;
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    auto it = card->values.find(path);
    if (it == card->values.end()) return kSimNotFound;
    if ((isPrivateClass(accessClass) || isPrivateClass(it->second.accessClass)) &&
        refusesUnverified(c, 1))
        return kStatusNotVerified;
    if (!it->second.written) return kSimEmptyObject;
    out.append(it->second.bytes.data(), static_cast<unsigned>(it->second.bytes.size()));
    return 0;
}

ZT_STATUS simAddObj(ZT_HANDLE handle, OrlByteArray& data, uint32_t accessClass, char* path) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtAddObj;
    call.handle = handle;
    call.number = accessClass;
    call.bytes = bytesOf(data);
    call.text = path ? path : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    if (isPrivateClass(accessClass) && refusesUnverified(c, 1)) return kStatusNotVerified;
    if (data.getLength() == 0) {
        std::string name = "obj" + std::to_string(card->nextPath++);
        card->values[name] = StoredValue{{}, accessClass, false};
        copyText(path, name);
        return 0;
    }
    StoredValue& v = card->values[path];
    v.bytes = bytesOf(data);
    v.accessClass = accessClass;
    v.written = true;
    return 0;
}

ZT_STATUS simDeleteObj(ZT_HANDLE handle, const char* path) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtDeleteObj;
    call.handle = handle;
    call.text = path ? path : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    auto value = card->values.find(path);
    bool needsUser = card->keys.count(path) != 0 ||
                     (value != card->values.end() && isPrivateClass(value->second.accessClass));
    if (needsUser && refusesUnverified(c, 1)) return kStatusNotVerified;
    size_t n = card->values.erase(path) + card->keys.erase(path);
    return n ? 0 : kSimNotFound;
}

ZT_STATUS simGetObjectTbl(ZT_HANDLE handle, OrlByteArray& out) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtGetObjectTbl;
    call.handle = handle;
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Card* card = cardOf(handle);
    if (!card) return kSimBadHandle;
    if (!card->hasDirectory) return kSimNoDirectory;
    out.append(card->directory.data(), static_cast<unsigned>(card->directory.size()));
    return 0;
}

ZT_STATUS simPutObjectTbl(ZT_HANDLE handle, OrlByteArray& directory) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtPutObjectTbl;
    call.handle = handle;
    call.bytes = bytesOf(directory);
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Card* card = cardOf(handle);
    if (!card) return kSimBadHandle;
    card->directory = bytesOf(directory);
    card->hasDirectory = true;
    return 0;
}

ZT_STATUS simApplyPrivateKey(ZT_HANDLE handle, const char* path, unsigned char mode,
                             OrlByteArray& in, OrlByteArray& out) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtApplyPrivateKey;
    call.handle = handle;
    call.text = path ? path : "";
    call.number = mode;
    call.bytes = bytesOf(in);
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Connection* c = nullptr;
    Card* card = cardOf(handle, &c);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    auto it = card->keys.find(path);
    if (it == card->keys.end()) return kSimNotFound;
    if (refusesUnverified(c, 1)) return kStatusNotVerified;
    const CryptoPP::InvertibleRSAFunction& key = *it->second;
    size_t k = key.GetModulus().ByteCount();
    CryptoPP::Integer x = integerOf(in);
    if (in.getLength() > k || x >= key.GetModulus()) return kStatusWrongData;
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::Integer y = key.CalculateInverse(rng, x);
    std::vector<uint8_t> block(k);
    y.Encode(block.data(), k);
    if (mode == kPrivateKeyRaw) {
        out.append(block.data(), static_cast<unsigned>(k));
        return 0;
    }
    // PKCS#1 v1.5 type 2: 00 02 PS(>= 8 non-zero) 00 M
    if (k < 11 || block[0] != 0 || block[1] != 2) return kStatusWrongData;
    size_t i = 2;
    while (i < k && block[i] != 0) ++i;
    if (i == k || i < 10) return kStatusWrongData;
    out.append(block.data() + i + 1, static_cast<unsigned>(k - i - 1));
    return 0;
}

std::string storeKey(Card* card, std::shared_ptr<CryptoPP::InvertibleRSAFunction> key, char* path) {
    std::string name = card->keyPathPrefix + std::to_string(card->nextPath++);
    card->keys[name] = std::move(key);
    copyText(path, name);
    return name;
}

ZT_STATUS simGenKeyPair(ZT_HANDLE handle, uint32_t bits, OrlByteArray* publicExponent, char* path) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtGenKeyPair;
    call.handle = handle;
    call.number = bits;
    call.hasBytes2 = publicExponent != nullptr;
    if (publicExponent) call.bytes2 = bytesOf(*publicExponent);
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Card* card = cardOf(handle);
    if (!card) return kSimBadHandle;
    if (!path || bits < 512 || bits > 4096) return kSimBadArguments;
    CryptoPP::Integer e = publicExponent && publicExponent->getLength() ? integerOf(*publicExponent)
                                                                        : CryptoPP::Integer(65537);
    auto key = std::make_shared<CryptoPP::InvertibleRSAFunction>();
    CryptoPP::AutoSeededRandomPool rng;
    key->Initialize(rng, bits, e);
    storeKey(card, std::move(key), path);
    return 0;
}

ZT_STATUS simGetSlotList(OrlStringVector& readers) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtGetSlotList;
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    for (auto& r : s_readers) readers.addElement(r.name.c_str());
    return 0;
}

ZT_STATUS simIsInserted(const char* reader) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtIsInserted;
    call.text = reader ? reader : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Reader* r = reader ? findReader(reader) : nullptr;
    return r && r->hasCard ? 0 : 1;
}

ZT_STATUS simGetTokenInfo(const char* reader, char* serial, char* label, char* manufacturer,
                          char* model) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtGetTokenInfo;
    call.text = reader ? reader : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Reader* r = reader ? findReader(reader) : nullptr;
    if (!r || !r->hasCard) return kSimNoCard;
    copyText(serial, r->card.serial);
    copyText(label, r->card.label);
    copyText(manufacturer, r->card.manufacturer);
    copyText(model, r->card.model);
    return 0;
}

ZT_STATUS simGetPublicKey(ZT_HANDLE handle, const char* path, OrlByteArray& out) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtGetPublicKey;
    call.handle = handle;
    call.text = path ? path : "";
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Card* card = cardOf(handle);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    auto it = card->keys.find(path);
    if (it == card->keys.end()) return kSimNotFound;
    CryptoPP::RSAFunction pub(*it->second);
    CryptoPP::ByteQueue queue;
    pub.DEREncode(queue);
    std::vector<uint8_t> der(queue.MaxRetrievable());
    queue.Get(der.data(), der.size());
    out.append(der.data(), static_cast<unsigned>(der.size()));
    return 0;
}

ZT_STATUS simPutKeyPair(ZT_HANDLE handle, OrlByteArray& modulus, OrlByteArray& privateExponent,
                        OrlByteArray& publicExponent, char* path) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtPutKeyPair;
    call.handle = handle;
    call.bytes = bytesOf(modulus);
    call.bytes2 = bytesOf(privateExponent);
    call.hasBytes2 = true;
    call.bytes3 = bytesOf(publicExponent);
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    Card* card = cardOf(handle);
    if (!card) return kSimBadHandle;
    if (!path) return kSimBadArguments;
    auto key = std::make_shared<CryptoPP::InvertibleRSAFunction>();
    try {
        key->Initialize(integerOf(modulus), integerOf(publicExponent), integerOf(privateExponent));
    } catch (const CryptoPP::Exception&) {
        return kStatusWrongData;
    }
    storeKey(card, std::move(key), path);
    return 0;
}

ZT_STATUS simOpen() {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtOpen;
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    return 0;
}

ZT_STATUS simClose() {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardSimCall call;
    call.entry = kZtClose;
    uint32_t status = 0;
    if (intercepted(std::move(call), &status)) return status;
    return 0;
}

}  // namespace

extern "C" CARDSIM_API ZT_STATUS GetFunctionList(CardFunctions* table) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    CardFunctions full = {};
    full.ZT_connect = simConnect;
    full.ZT_disconnect = simDisconnect;
    full.ZT_verifyPIN = simVerifyPin;
    full.ZT_changePIN = simChangePin;
    full.ZT_initPIN = simInitPin;
    full.ZT_writeObj = simWriteObj;
    full.ZT_readObj = simReadObj;
    full.ZT_addObj = simAddObj;
    full.ZT_deleteObj = simDeleteObj;
    full.ZT_getObjectTbl = simGetObjectTbl;
    full.ZT_putObjectTbl = simPutObjectTbl;
    full.ZT_applyPrivateKey = simApplyPrivateKey;
    full.ZT_genKeyPair = simGenKeyPair;
    full.ZT_getSlotList = simGetSlotList;
    full.ZT_isInserted = simIsInserted;
    full.ZT_getTokenInfo = simGetTokenInfo;
    full.ZT_getPublicKey = simGetPublicKey;
    full.ZT_putKeyPair = simPutKeyPair;
    full.ZT_open = simOpen;
    full.ZT_close = simClose;
    void** entries = reinterpret_cast<void**>(&full);
    for (int i = 0; i < 24; ++i)
        if (s_nullMask & (1u << i)) entries[i] = nullptr;
    *table = full;
    return 0;
}

void cardsim_reset() {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    s_tiedVerification = false;
    s_readers.clear();
    s_connections.clear();
    s_scripts.clear();
    s_calls.clear();
    s_nullMask = 0;
}

void cardsim_addReader(const std::string& reader, bool withCard) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) {
        r->hasCard = withCard;
        return;
    }
    s_readers.push_back(Reader{reader, withCard, Card{}});
}

void cardsim_removeReader(const std::string& reader) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    for (auto it = s_readers.begin(); it != s_readers.end(); ++it) {
        if (it->name == reader) {
            s_readers.erase(it);
            return;
        }
    }
}

void cardsim_insertCard(const std::string& reader) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) r->hasCard = true;
}

void cardsim_removeCard(const std::string& reader) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) r->hasCard = false;
    for (auto it = s_connections.begin(); it != s_connections.end();) {
        it = it->second.reader == reader ? s_connections.erase(it) : std::next(it);
    }
}

void cardsim_setTokenInfo(const std::string& reader, const std::string& serial,
                          const std::string& label, const std::string& manufacturer,
                          const std::string& model) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) {
        r->card.serial = serial;
        r->card.label = label;
        r->card.manufacturer = manufacturer;
        r->card.model = model;
    }
}

void cardsim_setPin(const std::string& reader, uint32_t userType, const std::string& pin) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) {
        r->card.pins[pinSlot(userType)] = pin;
        r->card.tries[pinSlot(userType)] = 3;
    }
}

int cardsim_pinTriesLeft(const std::string& reader, uint32_t userType) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Reader* r = findReader(reader);
    return r ? r->card.tries[pinSlot(userType)] : -1;
}

void cardsim_script(int entry, uint32_t status, int times) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Script& s = s_scripts[entry];
    s.status = status;
    s.times = times;
}

void cardsim_scriptThrow(int entry, int times) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    s_scripts[entry].throws = times;
}

void cardsim_unscript(int entry) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    s_scripts.erase(entry);
}

void cardsim_setNullEntries(uint32_t mask) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    s_nullMask = mask;
}

std::vector<CardSimCall> cardsim_calls(int entry) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    std::vector<CardSimCall> out;
    for (const auto& c : s_calls)
        if (entry < 0 || c.entry == entry) out.push_back(c);
    return out;
}

size_t cardsim_callCount(int entry) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    size_t n = 0;
    for (const auto& c : s_calls) n += c.entry == entry;
    return n;
}

void cardsim_clearCalls() {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    s_calls.clear();
}

bool cardsim_directory(const std::string& reader, std::vector<uint8_t>* directory) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Reader* r = findReader(reader);
    if (!r || !r->card.hasDirectory) return false;
    *directory = r->card.directory;
    return true;
}

void cardsim_setDirectory(const std::string& reader, const std::vector<uint8_t>& directory) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) {
        r->card.directory = directory;
        r->card.hasDirectory = true;
    }
}

bool cardsim_value(const std::string& reader, const std::string& path, std::vector<uint8_t>* value,
                   uint32_t* accessClass) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Reader* r = findReader(reader);
    if (!r) return false;
    auto it = r->card.values.find(path);
    if (it == r->card.values.end()) return false;
    if (value) *value = it->second.bytes;
    if (accessClass) *accessClass = it->second.accessClass;
    return true;
}

size_t cardsim_valueCount(const std::string& reader) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Reader* r = findReader(reader);
    return r ? r->card.values.size() : 0;
}

size_t cardsim_keyCount(const std::string& reader) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Reader* r = findReader(reader);
    return r ? r->card.keys.size() : 0;
}

bool cardsim_publicKey(const std::string& reader, const std::string& path,
                       std::vector<uint8_t>* der) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    Reader* r = findReader(reader);
    if (!r) return false;
    auto it = r->card.keys.find(path);
    if (it == r->card.keys.end()) return false;
    CryptoPP::RSAFunction pub(*it->second);
    CryptoPP::ByteQueue queue;
    pub.DEREncode(queue);
    der->resize(queue.MaxRetrievable());
    queue.Get(der->data(), der->size());
    return true;
}

size_t cardsim_connectionCount() {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    return s_connections.size();
}

void cardsim_setKeyPathPrefix(const std::string& reader, const std::string& prefix) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    if (Reader* r = findReader(reader)) r->card.keyPathPrefix = prefix;
}

void cardsim_tieVerificationToConnection(bool on) {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    s_tiedVerification = on;
}

size_t cardsim_verifiedConnectionCount() {
    std::lock_guard<std::recursive_mutex> lock(s_mutex);
    size_t n = 0;
    for (const auto& c : s_connections) n += c.second.verified != 0xFFFFFFFFu;
    return n;
}

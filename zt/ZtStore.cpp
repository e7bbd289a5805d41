#include "ZtStore.h"

#include <cryptopp/hex.h>
#include <cryptopp/misc.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ZtWipe.h"

namespace zt {

namespace {
constexpr unsigned kPinIterations = 2000;

std::string toHex(const unsigned char* data, size_t n) {
    std::string out;
    CryptoPP::HexEncoder enc(new CryptoPP::StringSink(out));
    enc.Put(data, n);
    enc.MessageEnd();
    return out;
}

std::string fromHex(const std::string& hex) {
    std::string out;
    CryptoPP::StringSource(hex, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(out)));
    return out;
}

std::string pinHash(const std::string& pin, const std::string& saltHex, unsigned iterations) {
    std::string salt = fromHex(saltHex);
    unsigned char key[32];
    CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA256> kdf;
    kdf.DeriveKey(key, sizeof(key), 0, reinterpret_cast<const CryptoPP::byte*>(pin.data()),
                  pin.size(), reinterpret_cast<const CryptoPP::byte*>(salt.data()), salt.size(),
                  iterations);
    std::string hex = toHex(key, sizeof(key));
    wipe(key, sizeof(key));
    return hex;
}

bool parseUnsigned(const std::map<std::string, std::string>& f, const char* key, unsigned& out) {
    auto it = f.find(key);
    if (it == f.end() || it->second.empty() || it->second.size() > 9) return false;
    for (char c : it->second)
        if (c < '0' || c > '9') return false;
    out = static_cast<unsigned>(std::strtoul(it->second.c_str(), nullptr, 10));
    return true;
}

bool readFields(const std::string& path, std::map<std::string, std::string>& out) {
    std::string text;
    WipeOnExit wipeText(text);
    if (os::readFile(path, text) != os::ReadResult::Ok) return false;
    out = parseFields(text);
    return true;
}

// Writes key=value lines; the text (PIN hashes among them) is wiped after.
bool writeFields(const std::string& path, std::map<std::string, std::string>& fields) {
    std::string text = formatFields(fields);
    WipeOnExit wipeText(text);
    wipe(fields);
    return os::writeFileAtomic(path, text);
}

void putPin(std::map<std::string, std::string>& f, const char* who, const PinRecord& r) {
    std::string p(who);
    f[p + "_salt"] = r.salt;
    f[p + "_hash"] = r.hash;
    f[p + "_iterations"] = std::to_string(r.iterations);
    f[p + "_tries"] = std::to_string(r.tries);
    f[p + "_max_tries"] = std::to_string(r.maxTries);
}

bool getPin(const std::map<std::string, std::string>& f, const char* who, PinRecord& r) {
    std::string p(who);
    auto salt = f.find(p + "_salt");
    auto hash = f.find(p + "_hash");
    if (salt == f.end() || hash == f.end()) return false;
    r.salt = salt->second;
    r.hash = hash->second;
    return parseUnsigned(f, (p + "_iterations").c_str(), r.iterations) && r.iterations > 0 &&
           parseUnsigned(f, (p + "_tries").c_str(), r.tries) &&
           parseUnsigned(f, (p + "_max_tries").c_str(), r.maxTries) && r.maxTries >= 1 &&
           r.maxTries <= kMaxPinTries && r.tries <= r.maxTries;
}
}  // namespace

bool validInfoText(const std::string& text, size_t max) {
    if (text.size() > max) return false;
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

std::string readersDir(const std::string& home) {
    return os::join(home, "readers");
}

std::vector<std::string> listReaders(const std::string& home) {
    std::vector<std::string> names;
    std::string readers = readersDir(home);
    for (auto& folder : os::listDir(readers, true)) {
        std::string nameFile, name;
        if (isHashedFolderName(folder) && os::readFile(os::join(os::join(readers, folder), "name"),
                                                       nameFile) != os::ReadResult::Ok)
            continue;
        if (readerNameOfFolder(folder, nameFile, name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string randomHex(size_t bytes) {
    CryptoPP::AutoSeededRandomPool rng;
    std::string raw(bytes, '\0');
    rng.GenerateBlock(reinterpret_cast<CryptoPP::byte*>(&raw[0]), bytes);
    return toHex(reinterpret_cast<const unsigned char*>(raw.data()), bytes);
}

PinRecord::~PinRecord() {
    wipe(salt);
    wipe(hash);
}

void PinRecord::set(const std::string& pin) {
    salt = randomHex(16);
    iterations = kPinIterations;
    hash = pinHash(pin, salt, iterations);
    tries = maxTries;
}

bool PinRecord::matches(const std::string& pin) const {
    std::string h = pinHash(pin, salt, iterations);
    WipeOnExit wipeHash(h);
    return h.size() == hash.size() &&
           CryptoPP::VerifyBufsEqual(reinterpret_cast<const CryptoPP::byte*>(h.data()),
                                     reinterpret_cast<const CryptoPP::byte*>(hash.data()),
                                     h.size());
}

// Built without temporaries: the texts hold PIN hashes.
std::map<std::string, std::string> parseFields(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t eq = text.find('=', start);
        if (eq != std::string::npos && eq < end)
            fields[text.substr(start, eq - start)] = text.substr(eq + 1, end - eq - 1);
        start = end + 1;
    }
    return fields;
}

std::string formatFields(const std::map<std::string, std::string>& fields) {
    size_t size = 0;
    for (const auto& f : fields) size += f.first.size() + f.second.size() + 2;
    std::string text;
    text.reserve(size + 1);
    for (const auto& f : fields) {
        text.append(f.first).append(1, '=').append(f.second).append(1, '\n');
    }
    return text;
}

CardFiles::CardFiles(const std::string& home, const std::string& reader)
    : m_name(reader),
      m_reader(os::join(readersDir(home), readerFolderName(reader))),
      m_card(os::join(m_reader, "card")) {}

bool CardFiles::createReader() const {
    if (!os::makePrivateDir(m_reader)) return false;
    if (!isHashedFolderName(readerFolderName(m_name))) return true;
    return os::writeFileAtomic(os::join(m_reader, "name"), m_name);
}

void CardFiles::removeTemporaries() const {
    for (const char* sub : {"", "values", "keys"}) {
        os::removeTemporaries(*sub ? os::join(m_card, sub) : m_card);
    }
    os::removeTemporaries(m_reader);
}

std::string CardFiles::valuePath(const std::string& name) const {
    return os::join(os::join(m_card, "values"), name);
}

std::string CardFiles::keyPath(const std::string& name) const {
    return os::join(os::join(m_card, "keys"), name);
}

std::string CardFiles::directoryPath() const {
    return os::join(m_card, "directory");
}

bool CardFiles::lock(os::FileLock& lock) const {
    return os::isDir(m_reader) && lock.acquire(os::join(m_reader, "lock"));
}

Presence CardFiles::presence(std::string* insertion) const {
    if (!os::isDir(m_reader)) return Presence::NoReader;
    if (!os::isFile(os::join(m_card, "info"))) return Presence::NoCard;
    std::string token;
    if (os::readFile(os::join(m_reader, "inserted"), token) != os::ReadResult::Ok || token.empty())
        return Presence::PulledOut;
    if (insertion) *insertion = token;
    return Presence::Inserted;
}

bool CardFiles::insert() const {
    return os::writeFileAtomic(os::join(m_reader, "inserted"), randomHex(16));
}

bool CardFiles::pullOut() const {
    return os::removeFile(os::join(m_reader, "inserted"));
}

bool CardFiles::loadInfo(TokenInfo& info) const {
    std::map<std::string, std::string> f;
    if (!readFields(os::join(m_card, "info"), f)) return false;
    info.id = f["id"];
    info.serial = f["serial"];
    info.label = f["label"];
    info.manufacturer = f["manufacturer"];
    info.model = f["model"];
    return !info.id.empty();
}

bool CardFiles::saveInfo(const TokenInfo& info) const {
    std::map<std::string, std::string> f{{"id", info.id},
                                         {"serial", info.serial},
                                         {"label", info.label},
                                         {"manufacturer", info.manufacturer},
                                         {"model", info.model}};
    return os::writeFileAtomic(os::join(m_card, "info"), formatFields(f));
}

bool CardFiles::loadPins(Pins& pins) const {
    std::map<std::string, std::string> f;
    bool ok = readFields(os::join(m_card, "pins"), f) && getPin(f, "user", pins.user) &&
              getPin(f, "so", pins.so);
    wipe(f);
    return ok;
}

bool CardFiles::savePins(const Pins& pins) const {
    std::map<std::string, std::string> f;
    putPin(f, "user", pins.user);
    putPin(f, "so", pins.so);
    return writeFields(os::join(m_card, "pins"), f);
}

bool CardFiles::takeNumber(const char* counter, uint32_t& number) const {
    std::string path = os::join(m_card, "counters");
    std::map<std::string, std::string> f;
    if (!readFields(path, f)) return false;
    unsigned next = 0;
    if (!parseUnsigned(f, counter, next) || next == 0 || next >= 999999999) return false;
    f[counter] = std::to_string(next + 1);
    if (!os::writeFileAtomic(path, formatFields(f))) return false;
    number = next;
    return true;
}

bool CardFiles::createCard(const TokenInfo& info, const Pins& pins) const {
    // Built under a temporary name and renamed in: a crash leaves no half card.
    std::string building = os::join(m_reader, "card.new");
    os::removeTree(building);
    os::removeTree(os::join(m_reader, "card.deleted"));
    CardFiles temp(*this);
    temp.m_card = building;
    std::map<std::string, std::string> counters{{"value", "1"}, {"key", "1"}};
    bool ok = os::makePrivateDir(building) && os::makePrivateDir(os::join(building, "values")) &&
              os::makePrivateDir(os::join(building, "keys")) && temp.saveInfo(info) &&
              temp.savePins(pins) &&
              os::writeFileAtomic(os::join(building, "counters"), formatFields(counters)) &&
              os::renamePath(building, m_card);
    if (!ok) os::removeTree(building);
    return ok;
}

bool CardFiles::destroyCard() const {
    std::string aside = os::join(m_reader, "card.deleted");
    os::removeTree(aside);
    if (!pullOut()) return false;
    if (os::isDir(m_card) && !os::renamePath(m_card, aside)) return false;
    return os::removeTree(aside);
}

}  // namespace zt

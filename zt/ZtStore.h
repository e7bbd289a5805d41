// The virtual token's store: readers and their cards as files under the store
// home, shared by libzt and zt-admin.
//
//   HOME/readers/FOLDER/          one folder per reader (0700); FOLDER is the
//                                 reader's name made safe (ZtReaderName.h)
//   HOME/readers/FOLDER/name      the exact name, for hashed folder names
//   HOME/readers/FOLDER/lock        file lock serialising every operation on the card
//   HOME/readers/FOLDER/inserted    present while the card is in; holds a random
//                                 token renewed at each insertion
//   HOME/readers/FOLDER/card/       the card's data, kept while it is pulled out
//       info                      id, serial, label, manufacturer, model
//       pins                      salted PIN hashes and try counters
//       counters                  next value number, next key-pair number
//       directory                 the object directory blob (absent: none yet)
//       values/vN                 access class, written flag, bytes
//       keys/N                    RSA key pair, PKCS#8 DER
//
// Every file is replaced whole (ZtOs writeFileAtomic). Callers hold the
// reader's lock (CardFiles::lock) around any read-modify-write.
#ifndef QUILLON_ZT_ZTSTORE_H
#define QUILLON_ZT_ZTSTORE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ZtOs.h"
#include "ZtReaderName.h"

namespace zt {

constexpr unsigned kDefaultPinTries = 3;
constexpr unsigned kMaxPinTries = 15;  // the count must fit the n of 0x63Cn
constexpr size_t kMaxPinLength = 255;
constexpr size_t kMaxLabel = 32;
constexpr size_t kMaxSerial = 16;

// Texts kept in the info file: printable ASCII without '\n', at most `max`.
bool validInfoText(const std::string& text, size_t max);

std::string readersDir(const std::string& home);
// The names of the readers in the store, sorted.
std::vector<std::string> listReaders(const std::string& home);

std::string randomHex(size_t bytes);

struct TokenInfo {
    std::string id;
    std::string serial;
    std::string label;
    std::string manufacturer = "Quillon";
    std::string model = "ZT virtual";
};

struct PinRecord {
    PinRecord() = default;
    PinRecord(const PinRecord&) = default;
    PinRecord& operator=(const PinRecord&) = default;
    ~PinRecord();

    std::string salt;  // hex
    std::string hash;  // hex, PBKDF2-HMAC-SHA256 of the PIN with the salt
    unsigned iterations = 0;
    unsigned tries = 0;  // tries left; 0 means blocked
    unsigned maxTries = kDefaultPinTries;

    // A fresh salt and hash; the counter set back to maxTries.
    void set(const std::string& pin);
    bool matches(const std::string& pin) const;
    bool blocked() const { return tries == 0; }
};

struct Pins {
    PinRecord user;
    PinRecord so;
};

enum class Presence { NoReader, NoCard, PulledOut, Inserted };

// The files of one reader and its card.
class CardFiles {
public:
    CardFiles(const std::string& home, const std::string& reader);

    const std::string& readerDir() const { return m_reader; }
    // Makes the reader's folder (and its "name" file where one is needed).
    bool createReader() const;
    std::string valuePath(const std::string& name) const;
    std::string keyPath(const std::string& name) const;
    std::string directoryPath() const;

    // Waits for the reader's file lock.
    bool lock(os::FileLock& lock) const;
    // Removes what killed writers left behind. The caller holds the lock.
    void removeTemporaries() const;

    // With a card in, `insertion` receives the insertion token.
    Presence presence(std::string* insertion = nullptr) const;
    bool insert() const;   // writes a new insertion token
    bool pullOut() const;  // removes it

    bool loadInfo(TokenInfo& info) const;
    bool saveInfo(const TokenInfo& info) const;
    bool loadPins(Pins& pins) const;
    bool savePins(const Pins& pins) const;
    // Takes the next number of a counter ("value" or "key") and stores the increment.
    bool takeNumber(const char* counter, uint32_t& number) const;

    // Builds a blank card beside the reader and moves it in place.
    bool createCard(const TokenInfo& info, const Pins& pins) const;
    // Pulls the card out and moves its folder aside before deleting it, so
    // that a crash never leaves half a card in place.
    bool destroyCard() const;

private:
    std::string m_name;
    std::string m_reader;
    std::string m_card;
};

// "key=value" lines.
std::map<std::string, std::string> parseFields(const std::string& text);
std::string formatFields(const std::map<std::string, std::string>& fields);

}  // namespace zt

#endif

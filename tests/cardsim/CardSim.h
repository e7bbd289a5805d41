// A scriptable in-memory card-access library for the integration tests.
//
// Tests link it directly for the control functions below; the provider loads
// the same library through its configuration, so both see one state. Readers
// and cards come and go, every entry can be scripted to answer a status, to
// throw or to be absent, and every call is recorded with its arguments.
#ifndef QUILLON_TESTS_CARDSIM_H
#define QUILLON_TESTS_CARDSIM_H

#include <cstdint>
#include <string>
#include <vector>

#include "CardFunctions.h"

#define CARDSIM_API __attribute__((visibility("default")))

// Entry indexes of the card table.
enum CardEntry {
    kZtConnect = 0,
    kZtDisconnect = 1,
    kZtVerifyPin = 2,
    kZtChangePin = 3,
    kZtInitPin = 4,
    kZtWriteObj = 5,
    kZtReadObj = 6,
    kZtAddObj = 7,
    kZtDeleteObj = 8,
    kZtGetObjectTbl = 9,
    kZtPutObjectTbl = 10,
    kZtApplyPrivateKey = 11,
    kZtGenKeyPair = 12,
    kZtGetSlotList = 13,
    kZtIsInserted = 14,
    kZtGetTokenInfo = 15,
    kZtGetPublicKey = 17,
    kZtPutKeyPair = 18,
    kZtOpen = 22,
    kZtClose = 23,
};

// One recorded call. Which fields are set depends on the entry:
// text = reader name, PIN or path; number = user type, access class, mode or
// modulus bits; bytes = data in (value, directory, block, modulus);
// bytes2/bytes3 = private and public exponent of ZT_putKeyPair, or the public
// exponent of ZT_genKeyPair (hasBytes2 tells whether one was given).
struct CardSimCall {
    int entry = -1;
    uint64_t handle = 0;
    std::string text;
    bool textIsNull = false;
    uint32_t number = 0;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> bytes2;
    std::vector<uint8_t> bytes3;
    bool hasBytes2 = false;
};

// Statuses the simulated card answers by itself.
constexpr uint32_t kSimNoCard = kStatusNoCard;  // connect to an empty reader / unknown reader
constexpr uint32_t kSimBadHandle = kStatusUnknownConnection;  // stale or unknown connection
constexpr uint32_t kSimNotFound = 0x6A88;                     // unknown path
// The card library's own "allocated, never written" and "no directory yet",
// exactly as the provider recognises them.
constexpr uint32_t kSimEmptyObject = kStatusEmptyObject;
constexpr uint32_t kSimNoDirectory = kStatusNoDirectory;
constexpr uint32_t kSimBadArguments = 0x6A86;

extern "C++" {
// Forgets every reader, card, script and record (null entries included).
CARDSIM_API void cardsim_reset();

CARDSIM_API void cardsim_addReader(const std::string& reader, bool withCard);
CARDSIM_API void cardsim_removeReader(const std::string& reader);
CARDSIM_API void cardsim_insertCard(const std::string& reader);
// The card keeps its data and comes back with cardsim_insertCard.
CARDSIM_API void cardsim_removeCard(const std::string& reader);
CARDSIM_API void cardsim_setTokenInfo(const std::string& reader, const std::string& serial,
                                      const std::string& label, const std::string& manufacturer,
                                      const std::string& model);
// userType CKU_USER (1) or CKU_SO (0); resets the try counter to 3.
CARDSIM_API void cardsim_setPin(const std::string& reader, uint32_t userType,
                                const std::string& pin);
CARDSIM_API int cardsim_pinTriesLeft(const std::string& reader, uint32_t userType);

// The next `times` calls of the entry answer `status` without doing anything
// (times < 0: every call from now on). Status 0 with times > 0 cancels nothing:
// use cardsim_unscript.
CARDSIM_API void cardsim_script(int entry, uint32_t status, int times = 1);
// The next `times` calls of the entry throw an int.
CARDSIM_API void cardsim_scriptThrow(int entry, int times = 1);
CARDSIM_API void cardsim_unscript(int entry);
// Entries GetFunctionList leaves null, as a bit mask of entry indexes; takes
// effect when the provider is next loaded.
CARDSIM_API void cardsim_setNullEntries(uint32_t mask);

// Every call so far of the entry (-1: of every entry), oldest first.
CARDSIM_API std::vector<CardSimCall> cardsim_calls(int entry = -1);
CARDSIM_API size_t cardsim_callCount(int entry);
CARDSIM_API void cardsim_clearCalls();

// What the card in the reader stores.
CARDSIM_API bool cardsim_directory(const std::string& reader, std::vector<uint8_t>* directory);
CARDSIM_API void cardsim_setDirectory(const std::string& reader,
                                      const std::vector<uint8_t>& directory);
CARDSIM_API bool cardsim_value(const std::string& reader, const std::string& path,
                               std::vector<uint8_t>* value, uint32_t* accessClass);
CARDSIM_API size_t cardsim_valueCount(const std::string& reader);
CARDSIM_API size_t cardsim_keyCount(const std::string& reader);
// DER SubjectPublicKeyInfo of a key pair on the card; false when absent.
CARDSIM_API bool cardsim_publicKey(const std::string& reader, const std::string& path,
                                   std::vector<uint8_t>* der);
// New key pairs get paths of the prefix and a number (default: the number).
CARDSIM_API void cardsim_setKeyPathPrefix(const std::string& reader, const std::string& prefix);
// Number of open connections.
CARDSIM_API size_t cardsim_connectionCount();

// Verification tied to the connection, as a real card does it (off by default):
// a wrong or refused PIN try ends the connection's verification; private-key
// operations, values of access class 1 and 3 and deleting key pairs need the
// user PIN verified on the connection, ZT_changePIN the PIN it changes; else
// the card answers 0x6982. Card removal ends every verification.
CARDSIM_API void cardsim_tieVerificationToConnection(bool on);
// Connections on which a PIN is verified now.
CARDSIM_API size_t cardsim_verifiedConnectionCount();
}

// ---- A card that lies ------------------------------------------------------
// Answers a real card or reader may give that the scripts above cannot.

// Ways a result can be wrong, applied to what an entry appends to its output
// buffer after the card did its work (ZT_applyPrivateKey, ZT_readObj,
// ZT_getObjectTbl, ZT_getPublicKey).
enum class CardSimFault {
    Empty,         // nothing appended, status 0
    Truncate,      // only the first `count` bytes
    Extend,        // `count` extra bytes 0x5A at the end
    LeadingZeros,  // `count` zero bytes in front (same number, longer)
    FlipByte,      // byte number `count` (modulo the length) inverted
    CrtFault,      // ZT_applyPrivateKey only: one CRT half computed wrongly
};

extern "C++" {
// The n-th call of the entry from now on (1 = the next) answers `status`
// without doing anything; the calls before and after behave as usual.
CARDSIM_API void cardsim_scriptNth(int entry, int n, uint32_t status);
// The next `times` successful calls of the entry (times < 0: every one) give a
// wrong result of that kind.
CARDSIM_API void cardsim_corruptResult(int entry, CardSimFault fault, size_t count = 0,
                                       int times = 1);
// Each directory queued replaces the card's stored directory just before one
// later ZT_getObjectTbl reads it, oldest first: as if another application
// wrote the token between two reads.
CARDSIM_API void cardsim_queueDirectory(const std::string& reader,
                                        const std::vector<uint8_t>& directory);
}

#endif

#include "CardAnswers.h"

#include <mutex>
#include <vector>

#include "CSessionData.h"
#include "Log.h"

namespace detail {
std::atomic<bool> g_cardAnswersNoted{false};
}

namespace {

struct Note {
    ZT_HANDLE handle;
    CardAnswer answer;
    uint32_t role;  // the PIN the call needed: CKU_USER or CKU_SO
};

// Card calls run under the global lock; this one only keeps the notes sound
// should a card library call back from another thread.
std::mutex s_notesMutex;
std::vector<Note> s_notes;

CardFunctions s_library = {};  // the library's own entries
bool s_watching = false;

uint32_t note(ZT_HANDLE handle, uint32_t status, uint32_t role) {
    if (status == 0) return status;
    CardAnswer answer = classifyCardAnswer(status);
    if (answer == CardAnswer::Other) return status;
    std::lock_guard<std::mutex> guard(s_notesMutex);
    s_notes.push_back({handle, answer, role});
    detail::g_cardAnswersNoted.store(true, std::memory_order_relaxed);
    return status;
}

uint32_t pinRole(uint32_t userType) {
    return userType == CKU_SO ? CKU_SO : CKU_USER;
}

// ---- The watching entries: the library's own, then the note.

ZT_STATUS verifyPIN(ZT_HANDLE h, uint32_t userType, const char* pin) {
    return note(h, s_library.ZT_verifyPIN(h, userType, pin), pinRole(userType));
}
ZT_STATUS changePIN(ZT_HANDLE h, uint32_t userType, const char* pin) {
    return note(h, s_library.ZT_changePIN(h, userType, pin), pinRole(userType));
}
ZT_STATUS initPIN(ZT_HANDLE h, const char* pin) {
    return note(h, s_library.ZT_initPIN(h, pin), CKU_SO);
}
ZT_STATUS writeObj(ZT_HANDLE h, const char* path, uint32_t accessClass, OrlByteArray& data) {
    return note(h, s_library.ZT_writeObj(h, path, accessClass, data), CKU_USER);
}
ZT_STATUS readObj(ZT_HANDLE h, const char* path, uint32_t accessClass, OrlByteArray& out) {
    return note(h, s_library.ZT_readObj(h, path, accessClass, out), CKU_USER);
}
ZT_STATUS addObj(ZT_HANDLE h, OrlByteArray& data, uint32_t accessClass, char* path) {
    return note(h, s_library.ZT_addObj(h, data, accessClass, path), CKU_USER);
}
ZT_STATUS deleteObj(ZT_HANDLE h, const char* path) {
    return note(h, s_library.ZT_deleteObj(h, path), CKU_USER);
}
ZT_STATUS getObjectTbl(ZT_HANDLE h, OrlByteArray& out) {
    return note(h, s_library.ZT_getObjectTbl(h, out), CKU_USER);
}
ZT_STATUS putObjectTbl(ZT_HANDLE h, OrlByteArray& directory) {
    return note(h, s_library.ZT_putObjectTbl(h, directory), CKU_USER);
}
ZT_STATUS applyPrivateKey(ZT_HANDLE h, const char* path, unsigned char mode, OrlByteArray& in,
                          OrlByteArray& out) {
    return note(h, s_library.ZT_applyPrivateKey(h, path, mode, in, out), CKU_USER);
}
ZT_STATUS genKeyPair(ZT_HANDLE h, uint32_t bits, OrlByteArray* exponent, char* path) {
    return note(h, s_library.ZT_genKeyPair(h, bits, exponent, path), CKU_USER);
}
ZT_STATUS getPublicKey(ZT_HANDLE h, const char* path, OrlByteArray& out) {
    return note(h, s_library.ZT_getPublicKey(h, path, out), CKU_USER);
}
ZT_STATUS putKeyPair(ZT_HANDLE h, OrlByteArray& n, OrlByteArray& d, OrlByteArray& e, char* path) {
    return note(h, s_library.ZT_putKeyPair(h, n, d, e, path), CKU_USER);
}

}  // namespace

CardAnswer classifyCardAnswer(uint32_t status) {
    switch (status) {
        case kStatusNotVerified:
            return CardAnswer::NotVerified;
        case kStatusNoCard:
        case kStatusUnknownConnection:
            return CardAnswer::ConnectionGone;
        default:
            return CardAnswer::Other;
    }
}

void watchCardAnswers(CardFunctions* table) {
    // Once per load: the table is filled once, when the library is loaded.
    if (!table || s_watching) return;
    s_library = *table;
    s_watching = true;
#define QUILLON_WATCH(name, wrapper) \
    if (table->name) table->name = wrapper
    QUILLON_WATCH(ZT_verifyPIN, verifyPIN);
    QUILLON_WATCH(ZT_changePIN, changePIN);
    QUILLON_WATCH(ZT_initPIN, initPIN);
    QUILLON_WATCH(ZT_writeObj, writeObj);
    QUILLON_WATCH(ZT_readObj, readObj);
    QUILLON_WATCH(ZT_addObj, addObj);
    QUILLON_WATCH(ZT_deleteObj, deleteObj);
    QUILLON_WATCH(ZT_getObjectTbl, getObjectTbl);
    QUILLON_WATCH(ZT_putObjectTbl, putObjectTbl);
    QUILLON_WATCH(ZT_applyPrivateKey, applyPrivateKey);
    QUILLON_WATCH(ZT_genKeyPair, genKeyPair);
    QUILLON_WATCH(ZT_getPublicKey, getPublicKey);
    QUILLON_WATCH(ZT_putKeyPair, putKeyPair);
#undef QUILLON_WATCH
}

void forgetCardAnswers() {
    std::lock_guard<std::mutex> guard(s_notesMutex);
    s_notes.clear();
    detail::g_cardAnswersNoted.store(false, std::memory_order_relaxed);
}

CK_RV settleCardAnswers(CK_RV result) {
    std::vector<Note> notes;
    {
        std::lock_guard<std::mutex> guard(s_notesMutex);
        notes.swap(s_notes);
        detail::g_cardAnswersNoted.store(false, std::memory_order_relaxed);
    }
    bool gone = false, notVerified = false;
    for (const Note& n : notes) {
        if (n.answer == CardAnswer::ConnectionGone) {
            gone = true;
            CSessionData::connectionGone(n.handle);
        } else {
            notVerified = true;
            CSessionData::verificationMissing(n.handle, n.role);
        }
    }
    if (result != CKR_DEVICE_ERROR) return result;
    if (gone) {
        logError("<e> the card connection is dead: CKR_DEVICE_REMOVED");
        return CKR_DEVICE_REMOVED;
    }
    if (notVerified) {
        logError("<e> the card wants a PIN verified: CKR_USER_NOT_LOGGED_IN");
        return CKR_USER_NOT_LOGGED_IN;
    }
    return result;
}

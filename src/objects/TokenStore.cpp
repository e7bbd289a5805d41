#include "TokenStore.h"

#include <cstring>
#include <string>
#include <vector>

#include "C11Object.h"
#include "CardLibrary.h"
#include "CardStorage.h"
#include "Log.h"
#include "ObjectDirectory.h"

namespace {

// What identifies the card in the reader: the reader's name and the token's
// serial number (another card in the same reader gets another lock).
std::string cardKey(const char* readerName) {
    std::string key = readerName ? readerName : "";
    CardFunctions* card = cardFunctions();
    if (card && card->ZT_getTokenInfo && readerName) {
        char serial[kCardPathSize] = {}, label[kCardPathSize] = {},
             manufacturer[kCardPathSize] = {}, model[kCardPathSize] = {};
        try {
            if (card->ZT_getTokenInfo(readerName, serial, label, manufacturer, model) == 0) {
                serial[kCardPathSize - 1] = 0;
                key += '\n';
                key += serial;
            }
        } catch (...) {
        }
    }
    return key;
}

// Whether an object of the table other than `except` names the path.
bool isPathNamed(CObjectTable& table, const char* path, const C11Object* except) {
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (object && object != except && object->getPath() &&
            std::strcmp(path, object->getPath()) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CTokenStore::bindLock(ZT_HANDLE, const char* readerName) {
    if (m_bBound) return;
    m_bBound = true;
    m_bSeen = false;
    if (!m_lock.open(cardKey(readerName))) {
        // Without the shared lock every read and every change reads the
        // directory again: slower, and changes of two processes can still
        // interleave, but never from a stale table of this one.
        logError("<e> token lock unavailable: the directory is read before every use");
    }
}

void CTokenStore::forget() {
    m_table.removeTokenObjects();
    m_lock.close();
    m_bBound = false;
    m_bSeen = false;
}

CK_RV CTokenStore::sync(ZT_HANDLE hConnection, bool force) {
    // The generation is read before the directory: a change committed in
    // between is read now and once more at the next check, never missed.
    uint64_t generation = 0;
    bool known = m_lock.isOpen() && m_lock.readGeneration(generation);
    if (!force && !m_table.needsReload() && known && m_bSeen && generation == m_ullSeen) {
        logMessage("reload not needed");
        return CKR_OK;
    }
    ++m_ullDirectoryReads;
    CK_RV rv;
    try {
        rv = readObjectDirectory(hConnection, m_table);
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_getObjectTbl");
        m_table.markForReload();
        return CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK) return rv;
    m_ullSeen = generation;
    m_bSeen = known;
    return CKR_OK;
}

CK_RV CTokenStore::refresh(ZT_HANDLE hConnection, const char* readerName) {
    bindLock(hConnection, readerName);
    return sync(hConnection, false);
}

CTokenTransaction::CTokenTransaction(CTokenStore& store, ZT_HANDLE hConnection,
                                     const char* readerName)
    : m_store(store), m_hConnection(hConnection) {
    m_store.bindLock(hConnection, readerName);
}

CTokenTransaction::~CTokenTransaction() {
    if (m_bLocked) m_store.m_lock.unlock();
}

CK_RV CTokenTransaction::begin() {
    if (m_store.m_lock.isOpen()) {
        if (!m_store.m_lock.lock()) {
            logError("<e> token lock refused");
            return CKR_FUNCTION_FAILED;
        }
        m_bLocked = true;
    }
    // Without the lock nothing tells whether another process wrote: read.
    CK_RV rv = m_store.sync(m_hConnection, !m_bLocked);
    if (rv != CKR_OK) {
        if (m_bLocked) m_store.m_lock.unlock();
        m_bLocked = false;
        return rv;
    }
    m_bBegun = true;
    return CKR_OK;
}

CK_RV CTokenTransaction::commit() {
    if (!m_bBegun) return CKR_GENERAL_ERROR;
    m_bBegun = false;
    CObjectTable& table = m_store.m_table;
    platform::TokenLock& lock = m_store.m_lock;
    // The generation moves before the card writes, so a writer killed
    // half-way still makes the next one read the card, and once more after
    // them, so a reader that read the old directory meanwhile reads again.
    uint64_t generation = 0;
    bool bumped =
        m_bLocked && lock.readGeneration(generation) && lock.writeGeneration(generation + 1);
    CK_RV rv;
    try {
        rv = writeObjectDirectory(m_hConnection, table);
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_putObjectTbl");
        rv = CKR_GENERAL_ERROR;
    }
    bumped = bumped && lock.writeGeneration(generation + 2);
    if (bumped && rv == CKR_OK) {
        m_store.m_ullSeen = generation + 2;
    } else {
        m_store.m_bSeen = false;
    }
    // The stored values the write allocated or replaced.
    unsigned long key = 0;
    C11Object* object = nullptr;
    std::vector<std::string> release;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (!object || !object->isToken()) continue;
        if (rv == CKR_OK) {
            if (object->getRetiredPath()) release.push_back(object->getRetiredPath());
        } else if (object->hasFreshPath() && object->getPath()) {
            release.push_back(object->getPath());
        }
        object->settleStoredPaths();
    }
    for (const std::string& path : release) {
        // A value still named by an object of the directory stays.
        if (rv == CKR_OK && isPathNamed(table, path.c_str(), nullptr)) continue;
        releaseCardStorage(m_hConnection, path);
    }
    if (rv != CKR_OK) table.markForReload();
    return rv;
}

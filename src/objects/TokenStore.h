// The one home of the token transaction: when the slot's object table is
// stale, how it is read again, and how a change of token objects reaches the
// card while no other process on the machine changes it. The rules, the order
// of card writes and what a crash leaves are in TokenStore.md beside this file.
//
// Everything here runs under the global lock.
#ifndef QUILLON_OBJECTS_TOKENSTORE_H
#define QUILLON_OBJECTS_TOKENSTORE_H

#include <cstdint>
#include <string>

#include "CObjectTable.h"
#include "TokenLock.h"

class CTokenStore {
public:
    explicit CTokenStore(CObjectTable& table) : m_table(table) {}
    CTokenStore(const CTokenStore&) = delete;
    CTokenStore& operator=(const CTokenStore&) = delete;

    // For reads (searches, attribute reads): brings the table up to date when
    // it is marked for reload or another process committed a change since the
    // last read. When nothing changed this costs one read of the off-card
    // generation counter and no card call.
    CK_RV refresh(ZT_HANDLE hConnection, const char* readerName);

    // The card left the reader (or another came): token objects go, and the
    // next use identifies the card again.
    void forget();

    // How often the directory was read (for tests and the benchmark).
    uint64_t directoryReads() const { return m_ullDirectoryReads; }

private:
    friend class CTokenTransaction;

    // Opens the lock of the card in the reader, once per card.
    void bindLock(ZT_HANDLE hConnection, const char* readerName);
    // Reads the directory when the table is stale (force: always).
    CK_RV sync(ZT_HANDLE hConnection, bool force);

    CObjectTable& m_table;
    platform::TokenLock m_lock;
    bool m_bBound = false;
    // The generation the table reflects; valid when m_bSeen.
    uint64_t m_ullSeen = 0;
    bool m_bSeen = false;
    uint64_t m_ullDirectoryReads = 0;
};

// One change of token objects: begin() takes the token lock and brings the
// table up to date; the caller then changes the table (insertTokenObject,
// removeObject, attribute changes); commit() stores new values, the directory,
// and bumps the generation. The lock is released by the destructor, whatever
// happened. A transaction that is not committed wrote nothing to the card:
// the caller takes its changes out of the table again (or marks it for reload).
class CTokenTransaction {
public:
    CTokenTransaction(CTokenStore& store, ZT_HANDLE hConnection, const char* readerName);
    ~CTokenTransaction();
    CTokenTransaction(const CTokenTransaction&) = delete;
    CTokenTransaction& operator=(const CTokenTransaction&) = delete;

    // CKR_OK with the lock held and the table equal to the card's directory;
    // otherwise the error of the directory read, nothing held.
    CK_RV begin();
    // Stores the table's token objects: new and changed values, then the
    // directory; then frees the values that changed objects replaced. On
    // failure the values allocated for it are freed again and the table is
    // marked for reload, so the card's directory stays the truth.
    CK_RV commit();

private:
    CTokenStore& m_store;
    ZT_HANDLE m_hConnection;
    bool m_bLocked = false;
    bool m_bBegun = false;
};

#endif

// The objects of one slot, token and session objects alike, keyed by handle:
// a cache of the token's directory plus the session objects of this process.
// The table owns its objects: every removal through its own operations
// (removeObject, clear, removePrivateObjects, removeTokenObjects, reload)
// deletes the object. Used only under the global lock; its iteration state
// lives in the table, so one walk at a time. CTokenStore decides when the
// table is read again and how changes reach the card (TokenStore.md).
//
// Handles: a token object's handle is its 16-bit object number, the same in
// every process. A session object's handle lies above every object number
// (kFirstSessionHandle and up), so no record another process writes can ever
// take the handle of a session object here.
#ifndef QUILLON_OBJECTS_COBJECTTABLE_H
#define QUILLON_OBJECTS_COBJECTTABLE_H

#include <cstdint>

#include "CBufferedReader.h"
#include "CardFunctions.h"
#include "OrlHashtable.h"
#include "cryptoki.h"

class C11Object;

// Raised by reload for a record whose class tag names no object class.
struct CUnknownObjectClass {
    uint32_t tag;
};

class CObjectTable : public OrlHashtable<unsigned long, C11Object*> {
public:
    static constexpr unsigned long kFirstSessionHandle = 0x10000;

    CObjectTable();
    ~CObjectTable() override;

    // True until a directory was read in full, and again after clear, a
    // logout, a card removal or a failed change: the next use reads the card.
    bool needsReload() const { return m_bReloadNeeded; }
    void markForReload() { m_bReloadNeeded = true; }
    // Deletes every object and marks the table for reload.
    void clear();
    // Same as clear, but leaves the reload mark as it is.
    void removeAll() override;
    // False when the handle is not in the table; otherwise removes and deletes.
    bool removeObject(CK_OBJECT_HANDLE hObject);
    // Logout: deletes every private object (their values leave memory) and
    // marks the table for reload; the private token records come back, hidden
    // from searches, at the next read, so no directory write can drop them.
    void removePrivateObjects();
    // Card removal: deletes every token object, marks for reload.
    void removeTokenObjects();

    // Merges the directory records the reader holds (the counter bytes
    // already read) into the table:
    //  - a record whose object is already here under the same number, class
    //    and path, with an unchanged record, keeps that object (its handle and
    //    cached values); a changed record replaces it (values re-read lazily);
    //  - token objects no record names are deleted (destroyed elsewhere);
    //  - session objects are never touched;
    //  - every record is a token object, whatever its token flag says;
    //  - a later record with the number of an earlier one replaces it.
    // A class tag of 5 or more throws CUnknownObjectClass: the records before
    // it are merged and the table stays marked for reload.
    void reload(ZT_HANDLE hConnection, CBufferedReader& reader);

    // The object-number counter of the slot's directory: read from its head,
    // written back with it.
    uint16_t nextNumber() const { return m_usNextNumber; }
    void setNextNumber(uint16_t number) { m_usNextNumber = number; }
    // The counter from a directory just read: taken unless this table's own
    // counter is ahead of it (a number handed out by a creation whose write
    // failed is not handed out again by this process).
    void takeNextNumber(uint16_t number) {
        if (static_cast<uint16_t>(m_usNextNumber - number) >= 0x8000) m_usNextNumber = number;
    }
    // Gives a token object the first number from the counter on that no
    // object of the table has (never 0), puts it in the table and advances
    // the counter past it. Call it on a table just read under the token lock,
    // so that the number is free on the card too. 0 when every number is taken.
    CK_OBJECT_HANDLE insertTokenObject(C11Object* object);
    // Gives a session object a handle above every object number, free in the
    // table, and puts it in the table.
    CK_OBJECT_HANDLE insertSessionObject(C11Object* object);
    // The object under the handle, or null.
    C11Object* find(CK_OBJECT_HANDLE hObject);
    // The slot reconnected to the same card: the objects use the new connection.
    void rebind(ZT_HANDLE hConnection);

private:
    template <typename Predicate>
    void removeWhere(Predicate&& predicate);

    bool m_bReloadNeeded = true;
    uint16_t m_usNextNumber = 1;
};

#endif

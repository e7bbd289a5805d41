// The objects of one slot, token and session objects alike, keyed by object
// number. The table owns its objects: every removal through its own operations
// (removeObject, clear, removePrivateObjects, removeTokenObjects, reload)
// deletes the object. Used only under the global lock; its iteration state
// lives in the table, so one walk at a time.
#ifndef QUILLON_OBJECTS_COBJECTTABLE_H
#define QUILLON_OBJECTS_COBJECTTABLE_H

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
    CObjectTable();
    ~CObjectTable() override;

    bool needsReload() const { return m_bReloadNeeded; }
    // Deletes every object and marks the table for reload.
    void clear();
    // Same as clear, but leaves the reload mark as it is.
    void removeAll() override;
    // False when the number is not in the table; otherwise removes and deletes.
    bool removeObject(CK_OBJECT_HANDLE hObject);
    // Logout: deletes every private object and marks the table for reload.
    void removePrivateObjects();
    // Card removal and reload: deletes every token object, marks for reload.
    void removeTokenObjects();
    // Replaces the token objects with the records the reader holds (the
    // counter bytes already read). Session objects stay. A record with the
    // number of an object already in the table replaces (and deletes) it.
    // A class tag of 5 or more throws CUnknownObjectClass: the objects read
    // before it stay and the table stays marked for reload.
    void reload(ZT_HANDLE hConnection, CBufferedReader& reader);

    // The slot reconnected to the same card: the objects use the new connection.
    void rebind(ZT_HANDLE hConnection);

    // Whether an object of a table bound to hConnection has that number.
    static bool isNumberTaken(ZT_HANDLE hConnection, uint16_t number);

private:
    template <typename Predicate>
    void removeWhere(Predicate&& predicate);

    bool m_bReloadNeeded = true;
    // The token connection this table's objects were last read with.
    bool m_bBound = false;
    ZT_HANDLE m_hConnection = 0;
    // Every live table, so a new object's number can avoid its slot's numbers.
    CObjectTable* m_pNextTable = nullptr;
    CObjectTable* m_pPrevTable = nullptr;
};

#endif

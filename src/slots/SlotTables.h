// The slot tables built from the reader list: a slot ID is a hash of its
// reader's name, so the same reader keeps its ID across processes.
//
// Names can hash alike (of a long name only some characters count, so two
// readers of one model differing in their index do). Among readers sharing a
// hash, the one whose name sorts first (bytewise) keeps the hash as its ID;
// each other one, in name order, takes the next ID above its hash that is no
// listed reader's own hash and not yet given. A reader whose hash no other
// listed reader shares keeps exactly its hash. The IDs depend only on the
// set of names listed, not on their order, so processes seeing the same
// readers agree.
//
// All of it is used under the global lock (C_Initialize runs before any lock).
#ifndef QUILLON_SLOTS_SLOTTABLES_H
#define QUILLON_SLOTS_SLOTTABLES_H

#include <cstdint>

#include "OrlHashtable.h"
#include "OrlStringVector.h"
#include "cryptoki.h"

// Reader names in the order the card library listed them (index = position).
extern OrlStringVector& g_readerNames;
// Slot ID -> reader index; a slot ID is valid exactly when it is a key here.
extern OrlHashtable<int, int>& g_slotTable;
// Slot ID (as int, sign-extended) -> last known token state: 1 present,
// 0 absent. Never emptied.
extern OrlHashtable<long, long>& g_slotState;

// The hash of a reader's name (its slot ID unless another reader shares it).
uint32_t slotIdFromReaderName(const char* name);
// The slot ID of reader index i of g_readerNames.
uint32_t slotIdOfReader(unsigned index);
// Callers check first that the ID is a key of g_slotTable.
const char* readerNameFromSlotId(CK_SLOT_ID slotID);

// Rereads the reader list into g_readerNames (ZT_getSlotList) and rebuilds
// g_slotTable from it; g_slotState is left alone. Answers the library's status.
uint32_t refreshSlotTable();
// As refreshSlotTable, then records every listed reader's current token state.
uint32_t rebuildSlotTables();
// Token present in the reader (ZT_isInserted answers 0).
bool tokenPresent(const char* readerName);

#endif

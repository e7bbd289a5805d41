#include "SlotTables.h"

#include <cstring>

#include "CallFrame.h"
#include "CardLibrary.h"
#include "Log.h"
#include "ProcessGlobal.h"

OrlStringVector& g_readerNames = makeProcessGlobal<OrlStringVector>();
OrlHashtable<int, int>& g_slotTable = makeProcessGlobal<OrlHashtable<int, int>>();
OrlHashtable<long, long>& g_slotState = makeProcessGlobal<OrlHashtable<long, long>>();

uint32_t slotIdFromReaderName(const char* name) {
    size_t n = std::strlen(name);
    uint32_t h = 0;
    if (n < 16) {
        for (size_t i = 0; i < n; ++i)
            h = h * 37u + static_cast<uint32_t>(static_cast<signed char>(name[i]));
    } else {
        size_t step = n / 8;
        for (size_t i = 0; i < n; i += step)
            h = h * 39u + static_cast<uint32_t>(static_cast<signed char>(name[i]));
    }
    return h;
}

const char* readerNameFromSlotId(CK_SLOT_ID slotID) {
    int key = static_cast<int>(static_cast<uint32_t>(slotID));
    int index = 0;
    if (!g_slotTable.get(key, index)) return nullptr;
    return g_readerNames[static_cast<unsigned>(index)];
}

const char* lookupSlot(CK_SLOT_ID slotID) {
    if (slotID > 0xFFFFFFFFUL) return nullptr;  // IDs are 32-bit hashes
    return readerNameFromSlotId(slotID);
}

bool tokenPresent(const char* readerName) {
    return cardFunctions()->ZT_isInserted(readerName) == 0;
}

uint32_t refreshSlotTable() {
    CardFunctions* card = cardFunctions();
    g_readerNames.removeAllElements();
    uint32_t status = card->ZT_getSlotList(g_readerNames);
    g_slotTable.removeAll();
    for (unsigned i = 0; i < g_readerNames.size(); ++i)
        g_slotTable.put(static_cast<int>(slotIdFromReaderName(g_readerNames[i])),
                        static_cast<int>(i));
    return status;
}

uint32_t rebuildSlotTables() {
    uint32_t status = refreshSlotTable();
    for (unsigned i = 0; i < g_readerNames.size(); ++i) {
        const char* name = g_readerNames[i];
        g_slotState.put(static_cast<int>(slotIdFromReaderName(name)), tokenPresent(name) ? 1 : 0);
    }
    return status;
}

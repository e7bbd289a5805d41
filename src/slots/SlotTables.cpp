#include "SlotTables.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CallFrame.h"
#include "CardLibrary.h"
#include "Log.h"
#include "ProcessGlobal.h"

OrlStringVector& g_readerNames = makeProcessGlobal<OrlStringVector>();
OrlHashtable<int, int>& g_slotTable = makeProcessGlobal<OrlHashtable<int, int>>();
OrlHashtable<long, long>& g_slotState = makeProcessGlobal<OrlHashtable<long, long>>();

namespace {

// Slot ID of each reader of g_readerNames, same index.
std::vector<uint32_t>& s_readerSlotIds = makeProcessGlobal<std::vector<uint32_t>>();

bool nameBefore(unsigned a, unsigned b) {
    int order = std::strcmp(g_readerNames[a], g_readerNames[b]);
    return order != 0 ? order < 0 : a < b;
}

// The IDs of the readers listed, colliding hashes resolved (see SlotTables.h).
std::vector<uint32_t> assignSlotIds() {
    const unsigned n = g_readerNames.size();
    std::vector<uint32_t> ids(n);
    std::unordered_map<uint32_t, unsigned> owner;  // hash -> reader keeping it
    std::unordered_set<uint32_t> taken;
    for (unsigned i = 0; i < n; ++i) {
        ids[i] = slotIdFromReaderName(g_readerNames[i]);
        taken.insert(ids[i]);
        auto it = owner.find(ids[i]);
        if (it == owner.end()) {
            owner.emplace(ids[i], i);
        } else if (nameBefore(i, it->second)) {
            it->second = i;
        }
    }
    std::vector<unsigned> others;
    for (unsigned i = 0; i < n; ++i)
        if (owner[ids[i]] != i) others.push_back(i);
    std::sort(others.begin(), others.end(), [&](unsigned a, unsigned b) {
        return ids[a] != ids[b] ? ids[a] < ids[b] : nameBefore(a, b);
    });
    for (unsigned i : others) {
        uint32_t id = ids[i] + 1;  // wraps at 2^32
        while (taken.count(id)) ++id;
        taken.insert(id);
        ids[i] = id;
    }
    return ids;
}

}  // namespace

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

uint32_t slotIdOfReader(unsigned index) {
    return index < s_readerSlotIds.size() ? s_readerSlotIds[index] : 0;
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
    s_readerSlotIds = assignSlotIds();
    for (unsigned i = 0; i < g_readerNames.size(); ++i)
        g_slotTable.put(static_cast<int>(s_readerSlotIds[i]), static_cast<int>(i));
    return status;
}

uint32_t rebuildSlotTables() {
    uint32_t status = refreshSlotTable();
    for (unsigned i = 0; i < g_readerNames.size(); ++i) {
        g_slotState.put(static_cast<int>(slotIdOfReader(i)),
                        tokenPresent(g_readerNames[i]) ? 1 : 0);
    }
    return status;
}

// C_WaitForSlotEvent: finds card insertions and removals by polling the
// readers and comparing with the last state reported for each slot.
#include <vector>

#include "CallFrame.h"
#include "CardLibrary.h"
#include "Log.h"
#include "Platform.h"
#include "SlotTables.h"

namespace {

constexpr unsigned kWaitPollMilliseconds = 2000;

long stateKey(CK_SLOT_ID slotID) {
    return static_cast<int>(static_cast<uint32_t>(slotID));
}

// Under the global lock: one pass. True with *slot set when an event was found;
// the slot's state then holds the new value, so each event is reported once.
bool slotEventPass(CK_SLOT_ID* slot) {
    CardFunctions* card = cardFunctions();
    if (!card) return false;

    uint32_t status = refreshSlotTable();  // g_slotState is left as it was
    if (status != 0) logError("->e<- ZT_getSlotList: %x ", status);

    // New readers. Looked for on every pass: comparing only counts misses a
    // reader that appears while another vanishes.
    for (unsigned i = 0; i < g_readerNames.size(); ++i) {
        const char* name = g_readerNames[i];
        long key = static_cast<int>(slotIdOfReader(i));
        if (g_slotState.containsKey(key)) continue;
        if (card->ZT_isInserted(name) == 0) {
            g_slotState.put(key, 1);
            logMessage("EventOccurred in %s", name);
            *slot = slotIdOfReader(i);
            return true;
        }
        g_slotState.put(key, 0);
    }

    // Vanished readers that still held a card.
    long key = 0;
    long state = 0;
    for (auto* e = g_slotState.getFirstEntry(); e;) {
        e = g_slotState.getNextEntry(e, key, state);
        if (state != 0 && !g_slotTable.containsKey(static_cast<int>(key))) {
            g_slotState.put(key, 0);  // replaces in place: the walk is over anyway
            *slot = static_cast<uint32_t>(key);
            logMessage("Event found for slot: %d ", static_cast<int>(key));
            logMessage("<- C_WaitForSlotEvent");
            return true;
        }
    }

    // Changes in the readers present, first in reader order.
    for (unsigned i = 0; i < g_readerNames.size(); ++i) {
        const char* name = g_readerNames[i];
        long slotKey = stateKey(slotIdOfReader(i));
        long last = 0;
        g_slotState.get(slotKey, last);
        bool present = card->ZT_isInserted(name) == 0;
        if (present == (last != 0)) continue;
        g_slotState.put(slotKey, present ? 1 : 0);
        logMessage("EventOccurred in %s", name);
        *slot = slotIdOfReader(i);
        return true;
    }
    return false;
}

}  // namespace

CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR) {
    logMessage("-> C_WaitForSlotEvent");
    CK_RV rv = frame::precheck({pSlot != nullptr});
    if (rv != CKR_OK) return rv;
    for (;;) {
        bool found = false;
        rv = frame::locked(nullptr, [&]() -> CK_RV {
            // C_Finalize may have run while this thread waited for the lock.
            if (!g_bInitialized.load()) return frame::notInitialised();
            found = slotEventPass(pSlot);
            return CKR_OK;
        });
        if (rv != CKR_OK) return rv;
        if (found) return CKR_OK;
        if (flags & CKF_DONT_BLOCK) {
            logMessage("No EventOccurred");
            return CKR_NO_EVENT;
        }
        platform::sleepMilliseconds(kWaitPollMilliseconds);
        if (!g_bInitialized.load()) return frame::notInitialised();
    }
}

// A minimal card-access library for the Windows start-up tests: one reader
// without a card. It counts ZT_open and ZT_close so a test can see the
// provider open and close it; TestCardCounters reads the counts.
#include <windows.h>

#include "CardFunctions.h"

namespace {

LONG s_opens = 0;
LONG s_closes = 0;

ZT_STATUS testOpen() {
    InterlockedIncrement(&s_opens);
    return 0;
}

ZT_STATUS testClose() {
    InterlockedIncrement(&s_closes);
    return 0;
}

ZT_STATUS testSlotList(OrlStringVector& readers) {
    readers.addElement("Quillon Test Reader 0");
    return 0;
}

ZT_STATUS testIsInserted(const char*) {
    return 1;
}  // no card

}  // namespace

extern "C" __declspec(dllexport) ZT_STATUS GetFunctionList(CardFunctions* table) {
    ZeroMemory(table, sizeof(*table));
    table->ZT_open = testOpen;
    table->ZT_close = testClose;
    table->ZT_getSlotList = testSlotList;
    table->ZT_isInserted = testIsInserted;
    return 0;
}

extern "C" __declspec(dllexport) void TestCardCounters(long* opens, long* closes) {
    *opens = InterlockedCompareExchange(&s_opens, 0, 0);
    *closes = InterlockedCompareExchange(&s_closes, 0, 0);
}

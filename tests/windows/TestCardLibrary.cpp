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

// The provider refuses a table with holes in its required entries: the card
// operations are there, and find no card.
constexpr ZT_STATUS kNoCard = 0x6A82;
ZT_STATUS noCard(ZT_HANDLE) {
    return kNoCard;
}
ZT_STATUS noCardPin(ZT_HANDLE, uint32_t, const char*) {
    return kNoCard;
}
ZT_STATUS noCardInitPin(ZT_HANDLE, const char*) {
    return kNoCard;
}
ZT_STATUS noCardRead(ZT_HANDLE, const char*, uint32_t, OrlByteArray&) {
    return kNoCard;
}
ZT_STATUS noCardTable(ZT_HANDLE, OrlByteArray&) {
    return kNoCard;
}
ZT_STATUS noCardApply(ZT_HANDLE, const char*, unsigned char, OrlByteArray&, OrlByteArray&) {
    return kNoCard;
}
ZT_STATUS noCardInfo(const char*, char*, char*, char*, char*) {
    return kNoCard;
}
ZT_STATUS noCardPublicKey(ZT_HANDLE, const char*, OrlByteArray&) {
    return kNoCard;
}

}  // namespace

extern "C" __declspec(dllexport) ZT_STATUS GetFunctionList(CardFunctions* table) {
    ZeroMemory(table, sizeof(*table));
    table->ZT_open = testOpen;
    table->ZT_close = testClose;
    table->ZT_getSlotList = testSlotList;
    table->ZT_isInserted = testIsInserted;
    table->ZT_disconnect = noCard;
    table->ZT_verifyPIN = noCardPin;
    table->ZT_changePIN = noCardPin;
    table->ZT_initPIN = noCardInitPin;
    table->ZT_readObj = noCardRead;
    table->ZT_getObjectTbl = noCardTable;
    table->ZT_putObjectTbl = noCardTable;
    table->ZT_applyPrivateKey = noCardApply;
    table->ZT_getTokenInfo = noCardInfo;
    table->ZT_getPublicKey = noCardPublicKey;
    return 0;
}

extern "C" __declspec(dllexport) void TestCardCounters(long* opens, long* closes) {
    *opens = InterlockedCompareExchange(&s_opens, 0, 0);
    *closes = InterlockedCompareExchange(&s_closes, 0, 0);
}

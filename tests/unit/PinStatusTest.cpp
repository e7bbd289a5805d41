// The per-call translations of card statuses in the PIN operations.
#include <gtest/gtest.h>

#include <string>

#include "PinStatus.h"
#include "SessionTable.h"

namespace {

struct Row {
    const char* call;
    const PinStatusTable* table;
    uint32_t status;
    CK_RV rv;
    bool storesTriesLeft;
    const char* logLine;
};

TEST(PinStatus, EachCallTranslatesAsItsTableSays) {
    const Row rows[] = {
        {"login", &kLoginStatuses, 0x63C2, CKR_PIN_INCORRECT, true, "<e> ZT_verifyPIN %x"},
        {"login", &kLoginStatuses, 0x6300, CKR_PIN_INCORRECT, true, "<e> ZT_verifyPIN %x"},
        {"login", &kLoginStatuses, 0x63CF, CKR_PIN_INCORRECT, true, "<e> ZT_verifyPIN %x"},
        {"login", &kLoginStatuses, 0x63D0, CKR_DEVICE_ERROR, false, "<e> ZT_verifyPIN %x"},
        {"login", &kLoginStatuses, 0x6A80, CKR_PIN_LOCKED, false, "<e> ZT_verifyPIN %x"},
        {"login", &kLoginStatuses, 0x6983, CKR_PIN_LOCKED, false, "<e> PIN LOCKED %x"},
        {"login", &kLoginStatuses, 0x6982, CKR_DEVICE_ERROR, false, "<e> ZT_verifyPIN %x"},
        {"login", &kLoginStatuses, 0xFFFFFFFF, CKR_DEVICE_ERROR, false, "<e> ZT_verifyPIN %x"},
        {"verify old", &kSetPinVerifyStatuses, 0x63C1, CKR_PIN_INCORRECT, true,
         "<e> ZT_verifyPIN %x"},
        {"verify old", &kSetPinVerifyStatuses, 0x6300, CKR_DEVICE_ERROR, false,
         "<e> ZT_verifyPIN %x"},
        {"verify old", &kSetPinVerifyStatuses, 0x63BF, CKR_DEVICE_ERROR, false,
         "<e> ZT_verifyPIN %x"},
        {"verify old", &kSetPinVerifyStatuses, 0x6A80, CKR_PIN_INCORRECT, false,
         "<e> ZT_verifyPIN %x"},
        {"verify old", &kSetPinVerifyStatuses, 0x6983, CKR_PIN_LOCKED, false, "<e> PIN LOCKED %x"},
        {"change", &kChangePinStatuses, 0x6983, CKR_PIN_INCORRECT, false, "<e> ZT_changePIN %x"},
        {"change", &kChangePinStatuses, 0x6A80, CKR_DEVICE_ERROR, false, "<e> ZT_changePIN %x"},
        {"change", &kChangePinStatuses, 0x63C2, CKR_DEVICE_ERROR, false, "<e> ZT_changePIN %x"},
        {"init", &kInitPinStatuses, 0x63C2, CKR_PIN_INCORRECT, false, "<e> ZT_initPIN %x"},
        {"init", &kInitPinStatuses, 0x6300, CKR_PIN_INCORRECT, false, "<e> ZT_initPIN %x"},
        {"init", &kInitPinStatuses, 0x6A80, CKR_PIN_LOCKED, false, "<e> ZT_initPIN %x"},
        {"init", &kInitPinStatuses, 0x6983, CKR_PIN_LOCKED, false, "<e> PIN LOCKED %x"},
        {"init", &kInitPinStatuses, 0x6D00, CKR_DEVICE_ERROR, false, "<e> ZT_initPIN %x"},
    };
    for (const Row& row : rows) {
        const PinStatusRule& rule = translatePinStatus(*row.table, row.status);
        SCOPED_TRACE(std::string(row.call) + " status " + std::to_string(row.status));
        EXPECT_EQ(rule.rv, row.rv);
        EXPECT_EQ(rule.storesTriesLeft, row.storesTriesLeft);
        EXPECT_STREQ(rule.logLine, row.logLine);
    }
}

TEST(SessionHandle, IsTheAddressLow32BitsWhenFree) {
    OrlHashtable<unsigned long, CSession*> table;
    EXPECT_EQ(chooseSessionHandle(0x00007F12345678A0ULL, table), 0x345678A0UL);
}

TEST(SessionHandle, NeverZeroAndNeverOneInUse) {
    OrlHashtable<unsigned long, CSession*> table;
    // Two live objects whose addresses agree in the low 32 bits.
    unsigned long first = chooseSessionHandle(0x00007F0000001000ULL, table);
    table.put(first, nullptr);
    unsigned long second = chooseSessionHandle(0x00007E0000001000ULL, table);
    EXPECT_NE(second, first);
    EXPECT_FALSE(table.containsKey(second));
    table.put(second, nullptr);
    unsigned long third = chooseSessionHandle(0x0000000000001000ULL, table);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);

    EXPECT_NE(chooseSessionHandle(0x00007F0100000000ULL, table), 0UL);
    table.put(1, nullptr);
    unsigned long afterZero = chooseSessionHandle(0x0000000100000000ULL, table);
    EXPECT_NE(afterZero, 0UL);
    EXPECT_NE(afterZero, 1UL);
}

}  // namespace

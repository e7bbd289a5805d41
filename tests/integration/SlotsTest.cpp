// Slot IDs, the slot list, slot and token information, and the mechanisms.
#include <cstring>
#include <ctime>

#include "ProviderFixture.h"

namespace {

class Slots : public ProviderFixture {
protected:
    void initialise() {
        loadProvider();
        ASSERT_NE(p11, nullptr);
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    }
    std::vector<CK_SLOT_ID> slotList(CK_BBOOL present) {
        CK_ULONG count = 0;
        EXPECT_RV(CKR_OK, p11->C_GetSlotList(present, nullptr, &count));
        std::vector<CK_SLOT_ID> ids(count);
        EXPECT_RV(CKR_OK, p11->C_GetSlotList(present, ids.data(), &count));
        ids.resize(count);
        return ids;
    }
};

TEST_F(Slots, SlotIdsAreHashesOfReaderNames) {
    EXPECT_EQ(slotIdOf("AB"), 2471u);
    cardsim_addReader("AB", true);
    // 17 characters: every second character is hashed with factor 39.
    std::string longName = "ACS ACR38U-CCID 0";
    cardsim_addReader(longName, false);
    initialise();
    uint32_t h = 0;
    for (size_t i = 0; i < longName.size(); i += 2) h = h * 39u + static_cast<uint8_t>(longName[i]);
    EXPECT_EQ(slotList(CK_FALSE), (std::vector<CK_SLOT_ID>{2471u, h}));
}

TEST_F(Slots, TwoReadersHashingAlikeGetTwoSlotsEachReachingItsToken) {
    // 'A' * 37 + 'B' == 'B' * 37 + 29: the two names share the hash 2471.
    std::string other = std::string("B") + static_cast<char>(29);
    ASSERT_EQ(slotIdOf(other), slotIdOf("AB"));
    // Listed first, but "AB" sorts first and keeps the hash: the order the
    // readers are listed in does not change their IDs.
    cardsim_addReader(other, true);
    cardsim_addReader("AB", true);
    cardsim_setTokenInfo(other, "S2", "second", "m", "x");
    cardsim_setTokenInfo("AB", "S1", "first", "m", "x");
    initialise();
    EXPECT_EQ(slotList(CK_FALSE), (std::vector<CK_SLOT_ID>{2472u, 2471u}));
    auto description = [&](CK_SLOT_ID id) {
        CK_SLOT_INFO info;
        EXPECT_RV(CKR_OK, p11->C_GetSlotInfo(id, &info));
        return std::string(reinterpret_cast<char*>(info.slotDescription), 64);
    };
    EXPECT_EQ(description(2471), "AB" + std::string(62, ' '));
    EXPECT_EQ(description(2472), other + std::string(62, ' '));
    CK_TOKEN_INFO token;
    ASSERT_RV(CKR_OK, p11->C_GetTokenInfo(2472, &token));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(token.label), 6), "second");
    CK_SESSION_HANDLE h = 0;
    ASSERT_RV(CKR_OK, p11->C_OpenSession(2472, CKF_SERIAL_SESSION, nullptr, nullptr, &h));
    CK_SESSION_INFO sessionInfo;
    ASSERT_RV(CKR_OK, p11->C_GetSessionInfo(h, &sessionInfo));
    EXPECT_EQ(sessionInfo.slotID, 2472u);
}

TEST_F(Slots, ACollidingReaderSkipsIdsThatAreOtherReadersHashes) {
    // 2472 is the hash of "AC", which keeps it; "B\x1d" takes 2473.
    std::string other = std::string("B") + static_cast<char>(29);
    ASSERT_EQ(slotIdOf("AC"), 2472u);
    cardsim_addReader("AB", false);
    cardsim_addReader(other, false);
    cardsim_addReader("AC", false);
    initialise();
    EXPECT_EQ(slotList(CK_FALSE), (std::vector<CK_SLOT_ID>{2471u, 2473u, 2472u}));
}

TEST_F(Slots, IdenticalReaderModelsDifferingInTheirIndexAreTwoSlots) {
    // Of names of 16 characters or more only some characters are hashed.
    const std::string first = "Alcor Micro AU9540 00 00", second = "Alcor Micro AU9540 01 00";
    ASSERT_EQ(slotIdOf(first), 0x78cf6d1fu);
    ASSERT_EQ(slotIdOf(second), 0x78cf6d1fu);
    cardsim_addReader(second, true);
    cardsim_addReader(first, false);
    initialise();
    EXPECT_EQ(slotList(CK_FALSE), (std::vector<CK_SLOT_ID>{0x78cf6d20u, 0x78cf6d1fu}));
    EXPECT_EQ(slotList(CK_TRUE), (std::vector<CK_SLOT_ID>{0x78cf6d20u}));
    // Stable across lists, and a reader whose hash is free keeps it exactly.
    cardsim_addReader("R1", false);
    EXPECT_EQ(slotList(CK_FALSE),
              (std::vector<CK_SLOT_ID>{0x78cf6d20u, 0x78cf6d1fu, slotIdOf("R1")}));
}

TEST_F(Slots, SlotListCountsFiltersAndReportsSmallBuffers) {
    cardsim_addReader("R1", false);
    cardsim_addReader("R2", true);
    initialise();
    EXPECT_EQ(slotList(CK_FALSE).size(), 2u);
    EXPECT_EQ(slotList(CK_TRUE), (std::vector<CK_SLOT_ID>{slotIdOf("R2")}));

    CK_SLOT_ID ids[2] = {0, 0};
    CK_ULONG count = 0;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_GetSlotList(CK_TRUE, ids, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(ids[0], 0u);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GetSlotList(CK_TRUE, ids, nullptr));

    // A reader plugged in after initialisation is a slot at the next list.
    cardsim_addReader("R3", true);
    EXPECT_EQ(slotList(CK_TRUE), (std::vector<CK_SLOT_ID>{slotIdOf("R2"), slotIdOf("R3")}));
    CK_SLOT_INFO info;
    EXPECT_RV(CKR_OK, p11->C_GetSlotInfo(slotIdOf("R3"), &info));
}

TEST_F(Slots, SlotInfoFieldByField) {
    std::string name64(64, 'n');
    cardsim_addReader("Short", false);
    cardsim_addReader(name64, true);
    initialise();

    CK_SLOT_INFO info;
    std::memset(&info, 0xAB, sizeof(info));
    ASSERT_RV(CKR_OK, p11->C_GetSlotInfo(slotIdOf("Short"), &info));
    // Blank-padded, no terminating zero.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.slotDescription), 64),
              "Short" + std::string(59, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.manufacturerID), 32),
              "unknown" + std::string(25, ' '));
    EXPECT_EQ(info.flags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT);
    EXPECT_EQ(info.hardwareVersion.major, 0xFF);
    EXPECT_EQ(info.hardwareVersion.minor, 0xFF);
    EXPECT_EQ(info.firmwareVersion.major, 0xFF);

    ASSERT_RV(CKR_OK, p11->C_GetSlotInfo(slotIdOf(name64), &info));
    EXPECT_EQ(std::memcmp(info.slotDescription, name64.data(), 64), 0);  // no zero byte
    EXPECT_EQ(info.flags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | CKF_TOKEN_PRESENT);

    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetSlotInfo(77, &info));
    if (sizeof(CK_SLOT_ID) > 4) {
        // A 64-bit slot ID whose low 32 bits name a slot is still no slot
        // (Windows' 32-bit CK_SLOT_ID cannot carry the high bits).
        const CK_SLOT_ID high = static_cast<CK_SLOT_ID>(0x100000000ULL);
        EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetSlotInfo(high + slotIdOf("Short"), &info));
    }
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GetSlotInfo(slotIdOf("Short"), nullptr));
}

TEST_F(Slots, TokenInfoFieldByField) {
    cardsim_addReader(kReader, true);
    // The model is cut inside its last character, a two-byte one.
    cardsim_setTokenInfo(kReader, "SER-42", "My Label",
                         "A manufacturer whose name is longer than 32",
                         std::string(15, 'M') + "\xc3\xa9");
    initialise();
    CK_TOKEN_INFO info;
    std::memset(&info, 0xAB, sizeof(info));
    ASSERT_RV(CKR_OK, p11->C_GetTokenInfo(slotIdOf(kReader), &info));
    auto field = [](const CK_UTF8CHAR* f, size_t n) {
        return std::string(reinterpret_cast<const char*>(f), n);
    };
    // Blank-padded with no terminating zero (a zero byte ended up in URIs
    // built from the label).
    EXPECT_EQ(field(info.serialNumber, 16), "SER-42          ");
    EXPECT_EQ(field(info.label, 32), "My Label                        ");
    EXPECT_EQ(field(info.manufacturerID, 32), "A manufacturer whose name is lon");
    EXPECT_EQ(field(info.model, 16), std::string(15, 'M') + " ");
    // No CKF_DUAL_CRYPTO_OPERATIONS: one operation at a time.
    EXPECT_EQ(info.flags,
              CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED);
    EXPECT_EQ(info.flags, 0x40Du);
    EXPECT_EQ(info.ulMaxSessionCount, 0u);
    EXPECT_EQ(info.ulMaxRwSessionCount, 0u);
    EXPECT_EQ(info.ulMaxPinLen, 8u);
    EXPECT_EQ(info.ulMinPinLen, 4u);
    EXPECT_EQ(info.ulTotalPublicMemory, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(info.ulFreePublicMemory, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(info.ulTotalPrivateMemory, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(info.ulFreePrivateMemory, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(info.hardwareVersion.major, 0xFF);
    EXPECT_EQ(info.firmwareVersion.minor, 0xFF);

    // Local time, 14 digits and "00".
    std::string clock = field(info.utcTime, 16);
    EXPECT_EQ(clock.substr(14), "00");
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char year[8];
    std::strftime(year, sizeof(year), "%Y", &local);
    EXPECT_EQ(clock.substr(0, 4), year);
}

TEST_F(Slots, TokenInfoOfAnEmptyReaderOrAFailingCard) {
    cardsim_addReader(kReader, false);
    initialise();
    CK_TOKEN_INFO info;
    EXPECT_RV(CKR_DEVICE_REMOVED, p11->C_GetTokenInfo(slotIdOf(kReader), &info));
    cardsim_insertCard(kReader);
    cardsim_script(kZtGetTokenInfo, 0x6F00);
    EXPECT_RV(CKR_DEVICE_ERROR, p11->C_GetTokenInfo(slotIdOf(kReader), &info));
    EXPECT_RV(CKR_OK, p11->C_GetTokenInfo(slotIdOf(kReader), &info));
    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetTokenInfo(5, &info));
}

TEST_F(Slots, NineteenMechanismsWithStandardSizesAndTheFlagsOfWhatTheyDo) {
    cardsim_addReader(kReader, true);
    initialise();
    CK_SLOT_ID slot = slotIdOf(kReader);
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, p11->C_GetMechanismList(slot, nullptr, &count));
    EXPECT_EQ(count, 19u);
    std::vector<CK_MECHANISM_TYPE> list(19);
    count = 18;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_GetMechanismList(slot, list.data(), &count));
    EXPECT_EQ(count, 19u);
    list.resize(25, 0xEE);
    count = 25;
    ASSERT_RV(CKR_OK, p11->C_GetMechanismList(slot, list.data(), &count));
    EXPECT_EQ(count, 19u);
    EXPECT_EQ(list[19], 0xEEu);

    struct Row {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    } expected[] = {
        // RSA in bits, 1024..4096; AES in bytes; ciphers wrap and unwrap; raw
        // RSA encrypts too; secret-key generators say CKF_GENERATE (0x8000).
        {0x1, 1024, 4096, 0x62B01}, {0x0, 1024, 4096, 0x10001}, {0x4, 1024, 4096, 0x2801},
        {0x5, 1024, 4096, 0x2801},  {0x6, 1024, 4096, 0x2801},  {0x200, 1024, 4096, 0x400},
        {0x210, 1024, 4096, 0x400}, {0x220, 1024, 4096, 0x400}, {0x80000001, 1024, 4096, 0x60301},
        {0x3, 1024, 4096, 0x60301}, {0x122, 64, 64, 0x60300},   {0x121, 64, 64, 0x60300},
        {0x120, 64, 64, 0x8000},    {0x133, 128, 128, 0x60300}, {0x132, 128, 128, 0x60300},
        {0x131, 128, 128, 0x8000},  {0x1082, 16, 32, 0x60300},  {0x1081, 16, 32, 0x60300},
        {0x1080, 16, 32, 0x8000},
    };
    for (size_t i = 0; i < 19; ++i) {
        EXPECT_EQ(list[i], expected[i].type) << i;
        CK_MECHANISM_INFO info = {0, 0, 0};
        ASSERT_RV(CKR_OK, p11->C_GetMechanismInfo(slot, expected[i].type, &info));
        EXPECT_EQ(info.ulMinKeySize, expected[i].min) << i;
        EXPECT_EQ(info.ulMaxKeySize, expected[i].max) << i;
        EXPECT_EQ(info.flags, expected[i].flags) << i;
    }
    CK_MECHANISM_INFO info = {1, 2, 0x77};
    EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_GetMechanismInfo(slot, CKM_RSA_9796, &info));
    EXPECT_EQ(info.ulMinKeySize, 1024u);
    EXPECT_EQ(info.ulMaxKeySize, 4096u);
    EXPECT_EQ(info.flags, 0x77u);
    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetMechanismList(9, nullptr, &count));
    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetMechanismInfo(9, CKM_SHA_1, &info));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GetMechanismList(slot, nullptr, nullptr));
    // The lock is free again after the slot errors.
    EXPECT_RV(CKR_OK, p11->C_GetMechanismList(slot, nullptr, &count));
}

}  // namespace

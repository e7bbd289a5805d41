// The per-slot state and the session class over a fake card table, without
// the exported functions: what the API cannot show.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "CSession.h"
#include "C11Data.h"
#include "CSessionData.h"
#include "CardLibrary.h"

namespace {

const char* const kReader = "Unit Reader";

struct FakeCard {
    bool present = true;
    uint32_t verifyStatus = 0;
    int connects = 0;
    std::map<ZT_HANDLE, int> disconnects;
    ZT_HANDLE nextHandle = 0x100;
};
FakeCard s_card;

ZT_STATUS fakeConnect(const char*, ZT_HANDLE* handle) {
    ++s_card.connects;
    *handle = s_card.nextHandle++;
    return 0;
}
ZT_STATUS fakeDisconnect(ZT_HANDLE handle) {
    ++s_card.disconnects[handle];
    return 0;
}
ZT_STATUS fakeIsInserted(const char*) {
    return s_card.present ? 0 : 1;
}
ZT_STATUS fakeVerify(ZT_HANDLE, uint32_t, const char*) {
    return s_card.verifyStatus;
}

class SessionData : public ::testing::Test {
protected:
    void SetUp() override {
        s_card = FakeCard();
        m_table = CardFunctions();
        m_table.ZT_connect = fakeConnect;
        m_table.ZT_disconnect = fakeDisconnect;
        m_table.ZT_isInserted = fakeIsInserted;
        m_table.ZT_verifyPIN = fakeVerify;
        m_previous = cardFunctions();
        publishCardFunctions(&m_table);
    }
    void TearDown() override {
        EXPECT_EQ(CSessionData::tableSize(), 0u);
        publishCardFunctions(m_previous);
    }
    CardFunctions m_table;
    CardFunctions* m_previous = nullptr;
    const CK_SLOT_ID m_slot = 42;
};

TEST_F(SessionData, WrongPinStatusesRecordTriesLeft) {
    CSession session(m_slot, kReader, CKF_SERIAL_SESSION);
    CK_USER_TYPE user = CKU_USER;
    s_card.verifyStatus = 0x63C2;
    EXPECT_EQ(session.login(&user, "0000"), CKR_PIN_INCORRECT);
    EXPECT_EQ(session.sessionData()->m_ulPinTriesLeft, 2u);
    s_card.verifyStatus = 0x6A80;  // no tries-left information: kept
    EXPECT_EQ(session.login(&user, "0000"), CKR_PIN_LOCKED);
    EXPECT_EQ(session.sessionData()->m_ulPinTriesLeft, 2u);
    s_card.verifyStatus = 0x6300;  // below 0x63C0: wraps as a 32-bit value
    EXPECT_EQ(session.login(&user, "0000"), CKR_PIN_INCORRECT);
    EXPECT_EQ(session.sessionData()->m_ulPinTriesLeft, 0xFFFFFF40u);
    EXPECT_EQ(session.sessionData()->m_ulUserType, kNoUserType);
    s_card.verifyStatus = 0;
    EXPECT_EQ(session.login(&user, "1234"), CKR_OK);
    EXPECT_EQ(session.getUserType(), CKU_USER);
}

TEST_F(SessionData, RemovalReachesOnlySessionsStillAlive) {
    auto* gone = new CSession(m_slot, kReader, CKF_SERIAL_SESSION);
    CSession stays(m_slot, kReader, CKF_SERIAL_SESSION | CKF_RW_SESSION);
    CSessionData* data = stays.sessionData();
    EXPECT_EQ(data, gone->sessionData());
    EXPECT_EQ(data->m_ulRefCount, 2u);
    delete gone;  // must leave the slot's session list with its reference
    EXPECT_EQ(data->m_ulRefCount, 1u);

    data->smartCardRemoved(kReader);  // would call into the deleted session otherwise
    EXPECT_TRUE(stays.isRemoved());
    EXPECT_TRUE(stays.isClosed());
    EXPECT_EQ(stays.guard(), CKR_DEVICE_REMOVED);
    EXPECT_EQ(stays.getUserType(), CKR_DEVICE_REMOVED);  // accessors answer the guard
    EXPECT_EQ(stays.close(), CKR_DEVICE_REMOVED);
    EXPECT_EQ(data->m_hConnection, 0u);
    EXPECT_EQ(s_card.disconnects[0x100], 1);
}

TEST_F(SessionData, EventsForAnotherReaderChangeNothing) {
    CSession session(m_slot, kReader, CKF_SERIAL_SESSION);
    CSessionData* data = session.sessionData();
    data->smartCardRemoved("Unit Reader 2");
    data->readerRemoved("unit reader");  // names compare case-sensitively
    data->smartCardInserted("Other", 0);
    EXPECT_EQ(data->m_bIsTokenPresent, 1);
    EXPECT_FALSE(session.isClosed());
    EXPECT_EQ(s_card.connects, 1);
    EXPECT_TRUE(s_card.disconnects.empty());

    data->readerRemoved(kReader);  // the same as a card removal
    EXPECT_EQ(data->m_bIsTokenPresent, 0);
    EXPECT_TRUE(session.isRemoved());
    data->smartCardInserted(kReader, 0);
    EXPECT_EQ(data->m_bIsTokenPresent, 1);
    EXPECT_EQ(data->m_hConnection, 0x101u);
    EXPECT_EQ(data->m_ulUserType, kNoUserType);
}

TEST_F(SessionData, ClosedSessionKeepsItsReferenceUntilDeleted) {
    auto* first = new CSession(m_slot, kReader, CKF_SERIAL_SESSION);
    EXPECT_EQ(first->close(), CKR_OK);
    EXPECT_EQ(first->close(), CKR_SESSION_CLOSED);
    EXPECT_EQ(first->isReadOnly(), CKR_SESSION_CLOSED);
    EXPECT_EQ(CSessionData::tableSize(), 1u);
    EXPECT_TRUE(s_card.disconnects.empty());
    delete first;
    EXPECT_EQ(CSessionData::tableSize(), 0u);
    EXPECT_EQ(s_card.disconnects[0x100], 1);
}

TEST_F(SessionData, NoCardMeansNoStateAndTheThrownCode) {
    s_card.present = false;
    try {
        CSession session(m_slot, kReader, CKF_SERIAL_SESSION);
        FAIL() << "opened without a card";
    } catch (uint32_t code) {
        EXPECT_EQ(code, CKR_DEVICE_REMOVED);
    }
    m_table.ZT_connect = nullptr;
    s_card.present = true;
    try {
        CSession session(m_slot, kReader, CKF_SERIAL_SESSION);
        FAIL() << "opened without ZT_connect";
    } catch (uint32_t code) {
        EXPECT_EQ(code, CKR_GENERAL_ERROR);
    }
    EXPECT_EQ(s_card.connects, 0);
}

TEST_F(SessionData, CloseDeletesOnlyTheSessionsOwnObjects) {
    CSession mine(m_slot, kReader, CKF_SERIAL_SESSION);
    CSession other(m_slot, kReader, CKF_SERIAL_SESSION);
    CObjectTable& table = mine.sessionData()->m_objectTable;
    CK_OBJECT_HANDLE seven = mine.addSessionObject(new C11Data(0x100));
    CK_OBJECT_HANDLE eight = other.addSessionObject(new C11Data(0x100));
    CK_OBJECT_HANDLE nine = mine.addSessionObject(new C11Data(0x100));
    mine.m_sessionObjects.addElement(COwnedObject{12, 99});  // destroyed meanwhile: skipped
    // Another object under a handle of mine: not mine, so it stays.
    CK_OBJECT_HANDLE gone = mine.addSessionObject(new C11Data(0x100));
    table.removeObject(gone);
    C11Data* later = new C11Data(0x100);
    later->setSessionHandle(gone);
    table.put(gone, later);
    EXPECT_EQ(mine.close(), CKR_OK);
    EXPECT_TRUE(mine.m_sessionObjects.isEmpty());
    EXPECT_FALSE(table.containsKey(seven));
    EXPECT_FALSE(table.containsKey(nine));
    EXPECT_TRUE(table.containsKey(eight));
    EXPECT_TRUE(table.containsKey(gone));
}

}  // namespace

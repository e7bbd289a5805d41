// Opening, sharing, closing and describing sessions.
#include <set>

#include "SessionTestSupport.h"

namespace {

class Sessions : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
    }
    CK_RV open(CK_SLOT_ID slot, CK_SESSION_HANDLE* session,
               CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION) {
        return p11->C_OpenSession(slot, flags, nullptr, nullptr, session);
    }
    CK_RV info(CK_SESSION_HANDLE session, CK_SESSION_INFO* out) {
        return p11->C_GetSessionInfo(session, out);
    }
    void reinitialise() {
        ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    }
};

TEST_F(Sessions, SessionsOfOneSlotShareOneConnectionUntilTheLastCloses) {
    CK_SESSION_HANDLE first = openSession();
    CK_SESSION_HANDLE second = openSession(CKF_SERIAL_SESSION);
    EXPECT_NE(first, second);
    EXPECT_EQ(cardsim_callCount(kZtConnect), 1u);
    EXPECT_EQ(cardsim_connectionCount(), 1u);

    EXPECT_RV(CKR_OK, p11->C_CloseSession(first));
    EXPECT_EQ(cardsim_callCount(kZtDisconnect), 0u);
    CK_SESSION_INFO out;
    EXPECT_RV(CKR_OK, info(second, &out));

    EXPECT_RV(CKR_OK, p11->C_CloseSession(second));
    EXPECT_EQ(cardsim_callCount(kZtDisconnect), 1u);
    EXPECT_EQ(cardsim_connectionCount(), 0u);
    // The next session connects afresh.
    openSession();
    EXPECT_EQ(cardsim_callCount(kZtConnect), 2u);
}

TEST_F(Sessions, EmptyReaderRefusesTheOpenAndKeepsNoState) {
    cardsim_addReader("Empty", false);
    CK_SLOT_ID empty = slotIdOf("Empty");
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));  // learn the new reader

    CK_SESSION_HANDLE session = 0x5EED;
    EXPECT_RV(CKR_DEVICE_REMOVED, open(empty, &session));
    EXPECT_EQ(session, 0x5EEDu);
    EXPECT_RV(CKR_DEVICE_REMOVED, open(empty, &session));
    EXPECT_EQ(cardsim_callCount(kZtConnect), 0u);

    // Nothing stale was kept: a card put in now is used at once.
    cardsim_insertCard("Empty");
    EXPECT_RV(CKR_OK, open(empty, &session));
    EXPECT_EQ(cardsim_callCount(kZtConnect), 1u);
}

TEST_F(Sessions, FirstConnectFailureIsRetriedOnceAfterADisconnect) {
    cardsim_script(kZtConnect, 0x6F00, 1);
    CK_SESSION_HANDLE session = 0;
    ASSERT_RV(CKR_OK, open(m_slot, &session));
    std::vector<int> order;
    for (const CardSimCall& call : cardsim_calls()) {
        if (call.entry == kZtConnect || call.entry == kZtDisconnect) order.push_back(call.entry);
    }
    EXPECT_EQ(order, (std::vector<int>{kZtConnect, kZtDisconnect, kZtConnect}));
    CK_SESSION_INFO out;
    EXPECT_RV(CKR_OK, info(session, &out));
}

TEST_F(Sessions, TwoConnectFailuresGiveDeviceErrorAndNoState) {
    cardsim_script(kZtConnect, 0x6F00, 2);
    CK_SESSION_HANDLE session = 0;
    EXPECT_RV(CKR_DEVICE_ERROR, open(m_slot, &session));
    EXPECT_EQ(session, 0u);
    EXPECT_RV(CKR_OK, open(m_slot, &session));
    EXPECT_EQ(cardsim_callCount(kZtConnect), 3u);
}

TEST_F(Sessions, OpenChecksArgumentsThenFlagsThenSlot) {
    CK_SESSION_HANDLE session = 0;
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_OpenSession(m_slot, 0, nullptr, nullptr, nullptr));
    EXPECT_RV(CKR_SESSION_PARALLEL_NOT_SUPPORTED, open(0xBAD, &session, CKF_RW_SESSION));
    EXPECT_RV(CKR_SLOT_ID_INVALID, open(m_slot + 1, &session));
    EXPECT_RV(CKR_SLOT_ID_INVALID, open(m_slot | (1ULL << 40), &session));
    EXPECT_EQ(session, 0u);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_CloseSession(0));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(12345));
    CK_SESSION_INFO out;
    EXPECT_RV(CKR_ARGUMENTS_BAD, info(0, &out));
    EXPECT_RV(CKR_ARGUMENTS_BAD, info(openSession(), nullptr));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, info(12345, &out));
    EXPECT_EQ(cardsim_callCount(kZtConnect), 1u);
}

TEST_F(Sessions, HandlesAreNonZeroAndUniqueAmongOpenSessions) {
    std::set<CK_SESSION_HANDLE> handles;
    std::vector<CK_SESSION_HANDLE> opened;
    for (int i = 0; i < 40; ++i) {
        CK_SESSION_HANDLE h = openSession();
        EXPECT_NE(h, 0u);
        EXPECT_LE(h, 0xFFFFFFFFu);
        handles.insert(h);
        opened.push_back(h);
        if (i % 3 == 0) {  // handles may come back after a close, never while open
            EXPECT_RV(CKR_OK, p11->C_CloseSession(h));
            handles.erase(h);
            opened.pop_back();
        }
    }
    EXPECT_EQ(handles.size(), opened.size());
    for (CK_SESSION_HANDLE h : opened) EXPECT_RV(CKR_OK, p11->C_CloseSession(h));
}

TEST_F(Sessions, ReaderNameTooLongForASessionIsRefusedNotCut) {
    std::string longName(300, 'L');
    std::string fits(255, 'F');
    cardsim_addReader(longName, true);
    cardsim_addReader(fits, true);
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    CK_SESSION_HANDLE session = 0;
    EXPECT_RV(CKR_DEVICE_ERROR, open(slotIdOf(longName), &session));
    EXPECT_EQ(session, 0u);
    EXPECT_EQ(cardsim_callCount(kZtConnect), 0u);
    EXPECT_RV(CKR_OK, open(slotIdOf(fits), &session));
    ASSERT_EQ(cardsim_callCount(kZtConnect), 1u);
    EXPECT_EQ(cardsim_calls(kZtConnect)[0].text, fits);
}

TEST_F(Sessions, SessionInfoStateForEveryLoginAndMode) {
    CK_SESSION_HANDLE ro = openSession(CKF_SERIAL_SESSION);
    CK_SESSION_HANDLE rw = openSession(CKF_SERIAL_SESSION | CKF_RW_SESSION);
    CK_SESSION_INFO out;
    struct Expect {
        CK_SESSION_HANDLE session;
        CK_STATE state;
        CK_FLAGS flags;
    };
    auto check = [&](const char* when, std::initializer_list<Expect> rows) {
        for (const Expect& row : rows) {
            SCOPED_TRACE(std::string(when) + (row.session == ro ? " read-only" : " read/write"));
            out.ulDeviceError = 0xD0D0;
            ASSERT_RV(CKR_OK, info(row.session, &out));
            EXPECT_EQ(out.slotID, m_slot);
            EXPECT_EQ(out.state, row.state);
            EXPECT_EQ(out.flags, row.flags);
            EXPECT_EQ(out.ulDeviceError, 0xD0D0u);  // left as the caller had it
        }
    };
    const CK_FLAGS roFlags = CKF_SERIAL_SESSION, rwFlags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    check("nobody", {{ro, CKS_RO_PUBLIC_SESSION, roFlags}, {rw, CKS_RW_PUBLIC_SESSION, rwFlags}});
    login(ro, CKU_USER);  // through one session, seen by both
    check("user", {{ro, CKS_RO_USER_FUNCTIONS, roFlags}, {rw, CKS_RW_USER_FUNCTIONS, rwFlags}});
    ASSERT_RV(CKR_OK, p11->C_Logout(rw));
    login(ro, CKU_SO);
    check("SO", {{ro, CKS_RW_SO_FUNCTIONS, roFlags}, {rw, CKS_RW_SO_FUNCTIONS, rwFlags}});
}

TEST_F(Sessions, CloseAllClosesOnlyThatSlotsSessionsRemovedOnesIncluded) {
    cardsim_addReader("Other", true);
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    CK_SESSION_HANDLE other = 0;
    ASSERT_RV(CKR_OK, open(slotIdOf("Other"), &other));
    std::vector<CK_SESSION_HANDLE> mine;
    for (int i = 0; i < 5; ++i) mine.push_back(openSession());

    cardsim_removeCard(kReader);  // the monitor closes and marks this slot's sessions
    CK_SESSION_INFO out;
    ASSERT_TRUE(waitUntil([&] { return info(mine[0], &out) == CKR_SESSION_CLOSED; }));
    cardsim_insertCard(kReader);
    ASSERT_TRUE(waitUntil([&] { return cardsim_callCount(kZtConnect) == 3; }));
    mine.push_back(openSession());  // an open one among the removed ones

    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_CloseAllSessions(m_slot + 1));
    EXPECT_RV(CKR_OK, p11->C_CloseAllSessions(m_slot));
    for (CK_SESSION_HANDLE h : mine) EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(h));
    EXPECT_RV(CKR_OK, info(other, &out));
    EXPECT_EQ(cardsim_connectionCount(), 1u);            // only the other slot's
    EXPECT_RV(CKR_OK, p11->C_CloseAllSessions(m_slot));  // nothing left to close
}

TEST_F(Sessions, FinalizeClosesEverySessionAndDisconnects) {
    cardsim_addReader("Other", true);
    reinitialise();
    openSession();
    openSession(CKF_SERIAL_SESSION);
    CK_SESSION_HANDLE other = 0;
    ASSERT_RV(CKR_OK, open(slotIdOf("Other"), &other));
    ASSERT_EQ(cardsim_connectionCount(), 2u);

    reinitialise();
    EXPECT_EQ(cardsim_connectionCount(), 0u);
    CK_SESSION_INFO out;
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, info(other, &out));
    CK_TOKEN_INFO token;
    ASSERT_RV(CKR_OK, p11->C_GetTokenInfo(m_slot, &token));
    EXPECT_EQ(token.ulSessionCount, 0u);
    // The slot state went with its sessions: a new session connects again.
    openSession();
    EXPECT_EQ(cardsim_connectionCount(), 1u);
}

TEST_F(Sessions, TokenInfoCountsSessionsOfAllSlots) {
    openSession(CKF_SERIAL_SESSION);
    openSession();
    openSession();
    CK_TOKEN_INFO token;
    ASSERT_RV(CKR_OK, p11->C_GetTokenInfo(m_slot, &token));
    EXPECT_EQ(token.ulSessionCount, 3u);
    EXPECT_EQ(token.ulRwSessionCount, 2u);
}

}  // namespace

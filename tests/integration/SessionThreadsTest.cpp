// Several application threads open, use and close sessions while cards leave
// and come back and the reader monitor reports it. Also run under
// ThreadSanitizer (scripts/test.d/tsan.sh).
#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <set>

#include "SessionTestSupport.h"

namespace {

using namespace std::chrono_literals;

class SessionThreads : public ProviderFixture {
protected:
    void record(const char* call, CK_RV rv) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_results[std::string(call) + " " + rvName(rv)];
        if (rv == CKR_SESSION_CLOSED) ++m_closedByRemoval;
    }
    std::mutex m_mutex;
    std::map<std::string, int> m_results;
    int m_closedByRemoval = 0;
};

TEST_F(SessionThreads, OpenUseAndCloseWhileCardsComeAndGo) {
    const char* readers[] = {"T0", "T1"};
    for (const char* r : readers) cardsim_addReader(r, true);
    loadProvider();
    ASSERT_NE(p11, nullptr);
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    int idle = threadCount();

    std::atomic<bool> stop{false};
    auto worker = [&](int id) {
        CK_SLOT_ID slot = slotIdOf(readers[id % 2]);
        // One session kept across rounds, to be caught by a removal.
        CK_SESSION_HANDLE kept = 0;
        for (int round = 0; !stop; ++round) {
            CK_SESSION_INFO keptInfo;
            if (!kept) {
                record("open",
                       p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &kept));
            } else if (CK_RV rv = p11->C_GetSessionInfo(kept, &keptInfo); rv != CKR_OK) {
                record("info", rv);
                record("close", p11->C_CloseSession(kept));
                kept = 0;
            }
            CK_SESSION_HANDLE s = 0;
            CK_RV rv = p11->C_OpenSession(
                slot, CKF_SERIAL_SESSION | (round % 2 ? CKF_RW_SESSION : 0), nullptr, nullptr, &s);
            record("open", rv);
            if (rv != CKR_OK) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            CK_SESSION_INFO info;
            record("info", p11->C_GetSessionInfo(s, &info));
            record("login", p11->C_Login(s, CKU_USER, pinBytes(kUserPin), 4));
            CK_TOKEN_INFO token;
            record("token", p11->C_GetTokenInfo(slot, &token));
            std::this_thread::sleep_for(std::chrono::milliseconds(id * 7 % 20));
            record("info", p11->C_GetSessionInfo(s, &info));
            record("logout", p11->C_Logout(s));
            if (id == 3 && round % 25 == 0) record("closeAll", p11->C_CloseAllSessions(slot));
            record("close", p11->C_CloseSession(s));
        }
        if (kept) record("close", p11->C_CloseSession(kept));
    };
    auto events = [&] {
        while (!stop) {
            CK_SLOT_ID slot = 0;
            record("event", p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
            std::this_thread::sleep_for(40ms);
        }
    };
    std::vector<std::future<void>> running;
    for (int id = 0; id < 4; ++id) running.push_back(std::async(std::launch::async, worker, id));
    running.push_back(std::async(std::launch::async, events));

    // Each removal outlasts a monitor poll, so sessions see it closed.
    for (int i = 0; i < 6; ++i) {
        const char* reader = readers[i % 2];
        cardsim_removeCard(reader);
        std::this_thread::sleep_for(450ms);
        cardsim_insertCard(reader);
        std::this_thread::sleep_for(150ms);
    }
    stop = true;
    for (auto& f : running) ASSERT_EQ(f.wait_for(20s), std::future_status::ready) << "deadlock";

    const std::set<CK_RV> allowed = {CKR_OK,
                                     CKR_NO_EVENT,
                                     CKR_DEVICE_REMOVED,
                                     CKR_DEVICE_ERROR,
                                     CKR_SESSION_CLOSED,
                                     CKR_SESSION_HANDLE_INVALID,
                                     CKR_USER_NOT_LOGGED_IN};
    std::set<std::string> allowedNames;
    for (const char* call :
         {"open", "info", "login", "token", "logout", "closeAll", "close", "event"}) {
        for (CK_RV rv : allowed) allowedNames.insert(std::string(call) + " " + rvName(rv));
    }
    for (const auto& result : m_results) {
        EXPECT_TRUE(allowedNames.count(result.first)) << result.first << " x" << result.second;
    }
    EXPECT_GT(m_results["open " + rvName(CKR_OK)], 20);
    EXPECT_GT(m_closedByRemoval, 0) << "no session learned of a removal";

    // Every session was closed: no connection and no monitor thread are left.
    for (const char* r : readers) EXPECT_RV(CKR_OK, p11->C_CloseAllSessions(slotIdOf(r)));
    EXPECT_EQ(cardsim_connectionCount(), 0u);
    EXPECT_TRUE(waitUntil([&] { return threadCount() == idle; }, 2000ms));
}

}  // namespace

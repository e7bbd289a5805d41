// Card removal while sessions are open: the reader monitor closes them
// without any call from the application.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "SessionTestSupport.h"

namespace {

using namespace std::chrono_literals;

class CardRemoval : public ProviderFixture {
protected:
    void initialiseWith(CK_FLAGS flags) {
        cardsim_addReader(kReader, true);
        loadProvider();
        ASSERT_NE(p11, nullptr);
        CK_C_INITIALIZE_ARGS args;
        std::memset(&args, 0, sizeof(args));
        args.flags = flags;
        ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
        m_slot = slotIdOf(kReader);
    }
    CK_RV state(CK_SESSION_HANDLE session) {
        CK_SESSION_INFO out;
        return p11->C_GetSessionInfo(session, &out);
    }
};

TEST_F(CardRemoval, SessionsCloseByThemselvesAndAnswerSessionClosed) {
    initialiseWith(CKF_OS_LOCKING_OK);
    CK_SESSION_HANDLE first = openSession();
    CK_SESSION_HANDLE second = openSession(CKF_SERIAL_SESSION);
    login(first);
    cardsim_clearCalls();

    cardsim_removeCard(kReader);
    // No call into the provider until the monitor has disconnected the slot.
    ASSERT_TRUE(waitUntil([] { return cardsim_callCount(kZtDisconnect) == 1; }, 2000ms));
    EXPECT_EQ(cardsim_connectionCount(), 0u);

    EXPECT_RV(CKR_SESSION_CLOSED, state(first));
    EXPECT_RV(CKR_SESSION_CLOSED, p11->C_Logout(second));
    EXPECT_RV(CKR_SESSION_CLOSED,
              p11->C_Login(second, CKU_USER, pinBytes(kUserPin), std::strlen(kUserPin)));
    CK_SESSION_HANDLE refused = 0;
    EXPECT_RV(CKR_DEVICE_REMOVED,
              p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &refused));

    EXPECT_RV(CKR_DEVICE_REMOVED, p11->C_CloseSession(first));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_CloseSession(first));
    EXPECT_RV(CKR_SESSION_CLOSED, state(second));
    // The stale slot state kept no handle to disconnect twice: the library
    // may already have given that value to another connection.
    EXPECT_RV(CKR_DEVICE_REMOVED, p11->C_CloseSession(second));
    std::vector<CardSimCall> disconnects = cardsim_calls(kZtDisconnect);
    ASSERT_GE(disconnects.size(), 1u);
    EXPECT_NE(disconnects[0].handle, 0u);
    for (size_t i = 1; i < disconnects.size(); ++i) EXPECT_EQ(disconnects[i].handle, 0u) << i;
}

TEST_F(CardRemoval, CardComingBackMakesTheSlotUsableLoggedOut) {
    initialiseWith(CKF_OS_LOCKING_OK);
    CK_SESSION_HANDLE removed = openSession();
    login(removed);
    cardsim_removeCard(kReader);
    ASSERT_TRUE(waitUntil([&] { return state(removed) == CKR_SESSION_CLOSED; }, 2000ms));
    CK_SESSION_HANDLE session = 0;
    EXPECT_RV(CKR_DEVICE_REMOVED,
              p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));

    cardsim_insertCard(kReader);
    ASSERT_TRUE(waitUntil([] { return cardsim_callCount(kZtConnect) == 2; }, 2000ms));
    session = openSession();
    CK_SESSION_INFO out;
    ASSERT_RV(CKR_OK, p11->C_GetSessionInfo(session, &out));
    EXPECT_EQ(out.state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(cardsim_callCount(kZtConnect), 2u);   // joined the revived state
    EXPECT_RV(CKR_SESSION_CLOSED, state(removed));  // removed sessions stay removed
}

TEST_F(CardRemoval, ReleasedStaleStateLetsTheNextOpenSeeTheReaderAfresh) {
    initialiseWith(CKF_OS_LOCKING_OK);
    CK_SESSION_HANDLE removed = openSession();
    cardsim_removeCard(kReader);
    ASSERT_TRUE(waitUntil([&] { return state(removed) == CKR_SESSION_CLOSED; }, 2000ms));
    EXPECT_RV(CKR_DEVICE_REMOVED, p11->C_CloseSession(removed));  // releases the state
    CK_SESSION_HANDLE session = 0;
    EXPECT_RV(CKR_DEVICE_REMOVED,
              p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    cardsim_insertCard(kReader);
    EXPECT_RV(CKR_OK, p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
}

TEST_F(CardRemoval, MonitorThreadLivesOnlyWhileSessionsAreOpen) {
    initialiseWith(CKF_OS_LOCKING_OK);
    int idle = threadCount();
    CK_SESSION_HANDLE first = openSession();
    CK_SESSION_HANDLE second = openSession();
    EXPECT_EQ(threadCount(), idle + 1);
    EXPECT_RV(CKR_OK, p11->C_CloseSession(first));
    EXPECT_EQ(threadCount(), idle + 1);
    EXPECT_RV(CKR_OK, p11->C_CloseSession(second));
    EXPECT_TRUE(waitUntil([&] { return threadCount() == idle; }, 1000ms));
    openSession();
    EXPECT_EQ(threadCount(), idle + 1);
    // C_Finalize ends it too, and unloading with it gone is clean.
    ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_EQ(threadCount(), idle);
}

TEST_F(CardRemoval, NoThreadWhenTheApplicationForbidsThem) {
    initialiseWith(CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK);
    int idle = threadCount();
    CK_SESSION_HANDLE session = openSession();
    EXPECT_EQ(threadCount(), idle);
    cardsim_removeCard(kReader);
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(cardsim_callCount(kZtDisconnect), 0u);
    // Removal shows through slot events and through failing card calls.
    CK_SLOT_ID slot = 0;
    EXPECT_RV(CKR_OK, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr));
    EXPECT_EQ(slot, m_slot);
    // The dead connection is handled as the monitor handles a removal.
    EXPECT_RV(CKR_DEVICE_REMOVED,
              p11->C_Login(session, CKU_USER, pinBytes(kUserPin), std::strlen(kUserPin)));
    EXPECT_EQ(cardsim_callCount(kZtDisconnect), 1u);
    CK_SESSION_INFO info;
    EXPECT_RV(CKR_SESSION_CLOSED, p11->C_GetSessionInfo(session, &info));
}

// Application locking functions that stall the monitor thread inside its
// lock call until C_Finalize holds the lock, so that the monitor is waiting
// for the lock while C_Finalize deletes the sessions.
std::thread::id s_mainThread;
std::atomic<bool> s_finalizing{false}, s_monitorWaiting{false}, s_finalizeHoldsLock{false};
CK_RV appCreate(CK_VOID_PTR_PTR out) {
    *out = new std::recursive_mutex;
    return CKR_OK;
}
CK_RV appDestroy(CK_VOID_PTR m) {
    delete static_cast<std::recursive_mutex*>(m);
    return CKR_OK;
}
CK_RV appLock(CK_VOID_PTR m) {
    bool main = std::this_thread::get_id() == s_mainThread;
    if (!main) {
        s_monitorWaiting = true;
        // Only once C_Finalize holds the lock, so the monitor cannot slip in first.
        waitUntil([] { return s_finalizeHoldsLock.load(); }, 3000ms);
    }
    static_cast<std::recursive_mutex*>(m)->lock();
    if (main && s_finalizing) {
        s_finalizeHoldsLock = true;
        std::this_thread::sleep_for(200ms);  // the monitor queues up
    }
    return CKR_OK;
}
CK_RV appUnlock(CK_VOID_PTR m) {
    static_cast<std::recursive_mutex*>(m)->unlock();
    return CKR_OK;
}

TEST_F(CardRemoval, FinalizeWhileTheMonitorWaitsForTheLock) {
    cardsim_addReader(kReader, true);
    loadProvider();
    ASSERT_NE(p11, nullptr);
    s_mainThread = std::this_thread::get_id();
    s_finalizing = false;
    s_monitorWaiting = false;
    s_finalizeHoldsLock = false;
    CK_C_INITIALIZE_ARGS args;
    std::memset(&args, 0, sizeof(args));
    args.CreateMutex = appCreate;
    args.DestroyMutex = appDestroy;
    args.LockMutex = appLock;
    args.UnlockMutex = appUnlock;
    ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
    m_slot = slotIdOf(kReader);
    int idle = threadCount();
    openSession();
    openSession();
    ASSERT_EQ(threadCount(), idle + 1);

    cardsim_removeCard(kReader);  // a removal the monitor will want to report
    ASSERT_TRUE(waitUntil([] { return s_monitorWaiting.load(); }, 2000ms));
    s_finalizing = true;
    auto start = std::chrono::steady_clock::now();
    EXPECT_RV(CKR_OK, p11->C_Finalize(nullptr));
    s_finalizing = false;
    s_finalizeHoldsLock = false;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(threadCount(), idle);
    // The sessions went with C_Finalize; the late monitor reported nothing.
    EXPECT_EQ(cardsim_connectionCount(), 0u);
    EXPECT_EQ(cardsim_callCount(kZtDisconnect), 1u);
}

TEST_F(CardRemoval, UnloadWithSessionsOpenEndsTheMonitor) {
    initialiseWith(CKF_OS_LOCKING_OK);
    int idle = threadCount();
    openSession();
    openSession();
    cardsim_removeCard(kReader);
    std::this_thread::sleep_for(100ms);
    cardsim_insertCard(kReader);
    // Unloading without C_Finalize: the library's unload hook finalises.
    ASSERT_EQ(dlclose(m_library), 0);
    m_library = nullptr;
    p11 = nullptr;
    EXPECT_EQ(threadCount(), idle);
    EXPECT_EQ(cardsim_connectionCount(), 0u);
}

}  // namespace

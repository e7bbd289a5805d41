// C_Initialize's locking modes, C_Finalize, C_GetInfo, the function list, the
// entry points that do nothing, and the global lock on every error path.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "ProviderFixture.h"

namespace {

// Application locking functions that count their use. The create function
// returns an unheld mutex, as the standard describes.
std::atomic<int> g_creates{0}, g_destroys{0}, g_locks{0}, g_unlocks{0};
CK_RV appCreate(CK_VOID_PTR_PTR out) {
    ++g_creates;
    *out = new std::recursive_mutex;
    return CKR_OK;
}
CK_RV appDestroy(CK_VOID_PTR m) {
    ++g_destroys;
    delete static_cast<std::recursive_mutex*>(m);
    return CKR_OK;
}
CK_RV appLock(CK_VOID_PTR m) {
    ++g_locks;
    static_cast<std::recursive_mutex*>(m)->lock();
    return CKR_OK;
}
CK_RV appUnlock(CK_VOID_PTR m) {
    ++g_unlocks;
    static_cast<std::recursive_mutex*>(m)->unlock();
    return CKR_OK;
}

class Initialize : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        cardsim_addReader(kReader, true);
        loadProvider();
        ASSERT_NE(p11, nullptr);
        g_creates = g_destroys = g_locks = g_unlocks = 0;
    }
    // A locked call that succeeds when the library works.
    CK_RV lockedCall() {
        CK_ULONG count = 0;
        return p11->C_GetSlotList(CK_FALSE, nullptr, &count);
    }
};

TEST_F(Initialize, EveryAcceptedLockingModeGivesAWorkingLockedLibrary) {
    struct Mode {
        const char* name;
        bool nullArgs;
        bool appFunctions;
        CK_FLAGS flags;
        const char* logLine;
    } modes[] = {
        {"null", true, false, 0, " * No init args ptr: no multithreading requested"},
        {"none", false, false, 0, " * No Multithreading"},
        {"os", false, false, CKF_OS_LOCKING_OK, " * Using OS Sync Functions"},
        {"app+os", false, true, CKF_OS_LOCKING_OK, " * use either OS or supplied sync functions"},
        {"app", false, true, 0, " * use supplied sync functions"},
        {"gnutls", false, false, CKF_OS_LOCKING_OK | CKF_LIBRARY_CANT_CREATE_OS_THREADS,
         " * application forbids thread creation"},
    };
    for (const Mode& m : modes) {
        CK_C_INITIALIZE_ARGS args = {};
        if (m.appFunctions) {
            args.CreateMutex = appCreate;
            args.DestroyMutex = appDestroy;
            args.LockMutex = appLock;
            args.UnlockMutex = appUnlock;
        }
        args.flags = m.flags;
        ASSERT_RV(CKR_OK, p11->C_Initialize(m.nullArgs ? nullptr : &args)) << m.name;
        EXPECT_RV(CKR_OK, lockedCall()) << m.name;
        EXPECT_RV(CKR_OK, lockedCall()) << m.name;
        EXPECT_NE(logText().find(m.logLine), std::string::npos) << m.name;
        ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr)) << m.name;
    }
}

TEST_F(Initialize, ApplicationMutexIsUsedAndTheFirstCallReleasesCleanly) {
    CK_C_INITIALIZE_ARGS args = {appCreate, appDestroy, appLock, appUnlock, 0, nullptr};
    ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
    EXPECT_RV(CKR_OK, lockedCall());  // creates, then locks the unheld mutex
    EXPECT_RV(CKR_OK, lockedCall());
    EXPECT_EQ(g_creates.load(), 1);
    EXPECT_EQ(g_locks.load(), 2);
    EXPECT_EQ(g_unlocks.load(), 2);
    // Re-initialising with our own functions must not hand them the old mutex.
    ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    EXPECT_EQ(g_destroys.load(), 1);
    int unlocksBefore = g_unlocks.load();
    EXPECT_RV(CKR_OK, lockedCall());
    EXPECT_EQ(g_unlocks.load(), unlocksBefore);
}

TEST_F(Initialize, BadArgumentsInitialiseNothing) {
    CK_C_INITIALIZE_ARGS two = {appCreate, nullptr, appLock, nullptr, 0, nullptr};
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Initialize(&two));
    int reserved = 0;
    CK_C_INITIALIZE_ARGS withReserved = {};
    withReserved.pReserved = &reserved;
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Initialize(&withReserved));
    CK_INFO info;
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_GetInfo(&info));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, lockedCall());
}

TEST_F(Initialize, SecondInitialiseAndCallsBeforeInitialise) {
    CK_INFO info;
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_GetInfo(&info));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_Finalize(nullptr));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_CancelFunction(1));
    CK_SLOT_INFO slotInfo;
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_GetSlotInfo(slotIdOf(kReader), &slotInfo));
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    EXPECT_RV(CKR_CRYPTOKI_ALREADY_INITIALIZED, p11->C_Initialize(nullptr));
    int reserved = 0;
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Finalize(&reserved));
    EXPECT_RV(CKR_OK, p11->C_Finalize(nullptr));
    EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));  // again after finalising
    EXPECT_EQ(cardsim_callCount(kZtOpen), 2u);
    EXPECT_EQ(cardsim_callCount(kZtClose), 1u);
}

TEST_F(Initialize, FailingZtOpenAndSlotListStillInitialise) {
    cardsim_script(kZtOpen, 0x6F00);
    cardsim_script(kZtGetSlotList, 0x6F01);
    EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
    EXPECT_NE(logText().find("->e<- ZT_open: 6f00 "), std::string::npos);
    EXPECT_NE(logText().find("->e<- ZT_getSlotList: 6f01 "), std::string::npos);
}

TEST_F(Initialize, CardLibraryExceptionFailsInitialisation) {
    cardsim_scriptThrow(kZtGetSlotList);
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_Initialize(nullptr));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, lockedCall());
    EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
}

TEST_F(Initialize, GetInfoTextsAreBlankPaddedWithoutTerminator) {
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    CK_INFO info;
    std::memset(&info, 0xAB, sizeof(info));
    ASSERT_RV(CKR_OK, p11->C_GetInfo(&info));
    EXPECT_EQ(info.cryptokiVersion.major, 2);
    EXPECT_EQ(info.cryptokiVersion.minor, 20);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.manufacturerID), 32),
              "Velmora" + std::string(25, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.libraryDescription), 32),
              "Velmora Quillon" + std::string(17, ' '));
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.libraryVersion.major, 1);
    EXPECT_EQ(info.libraryVersion.minor, 0);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GetInfo(nullptr));
}

TEST_F(Initialize, FunctionListHoldsOurOwn68EntryPointsInStandardOrder) {
    EXPECT_EQ(p11->version.major, 2);
    EXPECT_EQ(p11->version.minor, 20);
    const char* names[] = {
#define NAME(name, params) #name,
        CK_FOR_EACH_FUNCTION(NAME)
#undef NAME
    };
    ASSERT_EQ(sizeof(names) / sizeof(names[0]), 68u);
    auto entries = reinterpret_cast<void* const*>(&p11->C_Initialize);
    for (size_t i = 0; i < 68; ++i) {
        EXPECT_EQ(entries[i], dlsym(m_library, names[i])) << names[i];
        EXPECT_NE(entries[i], nullptr) << names[i];
    }
    CK_FUNCTION_LIST_PTR again = nullptr;
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_library, "C_GetFunctionList"));
    EXPECT_RV(CKR_OK, getList(&again));
    EXPECT_EQ(again, p11);
    EXPECT_RV(CKR_ARGUMENTS_BAD, getList(nullptr));
}

TEST_F(Initialize, DoNothingEntryPointsAnswerTheirFixedResults) {
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_InitToken(0, nullptr, 0, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_GetOperationState(1, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_SetOperationState(1, nullptr, 0, 0, 0));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_CopyObject(1, 1, nullptr, 0, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_DigestKey(1, 1));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_SignRecoverInit(1, nullptr, 1));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_SignRecover(1, nullptr, 0, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_VerifyRecoverInit(1, nullptr, 1));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_VerifyRecover(1, nullptr, 0, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED,
              p11->C_DigestEncryptUpdate(1, nullptr, 0, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED,
              p11->C_DecryptDigestUpdate(1, nullptr, 0, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED,
              p11->C_SignEncryptUpdate(1, nullptr, 0, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED,
              p11->C_DecryptVerifyUpdate(1, nullptr, 0, nullptr, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_DeriveKey(1, nullptr, 1, nullptr, 0, nullptr));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, p11->C_GetFunctionStatus(1));
    EXPECT_RV(CKR_FUNCTION_NOT_PARALLEL, p11->C_CancelFunction(1));
    std::string log = logText();
    EXPECT_NE(log.find("C_CopyObject non supportato"), std::string::npos);
    EXPECT_NE(log.find("C_DigestKey non supportato(1,1)"), std::string::npos);
}

TEST_F(Initialize, TheLockIsFreeAfterEveryErrorPath) {
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    CK_SLOT_INFO info;
    CK_ULONG one = 0;
    CK_SLOT_ID slots[1];
    cardsim_addReader("Second", true);
    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetSlotInfo(12345, &info));
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_GetSlotList(CK_FALSE, slots, &one));
    cardsim_scriptThrow(kZtIsInserted);
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_GetSlotInfo(slotIdOf(kReader), &info));
    EXPECT_NE(logText().find("->e<- Unexpected Exception"), std::string::npos);
    // Another thread's locked call completes.
    CK_RV rv = CKR_GENERAL_ERROR;
    std::thread other([&] { rv = p11->C_GetSlotInfo(slotIdOf(kReader), &info); });
    other.join();
    EXPECT_RV(CKR_OK, rv);
}

TEST_F(Initialize, ConcurrentFirstLocksCreateOneMutex) {
    for (int round = 0; round < 20; ++round) {
        CK_C_INITIALIZE_ARGS args = {appCreate, appDestroy, appLock, appUnlock, 0, nullptr};
        ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                if (lockedCall() != CKR_OK) ++failures;
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(failures.load(), 0);
        ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
        // Switching to our functions destroys the application's mutex.
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        EXPECT_RV(CKR_OK, lockedCall());
        ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
    }
    EXPECT_EQ(g_creates.load(), 20);
    EXPECT_EQ(g_destroys.load(), 20);
}

}  // namespace

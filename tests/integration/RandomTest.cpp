// C_GenerateRandom and C_SeedRandom through the loaded provider: argument and
// session checks, and generation outside the global lock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "SessionTestSupport.h"

namespace {

class Random : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        cardsim_addReader(kReader, true);
        loadProvider();
        ASSERT_NE(p11, nullptr);
        CK_C_INITIALIZE_ARGS args;
        std::memset(&args, 0, sizeof(args));
        args.flags = CKF_OS_LOCKING_OK;
        ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
        m_slot = slotIdOf(kReader);
        session = openSession();
    }
    CK_SESSION_HANDLE session = 0;
};

TEST_F(Random, ArgumentChecksAndSessions) {
    CK_BYTE seed[4] = {1, 2, 3, 4};
    std::vector<CK_BYTE> buffer(16, 0xEE);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GenerateRandom(session, nullptr, 4));
    // Zero bytes is a valid request, with or without a buffer.
    EXPECT_RV(CKR_OK, p11->C_GenerateRandom(session, buffer.data(), 0));
    EXPECT_RV(CKR_OK, p11->C_GenerateRandom(session, nullptr, 0));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SeedRandom(0, seed, sizeof(seed)));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SeedRandom(session, nullptr, sizeof(seed)));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID,
              p11->C_GenerateRandom(session + 1, buffer.data(), buffer.size()));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_GenerateRandom(0, buffer.data(), buffer.size()));
    EXPECT_EQ(buffer, std::vector<CK_BYTE>(16, 0xEE));

    // Seeding the same seed twice never replays the output.
    std::vector<CK_BYTE> a(16), b(16);
    ASSERT_RV(CKR_OK, p11->C_SeedRandom(session, seed, sizeof(seed)));
    ASSERT_RV(CKR_OK, p11->C_GenerateRandom(session, a.data(), a.size()));
    ASSERT_RV(CKR_OK, p11->C_SeedRandom(session, seed, sizeof(seed)));
    ASSERT_RV(CKR_OK, p11->C_GenerateRandom(session, b.data(), b.size()));
    EXPECT_NE(a, b);

    // A session closed by the token's removal.
    cardsim_removeCard(kReader);
    CK_SESSION_INFO info;
    ASSERT_TRUE(
        waitUntil([&] { return p11->C_GetSessionInfo(session, &info) == CKR_SESSION_CLOSED; }));
    EXPECT_RV(CKR_SESSION_CLOSED, p11->C_GenerateRandom(session, buffer.data(), buffer.size()));
    EXPECT_RV(CKR_SESSION_CLOSED, p11->C_SeedRandom(session, seed, sizeof(seed)));
    EXPECT_EQ(buffer, std::vector<CK_BYTE>(16, 0xEE));
}

TEST_F(Random, LongGenerationDoesNotHoldTheLock) {
    using Clock = std::chrono::steady_clock;
    std::vector<CK_BYTE> big(64u << 20);
    std::atomic<bool> started{false}, done{false};
    CK_RV generated = CKR_GENERAL_ERROR;
    Clock::duration generation{};
    std::thread generator([&] {
        started = true;
        Clock::time_point begin = Clock::now();
        generated = p11->C_GenerateRandom(session, big.data(), big.size());
        generation = Clock::now() - begin;
        done = true;
    });
    while (!started) std::this_thread::yield();
    // Another thread's calls meanwhile: with the lock held during generation
    // one of them would wait about as long as the generation itself.
    Clock::duration longestCall{};
    CK_SESSION_INFO info;
    int calls = 0;
    while (!done) {
        Clock::time_point begin = Clock::now();
        EXPECT_RV(CKR_OK, p11->C_GetSessionInfo(session, &info));
        longestCall = std::max(longestCall, Clock::now() - begin);
        ++calls;
    }
    generator.join();
    EXPECT_RV(CKR_OK, generated);
    EXPECT_GT(calls, 1);
    EXPECT_LT(longestCall * 2, generation)
        << std::chrono::duration_cast<std::chrono::microseconds>(longestCall).count() << " us of "
        << std::chrono::duration_cast<std::chrono::microseconds>(generation).count() << " us";
}

}  // namespace

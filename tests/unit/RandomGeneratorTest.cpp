#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "RandomGenerator.h"

namespace {

typedef std::array<unsigned char, 32> Block;

Block draw() {
    Block b{};
    generateRandom(b.data(), b.size());
    return b;
}

TEST(RandomGenerator, SuccessiveDrawsAndThreadsDiffer) {
    Block a = draw(), b = draw();
    EXPECT_NE(a, b);
    // Never the old per-thread rand() sequence from state 1.
    EXPECT_FALSE(a[0] == 0x29 && a[1] == 0x23 && a[2] == 0xBE && a[3] == 0x84);
    Block t1{}, t2{};
    std::thread first([&] { t1 = draw(); });
    std::thread second([&] { t2 = draw(); });
    first.join();
    second.join();
    EXPECT_NE(t1, t2);
}

TEST(RandomGenerator, SeedingTheSameSeedTwiceDoesNotRepeatOutput) {
    const unsigned char seed[] = {1, 2, 3, 4};
    mixRandomSeed(seed, sizeof(seed));
    Block a = draw();
    mixRandomSeed(seed, sizeof(seed));
    Block b = draw();
    EXPECT_NE(a, b);
    mixRandomSeed(nullptr, 0);  // harmless
}

typedef std::vector<unsigned char> Bytes;

Bytes drawBytes(size_t n) {
    Bytes b(n, 0xEE);
    generateRandom(b.data(), b.size());
    return b;
}

// Small requests come from the generator's own keystream, large ones from a
// key of their own: every size fills the whole buffer, and no 16-byte block
// comes twice (a counter that failed to move on would repeat one).
TEST(RandomGenerator, EverySizeFillsTheBufferWithBlocksThatNeverRepeat) {
    for (size_t n : {size_t(1), size_t(15), size_t(16), size_t(17), size_t(255), size_t(256),
                     size_t(257), size_t(4096), size_t(1) << 20}) {
        SCOPED_TRACE(n);
        Bytes a = drawBytes(n), b = drawBytes(n);
        if (n >= 4) {
            EXPECT_NE(a, b);
        }
        size_t tail = std::min<size_t>(n, 16);
        EXPECT_FALSE(std::all_of(a.end() - tail, a.end(), [](unsigned char c) {
            return c == 0xEE;
        })) << "the end of the buffer was not written";
        std::set<std::array<unsigned char, 16>> blocks;
        for (const Bytes* draw : {&a, &b}) {
            for (size_t i = 0; i + 16 <= n; i += 16) {
                std::array<unsigned char, 16> block;
                std::memcpy(block.data(), draw->data() + i, 16);
                EXPECT_TRUE(blocks.insert(block).second) << "block repeated at " << i;
            }
        }
    }
}

TEST(RandomGenerator, LargeDrawsInThreadsDiffer) {
    Bytes first, second;
    std::atomic<int> ready{0};
    auto run = [&](Bytes& out) {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        out = drawBytes(64 * 1024);
    };
    std::thread a(run, std::ref(first)), b(run, std::ref(second));
    a.join();
    b.join();
    EXPECT_NE(first, second);
}

// A long request runs without the generator's lock: small requests in another
// thread meanwhile are not held up for the length of it.
TEST(RandomGenerator, LongRequestDoesNotHoldUpOthers) {
    using Clock = std::chrono::steady_clock;
    Bytes big(96u << 20);
    std::atomic<bool> started{false}, done{false};
    Clock::duration generation{};
    std::thread generator([&] {
        started = true;
        Clock::time_point begin = Clock::now();
        generateRandom(big.data(), big.size());
        generation = Clock::now() - begin;
        done = true;
    });
    while (!started) std::this_thread::yield();
    Clock::duration longest{};
    int draws = 0;
    while (!done) {
        Clock::time_point begin = Clock::now();
        draw();
        longest = std::max(longest, Clock::now() - begin);
        ++draws;
    }
    generator.join();
    EXPECT_GT(draws, 1);
    EXPECT_LT(longest * 2, generation)
        << std::chrono::duration_cast<std::chrono::microseconds>(longest).count() << " us of "
        << std::chrono::duration_cast<std::chrono::microseconds>(generation).count() << " us";
}

#ifndef _WIN32
// Windows has no fork: a new process starts with a fresh pool there.
TEST(RandomGenerator, AForkedChildDoesNotRepeatItsParent) {
    draw();  // the parent's pool exists before the fork
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Block b = draw();
        ssize_t n = write(fds[1], b.data(), b.size());
        _exit(n == static_cast<ssize_t>(b.size()) ? 0 : 1);
    }
    Block parent = draw(), fromChild{};
    ASSERT_EQ(read(fds[0], fromChild.data(), fromChild.size()),
              static_cast<ssize_t>(fromChild.size()));
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_NE(parent, fromChild);
}
#endif

}  // namespace

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <thread>

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

}  // namespace

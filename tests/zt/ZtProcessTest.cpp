// The virtual token across processes: persistence, concurrent use of one
// store, crash safety (a writer killed at random instants) and threads.
#include <cryptopp/sha.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "OrlStringVector.h"
#include "ZtTestSupport.h"

namespace zttest {
namespace {

// ---------------------------------------------------------------- children
// The test binary runs itself with ZT_TEST_ROLE set to play another process:
// it loads the library afresh and talks to the store named by ZT_HOME.

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A directory blob that proves its own integrity: counter, length, pattern,
// SHA-256 of all that.
std::string checkedBlob(uint64_t counter) {
    size_t length = static_cast<size_t>((counter * 7919) % 1000000) + 1;
    std::string blob(reinterpret_cast<const char*>(&counter), sizeof(counter));
    blob.append(reinterpret_cast<const char*>(&length), sizeof(length));
    size_t head = blob.size();
    blob.resize(head + length);
    for (size_t i = 0; i < length; ++i) blob[head + i] = static_cast<char>((counter + i * 31) & 0xFF);
    unsigned char digest[CryptoPP::SHA256::DIGESTSIZE];
    CryptoPP::SHA256().CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(blob.data()),
                                       blob.size());
    return blob.append(reinterpret_cast<const char*>(digest), sizeof(digest));
}

bool blobIsWhole(const std::string& blob) {
    if (blob.size() < 16 + CryptoPP::SHA256::DIGESTSIZE) return false;
    uint64_t counter;
    std::memcpy(&counter, blob.data(), sizeof(counter));
    return checkedBlob(counter) == blob;
}

int childMain(const std::string& role) {
    const CardFunctions& t = zt();
    if (t.ZT_open() != 0) return 10;
    ZT_HANDLE h = 0;
    if (t.ZT_connect(env("ZT_TEST_READER").c_str(), &h) != 0) return 11;
    if (role == "write") {
        if (t.ZT_verifyPIN(h, 1, "1234") != 0) return 12;
        OrlByteArray dir = bytes("written by another process"), empty, value = bytes("child secret");
        char valuePath[kCardPathSize], keyPath[kCardPathSize];
        if (t.ZT_putObjectTbl(h, dir) != 0) return 13;
        if (t.ZT_addObj(h, empty, kAccessSecretKey, valuePath) != 0) return 14;
        if (t.ZT_addObj(h, value, kAccessSecretKey, valuePath) != 0) return 15;
        if (t.ZT_genKeyPair(h, 1024, nullptr, keyPath) != 0) return 16;
        if (t.ZT_verifyPIN(h, 0, "not the SO PIN") != 0x63C2) return 17;
        std::printf("%s %s\n", valuePath, keyPath);
        return 0;
    }
    if (role == "read") {
        OrlByteArray dir;
        if (t.ZT_getObjectTbl(h, dir) != 0) return 20;
        return text(dir) == env("ZT_TEST_EXPECT") ? 0 : 21;
    }
    if (role == "wrong-pins") {
        int count = std::atoi(env("ZT_TEST_COUNT").c_str());
        for (int i = 0; i < count; ++i)
            if ((t.ZT_verifyPIN(h, 1, "0000") & 0xFFF0) != 0x63C0) return 30;
        return 0;
    }
    if (role == "hammer") {
        // Rewrites the directory, a value and the PIN file until killed.
        std::string valuePath = env("ZT_TEST_VALUE");
        bool announced = false;
        for (uint64_t counter = std::strtoull(env("ZT_TEST_SEED").c_str(), nullptr, 10);; ++counter) {
            OrlByteArray blob = bytes(checkedBlob(counter));
            if (t.ZT_putObjectTbl(h, blob) != 0) return 40;
            OrlByteArray value = bytes(checkedBlob(counter + 1));
            if (t.ZT_writeObj(h, valuePath.c_str(), kAccessPublicData, value) != 0) return 41;
            if (counter % 8 != 0) continue;
            if (t.ZT_verifyPIN(h, 1, "0000") != 0x63C2) return 42;
            if (t.ZT_verifyPIN(h, 1, "1234") != 0) return 43;
            if (counter % 16 == 0) {
                char path[kCardPathSize];
                OrlByteArray empty;
                if (t.ZT_addObj(h, empty, kAccessPublicData, path) != 0) return 44;
            }
            if (!announced) {
                std::printf("ready\n");
                std::fflush(stdout);
                announced = true;
            }
        }
    }
    return 99;
}

const bool g_isChild = [] {
    std::string role = env("ZT_TEST_ROLE");
    if (!role.empty()) {
        int rc = childMain(role);
        std::fflush(stdout);
        _exit(rc);
    }
    return false;
}();

struct Child {
    pid_t pid = -1;
    int out = -1;  // the child's stdout
};

Child startChild(const std::string& role, const std::vector<std::pair<std::string, std::string>>& vars) {
    int fds[2];
    Child c;
    if (pipe(fds) != 0) return c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        setenv("ZT_TEST_ROLE", role.c_str(), 1);
        for (const auto& v : vars) setenv(v.first.c_str(), v.second.c_str(), 1);
        execl("/proc/self/exe", "zt_tests", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    c.out = fds[0];
    return c;
}

// Waits for the child; its exit code, or -signal.
int finish(Child& c, std::string* output = nullptr) {
    std::string all;
    char buf[1024];
    ssize_t n;
    while ((n = read(c.out, buf, sizeof(buf))) > 0) all.append(buf, static_cast<size_t>(n));
    close(c.out);
    int status = 0;
    waitpid(c.pid, &status, 0);
    if (output) *output = all;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

int runChild(const std::string& role, const std::vector<std::pair<std::string, std::string>>& vars,
             std::string* output = nullptr) {
    Child c = startChild(role, vars);
    return finish(c, output);
}

using ZtProcesses = ZtStoreTest;

TEST_F(ZtProcesses, WhatOneProcessWritesAnotherReads) {
    std::string output;
    ASSERT_EQ(0, runChild("write", {{"ZT_TEST_READER", kReader}}, &output));
    std::istringstream words(output);
    std::string valuePath, keyPath;
    words >> valuePath >> keyPath;
    ASSERT_FALSE(keyPath.empty()) << output;

    OrlByteArray dir;
    ASSERT_ZT(0, zt().ZT_getObjectTbl(handle_, dir));
    EXPECT_EQ("written by another process", text(dir));
    verifyUser(handle_);
    OrlByteArray value;
    ASSERT_ZT(0, zt().ZT_readObj(handle_, valuePath.c_str(), kAccessSecretKey, value));
    EXPECT_EQ("child secret", text(value));
    OrlByteArray pub;
    EXPECT_ZT(0, zt().ZT_getPublicKey(handle_, keyPath.c_str(), pub));
    EXPECT_ZT(0x63C1, zt().ZT_verifyPIN(handle_, 0, "still not it"));

    // And the other way round.
    OrlByteArray mine = bytes("written by the test");
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, mine));
    EXPECT_EQ(0, runChild("read", {{"ZT_TEST_READER", kReader},
                                   {"ZT_TEST_EXPECT", "written by the test"}}));
}

// Each operation runs under the reader's file lock: wrong tries from several
// processes at once are all counted.
TEST_F(ZtProcesses, ConcurrentProcessesLoseNoPinTry) {
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Reader B"}));
    ASSERT_EQ(0, admin(home_, {"card", "new", "Reader B", "--tries", "15"}));
    std::vector<Child> children;
    for (int i = 0; i < 3; ++i)
        children.push_back(startChild("wrong-pins", {{"ZT_TEST_READER", "Reader B"},
                                                     {"ZT_TEST_COUNT", "4"}}));
    for (auto& c : children) EXPECT_EQ(0, finish(c));
    ZT_HANDLE b = connect("Reader B");
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(b, 1, "0000"));
    zt().ZT_disconnect(b);
}

// A writer killed at any instant leaves every item old or new, never torn.
TEST_F(ZtProcesses, KilledWriterLeavesTheStoreConsistent) {
    OrlByteArray empty;
    char valuePath[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, valuePath));
    std::mt19937 random(12345);
    for (int round = 0; round < 16; ++round) {
        Child c = startChild("hammer", {{"ZT_TEST_READER", kReader},
                                        {"ZT_TEST_VALUE", valuePath},
                                        {"ZT_TEST_SEED", std::to_string(round * 1000 + 1)}});
        ASSERT_GT(c.pid, 0);
        char line[6];
        ASSERT_EQ(6, read(c.out, line, sizeof(line))) << "round " << round;  // "ready\n"
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
        kill(c.pid, SIGKILL);
        ASSERT_EQ(-SIGKILL, finish(c)) << "round " << round;

        OrlByteArray dir, value;
        ASSERT_ZT(0, zt().ZT_getObjectTbl(handle_, dir)) << "round " << round;
        EXPECT_TRUE(blobIsWhole(text(dir))) << "round " << round;
        ASSERT_ZT(0, zt().ZT_readObj(handle_, valuePath, kAccessPublicData, value));
        EXPECT_TRUE(blobIsWhole(text(value))) << "round " << round;
        ASSERT_ZT(0, zt().ZT_verifyPIN(handle_, 1, "1234")) << "round " << round;
        char path[kCardPathSize];
        ASSERT_ZT(0, zt().ZT_addObj(handle_, empty, kAccessPublicData, path));
    }
    std::string listing;
    EXPECT_EQ(0, admin(home_, {"list"}, &listing));
    EXPECT_NE(std::string::npos, listing.find("user PIN 3/3")) << listing;
}

TEST_F(ZtProcesses, ThreadsShareTheLibrary) {
    verifyUser(handle_);
    char key[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_genKeyPair(handle_, 1024, nullptr, key));
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    std::thread monitor([&] {
        while (!stop)
            if (zt().ZT_isInserted(kReader) != 0) ++failures;
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            ZT_HANDLE h = 0;
            if (zt().ZT_connect(kReader, &h) != 0 || zt().ZT_verifyPIN(h, 1, "1234") != 0) {
                ++failures;
                return;
            }
            for (int i = 0; i < 15; ++i) {
                OrlByteArray empty, data = bytes("worker " + std::to_string(w) + "/" + std::to_string(i));
                char path[kCardPathSize];
                OrlByteArray back, dir, sig, block(128);
                block.getContent()[1] = 1;
                OrlStringVector readers;
                if (zt().ZT_addObj(h, empty, kAccessPrivateData, path) != 0 ||
                    zt().ZT_addObj(h, data, kAccessPrivateData, path) != 0 ||
                    zt().ZT_readObj(h, path, kAccessPrivateData, back) != 0 || back != data ||
                    zt().ZT_putObjectTbl(h, data) != 0 ||
                    zt().ZT_getObjectTbl(h, dir) != 0 ||
                    zt().ZT_applyPrivateKey(h, key, kPrivateKeyRaw, block, sig) != 0 ||
                    zt().ZT_getSlotList(readers) != 0 || readers.size() != 1)
                    ++failures;
            }
            zt().ZT_disconnect(h);
        });
    }
    for (auto& t : workers) t.join();
    stop = true;
    monitor.join();
    EXPECT_EQ(0, failures.load());
}

// The store is private whatever the umask, and holds no PIN in clear.
TEST_F(ZtProcesses, StoreIsPrivateAndHoldsNoPinInClear) {
    mode_t old = umask(0);
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Open reader"}));
    ASSERT_EQ(0, admin(home_, {"card", "new", "Open reader", "--user-pin", "s3cr3tPIN",
                               "--so-pin", "s0PINsecret"}));
    ZT_HANDLE h = connect("Open reader");
    ASSERT_ZT(0, zt().ZT_verifyPIN(h, 1, "s3cr3tPIN"));
    OrlByteArray empty, dir = bytes("d");
    char path[kCardPathSize];
    ASSERT_ZT(0, zt().ZT_addObj(h, empty, kAccessSecretKey, path));
    ASSERT_ZT(0, zt().ZT_putObjectTbl(h, dir));
    ASSERT_ZT(0, zt().ZT_genKeyPair(h, 1024, nullptr, path));
    ASSERT_ZT(0, zt().ZT_verifyPIN(h, 0, "s0PINsecret"));
    ASSERT_ZT(0, zt().ZT_initPIN(h, "n3wPINvalue"));
    zt().ZT_disconnect(h);
    umask(old);

    namespace fs = std::filesystem;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home_)) {
        auto perms = entry.status().permissions() & fs::perms::all;
        if (entry.is_directory()) {
            EXPECT_EQ(fs::perms::owner_all, perms) << entry.path();
            continue;
        }
        ++files;
        EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, perms) << entry.path();
        std::ifstream in(entry.path(), std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (const char* pin : {"s3cr3tPIN", "s0PINsecret", "n3wPINvalue"})
            EXPECT_EQ(std::string::npos, content.find(pin)) << entry.path();
    }
    EXPECT_GT(files, 8);
}

}  // namespace
}  // namespace zttest

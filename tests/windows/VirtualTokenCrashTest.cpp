// The virtual token's crash safety under Windows, as tests/zt checks it on
// Linux: a writer process rewriting the directory, a stored value and the PIN
// file is killed (TerminateProcess) at random instants; every item must then
// be old or new, never torn, and the card must go on working.
//
// The test runs itself with "--hammer <value path>" to play the writer.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CardFunctions.h"
#include "WindowsTestSupport.h"

namespace {

constexpr const char* kReader = "Crash Reader";

// A blob that proves its own integrity: counter, length, a pattern, and an
// FNV-1a hash of all that; a torn or cut write fails the hash.
uint64_t fnv1a(const std::string& data) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string checkedBlob(uint64_t counter) {
    size_t length = static_cast<size_t>((counter * 7919) % 300000) + 1;
    std::string blob(reinterpret_cast<const char*>(&counter), sizeof counter);
    blob.append(reinterpret_cast<const char*>(&length), sizeof length);
    size_t head = blob.size();
    blob.resize(head + length);
    for (size_t i = 0; i < length; ++i)
        blob[head + i] = static_cast<char>((counter + i * 31) & 0xFF);
    uint64_t h = fnv1a(blob);
    return blob.append(reinterpret_cast<const char*>(&h), sizeof h);
}

bool blobIsWhole(const std::string& blob) {
    if (blob.size() < 24) return false;
    uint64_t counter;
    std::memcpy(&counter, blob.data(), sizeof counter);
    return checkedBlob(counter) == blob;
}

OrlByteArray bytesOf(const std::string& s) {
    return OrlByteArray(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

std::string textOf(const OrlByteArray& a) {
    return std::string(reinterpret_cast<const char*>(a.getContent()), a.getLength());
}

// zt.dll's table, loaded once per process.
const CardFunctions& zt() {
    static CardFunctions table = [] {
        CardFunctions t = {};
        HMODULE module = LoadLibraryA("zt.dll");
        auto get = module ? reinterpret_cast<ZT_GetFunctionList_t>(reinterpret_cast<void*>(
                                GetProcAddress(module, ZT_GET_FUNCTION_LIST_NAME)))
                          : nullptr;
        if (get) get(&t);
        return t;
    }();
    return table;
}

int runCommand(const std::string& command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// The writer: rewrites the directory, the value and the PIN file until killed.
int hammer(const char* valuePath, uint64_t seed) {
    const CardFunctions& t = zt();
    ZT_HANDLE h = 0;
    if (!t.ZT_open || t.ZT_open() != 0 || t.ZT_connect(kReader, &h) != 0) return 10;
    bool announced = false;
    for (uint64_t counter = seed;; ++counter) {
        OrlByteArray blob = bytesOf(checkedBlob(counter));
        if (t.ZT_putObjectTbl(h, blob) != 0) return 40;
        OrlByteArray value = bytesOf(checkedBlob(counter + 1));
        if (t.ZT_writeObj(h, valuePath, kAccessPublicData, value) != 0) return 41;
        if (counter % 8 != 0) continue;
        if (t.ZT_verifyPIN(h, 1, "0000") != 0x63C2) return 42;
        if (t.ZT_verifyPIN(h, 1, "1234") != 0) return 43;
        if (!announced) {
            std::printf("ready\n");
            std::fflush(stdout);
            announced = true;
        }
    }
}

struct Child {
    HANDLE process = nullptr;
    HANDLE out = nullptr;  // read end of the child's stdout
};

Child startHammer(const std::string& valuePath, uint64_t seed) {
    Child c;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return c;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command =
        std::string("\"") + self + "\" --hammer " + valuePath + " " + std::to_string(seed);
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        c.process = process.hProcess;
        c.out = readEnd;
    } else {
        CloseHandle(readEnd);
    }
    CloseHandle(writeEnd);
    return c;
}

class WindowsVirtualTokenCrash : public ::testing::Test {
protected:
    void SetUp() override {
        m_home = wintest::makeScratchDir("quillon-crash");
        ASSERT_FALSE(m_home.empty());
        wintest::setEnv("ZT_HOME", m_home.c_str());
        std::string admin = "zt-admin.exe --home \"" + m_home + "\" ";
        ASSERT_EQ(runCommand(admin + "reader add \"" + kReader + "\""), 0);
        ASSERT_EQ(runCommand(admin + "card new \"" + kReader + "\" --user-pin 1234"), 0);
        ASSERT_NE(zt().ZT_open, nullptr) << "zt.dll did not load";
        ASSERT_EQ(zt().ZT_open(), 0u);
        ASSERT_EQ(zt().ZT_connect(kReader, &m_handle), 0u);
    }
    void TearDown() override {
        if (m_handle) zt().ZT_disconnect(m_handle);
        wintest::unsetEnv("ZT_HOME");
        wintest::removeTree(m_home);
    }

    std::string m_home;
    ZT_HANDLE m_handle = 0;
};

TEST_F(WindowsVirtualTokenCrash, KilledWriterLeavesTheStoreConsistent) {
    OrlByteArray empty;
    char valuePath[kCardPathSize] = {};
    ASSERT_EQ(zt().ZT_addObj(m_handle, empty, kAccessPublicData, valuePath), 0u);
    std::mt19937 random(12345);
    for (int round = 0; round < 12; ++round) {
        Child c = startHammer(valuePath, static_cast<uint64_t>(round) * 1000 + 1);
        ASSERT_NE(c.process, nullptr) << "round " << round;
        char line[6];
        DWORD got = 0, total = 0;
        while (total < sizeof line &&
               ReadFile(c.out, line + total, sizeof line - total, &got, nullptr) && got > 0)
            total += got;
        ASSERT_EQ(total, sizeof line) << "round " << round;  // "ready\n"
        Sleep(random() % 150);
        ASSERT_TRUE(TerminateProcess(c.process, 9)) << "round " << round;
        WaitForSingleObject(c.process, 30000);
        DWORD code = 0;
        GetExitCodeProcess(c.process, &code);
        CloseHandle(c.process);
        CloseHandle(c.out);
        ASSERT_EQ(code, 9u) << "round " << round << ": the writer ended by itself";

        OrlByteArray dir, value;
        ASSERT_EQ(zt().ZT_getObjectTbl(m_handle, dir), 0u) << "round " << round;
        EXPECT_TRUE(blobIsWhole(textOf(dir))) << "round " << round;
        ASSERT_EQ(zt().ZT_readObj(m_handle, valuePath, kAccessPublicData, value), 0u);
        EXPECT_TRUE(blobIsWhole(textOf(value))) << "round " << round;
        ASSERT_EQ(zt().ZT_verifyPIN(m_handle, 1, "1234"), 0u) << "round " << round;
        char path[kCardPathSize] = {};
        ASSERT_EQ(zt().ZT_addObj(m_handle, empty, kAccessPublicData, path), 0u);
    }
    // The PIN's try counter came through whole as well: one wrong try leaves 2.
    EXPECT_EQ(zt().ZT_verifyPIN(m_handle, 1, "0000"), 0x63C2u);
    EXPECT_EQ(zt().ZT_verifyPIN(m_handle, 1, "1234"), 0u);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--hammer") == 0)
        return hammer(argv[2], std::strtoull(argv[3], nullptr, 10));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

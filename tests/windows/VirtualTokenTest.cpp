// quillon.dll over the virtual token zt.dll under Windows: a card made with
// zt-admin.exe, sessions and login, a token object written in one load of the
// provider and read back in the next, and software digests.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "WindowsTestSupport.h"
#include "cryptoki.h"

namespace {

constexpr const char* kSubKey = "SOFTWARE\\Velmora\\Quillon";
constexpr const char* kReader = "Windows Reader";

std::string rvText(CK_RV rv) {
    char text[32];
    std::snprintf(text, sizeof(text), "CKR 0x%08lX", static_cast<unsigned long>(rv));
    return text;
}
#define EXPECT_RV(expected, actual) EXPECT_EQ(rvText(expected), rvText(actual))
#define ASSERT_RV(expected, actual) ASSERT_EQ(rvText(expected), rvText(actual))

// Runs zt-admin.exe (beside this test) with the store in `home`; its exit code.
int ztAdmin(const std::string& home, const std::string& arguments) {
    std::string command = "zt-admin.exe --home \"" + home + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
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

class WindowsVirtualToken : public ::testing::Test {
protected:
    void SetUp() override {
        m_home = wintest::makeScratchDir("quillon-zt");
        ASSERT_FALSE(m_home.empty());
        wintest::setEnv("ZT_HOME", m_home.c_str());
        ASSERT_EQ(ztAdmin(m_home, std::string("reader add \"") + kReader + "\""), 0);
        ASSERT_EQ(ztAdmin(m_home, std::string("card new \"") + kReader + "\" --user-pin 1234"), 0);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSubKey);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const char zt[] = "zt.dll";
        RegSetValueExA(key, "zt", 0, REG_SZ, reinterpret_cast<const BYTE*>(zt), sizeof(zt));
        RegCloseKey(key);
    }

    void TearDown() override {
        unload();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSubKey);
        wintest::unsetEnv("ZT_HOME");
        wintest::removeTree(m_home);
    }

    // Loads the provider, initialises it and finds the one slot with a token.
    void load() {
        m_module = LoadLibraryA("quillon.dll");
        ASSERT_NE(m_module, nullptr) << "LoadLibrary error " << GetLastError();
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "C_GetFunctionList")));
        ASSERT_NE(getList, nullptr);
        ASSERT_RV(CKR_OK, getList(&p11));
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        CK_ULONG count = 1;
        ASSERT_RV(CKR_OK, p11->C_GetSlotList(CK_TRUE, &m_slot, &count));
        ASSERT_EQ(count, 1u);
    }

    void unload() {
        if (!m_module) return;
        p11->C_Finalize(nullptr);
        FreeLibrary(m_module);
        m_module = nullptr;
        p11 = nullptr;
    }

    CK_SESSION_HANDLE openLoggedIn() {
        CK_SESSION_HANDLE session = 0;
        EXPECT_RV(CKR_OK, p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                             nullptr, &session));
        CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
        EXPECT_RV(CKR_OK, p11->C_Login(session, CKU_USER, pin, sizeof(pin)));
        return session;
    }

    std::string m_home;
    HMODULE m_module = nullptr;
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    CK_SLOT_ID m_slot = 0;
};

TEST_F(WindowsVirtualToken, TokenInfoAndWrongPin) {
    load();
    CK_TOKEN_INFO info;
    ASSERT_RV(CKR_OK, p11->C_GetTokenInfo(m_slot, &info));
    EXPECT_TRUE(info.flags & CKF_TOKEN_INITIALIZED);
    CK_SESSION_HANDLE session = 0;
    ASSERT_RV(CKR_OK, p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    CK_UTF8CHAR wrong[] = {'9', '9', '9', '9'};
    EXPECT_RV(CKR_PIN_INCORRECT, p11->C_Login(session, CKU_USER, wrong, sizeof(wrong)));
    CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
    EXPECT_RV(CKR_OK, p11->C_Login(session, CKU_USER, pin, sizeof(pin)));
    EXPECT_RV(CKR_OK, p11->C_Logout(session));
}

TEST_F(WindowsVirtualToken, TokenObjectSurvivesAReloadOfTheProvider) {
    load();
    CK_SESSION_HANDLE session = openLoggedIn();
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    char label[] = "windows object";
    unsigned char value[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    CK_ATTRIBUTE object[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                             {CKA_TOKEN, &yes, sizeof(yes)},
                             {CKA_LABEL, label, sizeof(label) - 1},
                             {CKA_VALUE, value, sizeof(value)}};
    CK_OBJECT_HANDLE created = 0;
    CK_RV rv = p11->C_CreateObject(session, object, 4, &created);
    if (rv == CKR_FUNCTION_NOT_SUPPORTED) GTEST_SKIP() << "C_CreateObject is not built yet";
    ASSERT_RV(CKR_OK, rv);
    unload();

    load();
    session = openLoggedIn();
    CK_ATTRIBUTE search[] = {{CKA_LABEL, label, sizeof(label) - 1}};
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(session, search, 1));
    CK_OBJECT_HANDLE found[4];
    CK_ULONG count = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjects(session, found, 4, &count));
    EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(session));
    ASSERT_EQ(count, 1u);
    unsigned char read[16] = {};
    CK_ATTRIBUTE want[] = {{CKA_VALUE, read, sizeof(read)}};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, found[0], want, 1));
    ASSERT_EQ(want[0].ulValueLen, sizeof(value));
    EXPECT_EQ(std::memcmp(read, value, sizeof(value)), 0);
}

TEST_F(WindowsVirtualToken, Sha1Digest) {
    load();
    CK_SESSION_HANDLE session = openLoggedIn();
    CK_MECHANISM sha1 = {CKM_SHA_1, nullptr, 0};
    CK_RV rv = p11->C_DigestInit(session, &sha1);
    if (rv == CKR_FUNCTION_NOT_SUPPORTED) GTEST_SKIP() << "C_DigestInit is not built yet";
    ASSERT_RV(CKR_OK, rv);
    unsigned char abc[] = {'a', 'b', 'c'};
    unsigned char digest[20];
    CK_ULONG length = sizeof(digest);
    ASSERT_RV(CKR_OK, p11->C_Digest(session, abc, sizeof(abc), digest, &length));
    ASSERT_EQ(length, 20u);
    const unsigned char expected[20] = {0xA9, 0x99, 0x3E, 0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E,
                                        0x25, 0x71, 0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D};
    EXPECT_EQ(std::memcmp(digest, expected, 20), 0);
}

}  // namespace

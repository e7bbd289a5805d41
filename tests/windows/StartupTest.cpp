// Loading quillon.dll as an application does, with the configuration in the
// registry key or in "ravenell.conf" in the current directory. A failed
// start-up makes DllMain answer FALSE, so LoadLibrary itself fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "cryptoki.h"

namespace {

constexpr const char* kSubKey = "SOFTWARE\\Velmora\\Quillon";
constexpr const char* kProvider = "quillon.dll";
constexpr const char* kTestCard = "wintestcard.dll";
constexpr const char* kNoEntry = "winnoentry.dll";

typedef void (*TestCardCounters_t)(long* opens, long* closes);

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class WindowsStartup : public ::testing::Test {
protected:
    void SetUp() override {
        deleteKey();
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof(temp), temp), 0u);
        m_dir = std::string(temp) + "quillon-startup-" + std::to_string(GetCurrentProcessId()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(m_dir.c_str(), nullptr);
        DeleteFileA((m_dir + "\\ravenell.conf").c_str());
        DeleteFileA(logPath().c_str());
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof(cwd), cwd);
        m_oldDir = cwd;
        ASSERT_TRUE(SetCurrentDirectoryA(m_dir.c_str()));
        // Our own reference keeps the test card's counters alive across loads.
        m_card = LoadLibraryA(kTestCard);
        ASSERT_NE(m_card, nullptr) << "error " << GetLastError();
        m_counters = reinterpret_cast<TestCardCounters_t>(
            reinterpret_cast<void*>(GetProcAddress(m_card, "TestCardCounters")));
        ASSERT_NE(m_counters, nullptr);
    }

    void TearDown() override {
        if (m_provider) FreeLibrary(m_provider);
        if (m_card) FreeLibrary(m_card);
        SetCurrentDirectoryA(m_oldDir.c_str());
        deleteKey();
        DeleteFileA((m_dir + "\\ravenell.conf").c_str());
        DeleteFileA(logPath().c_str());
        RemoveDirectoryA(m_dir.c_str());
    }

    static void deleteKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSubKey); }

    static void setRegistryString(const char* name, const std::string& value) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static void setRegistryDword(const char* name, DWORD value) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof(value)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    void writeConfigFile(const std::string& text) {
        std::ofstream out(m_dir + "\\ravenell.conf", std::ios::binary);
        out << text;
    }

    std::string logPath() const { return m_dir + "\\provider.log"; }

    // Loads the provider; true when Windows accepted it.
    bool loadProvider() {
        m_provider = LoadLibraryA(kProvider);
        m_loadError = m_provider ? 0 : GetLastError();
        return m_provider != nullptr;
    }

    void unloadProvider() {
        ASSERT_NE(m_provider, nullptr);
        EXPECT_TRUE(FreeLibrary(m_provider));
        m_provider = nullptr;
    }

    CK_FUNCTION_LIST_PTR functionList() {
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(m_provider, "C_GetFunctionList")));
        if (!getList) return nullptr;
        CK_FUNCTION_LIST_PTR list = nullptr;
        return getList(&list) == CKR_OK ? list : nullptr;
    }

    long opens() {
        long o = 0, c = 0;
        m_counters(&o, &c);
        return o;
    }

    long closes() {
        long o = 0, c = 0;
        m_counters(&o, &c);
        return c;
    }

    std::string m_dir;
    std::string m_oldDir;
    HMODULE m_card = nullptr;
    HMODULE m_provider = nullptr;
    DWORD m_loadError = 0;
    TestCardCounters_t m_counters = nullptr;
};

TEST_F(WindowsStartup, RegistryConfigurationLoadsAndDetachFinalizes) {
    setRegistryString("zt", kTestCard);
    ASSERT_TRUE(loadProvider()) << "LoadLibrary error " << m_loadError;
    CK_FUNCTION_LIST_PTR list = functionList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->version.major, 2);
    EXPECT_EQ(list->version.minor, 20);

    long opensBefore = opens(), closesBefore = closes();
    EXPECT_EQ(list->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(opens(), opensBefore + 1);
    CK_INFO info;
    EXPECT_EQ(list->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.manufacturerID), 32),
              "Velmora" + std::string(25, ' '));
    // The application never finalises: unloading does it.
    unloadProvider();
    EXPECT_EQ(closes(), closesBefore + 1);
}

TEST_F(WindowsStartup, ExportsResolveByUndecoratedName) {
    setRegistryString("zt", kTestCard);
    ASSERT_TRUE(loadProvider()) << "LoadLibrary error " << m_loadError;
    CK_FUNCTION_LIST_PTR list = functionList();
    ASSERT_NE(list, nullptr);
    // Each export is the very function the list hands out.
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(m_provider, "C_Initialize")),
              reinterpret_cast<void*>(list->C_Initialize));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(m_provider, "C_Login")),
              reinterpret_cast<void*>(list->C_Login));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(m_provider, "C_WaitForSlotEvent")),
              reinterpret_cast<void*>(list->C_WaitForSlotEvent));
}

// An application's locking functions: a critical section per mutex, created
// unheld as the standard describes; counts how often the provider locks.
LONG s_appLocks = 0;
LONG s_appUnlocks = 0;

CK_RV appCreate(CK_VOID_PTR_PTR mutex) {
    auto* cs = new CRITICAL_SECTION;
    InitializeCriticalSection(cs);
    *mutex = cs;
    return CKR_OK;
}

CK_RV appDestroy(CK_VOID_PTR mutex) {
    auto* cs = static_cast<CRITICAL_SECTION*>(mutex);
    DeleteCriticalSection(cs);
    delete cs;
    return CKR_OK;
}

CK_RV appLock(CK_VOID_PTR mutex) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(mutex));
    InterlockedIncrement(&s_appLocks);
    return CKR_OK;
}

CK_RV appUnlock(CK_VOID_PTR mutex) {
    InterlockedIncrement(&s_appUnlocks);
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(mutex));
    return CKR_OK;
}

TEST_F(WindowsStartup, InitializeInEveryLockingMode) {
    setRegistryString("zt", kTestCard);
    ASSERT_TRUE(loadProvider()) << "LoadLibrary error " << m_loadError;
    CK_FUNCTION_LIST_PTR list = functionList();
    ASSERT_NE(list, nullptr);

    CK_C_INITIALIZE_ARGS noLocking = {};
    CK_C_INITIALIZE_ARGS osLocking = {};
    osLocking.flags = CKF_OS_LOCKING_OK;
    CK_C_INITIALIZE_ARGS either = {appCreate, appDestroy,        appLock,
                                   appUnlock, CKF_OS_LOCKING_OK, nullptr};
    // The provider's own mutex (CreateMutexA and friends) in all these modes.
    for (CK_C_INITIALIZE_ARGS* args :
         {static_cast<CK_C_INITIALIZE_ARGS*>(nullptr), &noLocking, &osLocking, &either}) {
        EXPECT_EQ(list->C_Initialize(args), CKR_OK);
        EXPECT_EQ(list->C_Initialize(args), CKR_CRYPTOKI_ALREADY_INITIALIZED);
        // C_Finalize takes the global lock: a broken mutex would fail it.
        EXPECT_EQ(list->C_Finalize(nullptr), CKR_OK);
    }
    EXPECT_EQ(s_appLocks, 0);

    // The application's functions: locked calls go through them, balanced.
    CK_C_INITIALIZE_ARGS supplied = {appCreate, appDestroy, appLock, appUnlock, 0, nullptr};
    EXPECT_EQ(list->C_Initialize(&supplied), CKR_OK);
    EXPECT_EQ(list->C_Finalize(nullptr), CKR_OK);
    EXPECT_GE(s_appLocks, 1);
    EXPECT_EQ(s_appLocks, s_appUnlocks);

    CK_C_INITIALIZE_ARGS half = {appCreate, nullptr, appLock, nullptr, 0, nullptr};
    EXPECT_EQ(list->C_Initialize(&half), CKR_ARGUMENTS_BAD);
}

TEST_F(WindowsStartup, FileConfigurationLoadsWhenRegistryKeyIsMissing) {
    writeConfigFile("# test card\r\nzt = " + std::string(kTestCard) + "\r\n");
    ASSERT_TRUE(loadProvider()) << "LoadLibrary error " << m_loadError;
    CK_FUNCTION_LIST_PTR list = functionList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(list->C_Finalize(nullptr), CKR_OK);
}

TEST_F(WindowsStartup, NoConfigurationRefusesToLoad) {
    EXPECT_FALSE(loadProvider());
    EXPECT_EQ(m_loadError, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
}

TEST_F(WindowsStartup, RegistryWithoutZtIsNotMergedWithFile) {
    setRegistryString("loglevel", "1");
    writeConfigFile("zt=" + std::string(kTestCard) + "\n");
    EXPECT_FALSE(loadProvider());
}

TEST_F(WindowsStartup, MissingCardLibraryRefusesToLoad) {
    setRegistryString("zt", "quillon-no-such-library.dll");
    setRegistryString("loglevel", "1");
    setRegistryString("ckilogfile", logPath());
    EXPECT_FALSE(loadProvider());
    EXPECT_NE(readFile(logPath()).find("ZT load error: 7e"), std::string::npos)
        << readFile(logPath());
}

TEST_F(WindowsStartup, LibraryWithoutGetFunctionListRefusesToLoad) {
    setRegistryString("zt", kNoEntry);
    EXPECT_FALSE(loadProvider());
    EXPECT_EQ(m_loadError, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
}

TEST_F(WindowsStartup, LogFileFromRegistryWithDwordLevel) {
    setRegistryString("zt", kTestCard);
    setRegistryDword("loglevel", 5);
    setRegistryString("ckilogfile", logPath());
    ASSERT_TRUE(loadProvider()) << "LoadLibrary error " << m_loadError;
    unloadProvider();
    std::string log = readFile(logPath());
    EXPECT_NE(log.find("START LIBRARY"), std::string::npos) << log;
    EXPECT_NE(log.find("ZT: wintestcard.dll"), std::string::npos) << log;
    EXPECT_NE(log.find("STOP LIBRARY"), std::string::npos) << log;
}

TEST_F(WindowsStartup, LogLevelZeroWritesNothing) {
    setRegistryString("zt", kTestCard);
    setRegistryString("loglevel", "0");
    setRegistryString("ckilogfile", logPath());
    ASSERT_TRUE(loadProvider()) << "LoadLibrary error " << m_loadError;
    unloadProvider();
    EXPECT_EQ(GetFileAttributesA(logPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

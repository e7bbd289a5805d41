// Loading the provider: where the configuration comes from, the log level,
// the log file, and the start-up failures that leave the module unusable.
#include <unistd.h>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ProviderFixture.h"

namespace {

class Startup : public ProviderFixture {
protected:
    // Runs the load in `dir` as the current directory, so "ravenell.conf" there counts.
    void loadIn(const std::string& dir) {
        char old[4096];
        ASSERT_NE(getcwd(old, sizeof(old)), nullptr);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        loadProvider();
        ASSERT_EQ(chdir(old), 0);
    }
    void writeFile(const std::string& path, const std::string& text) {
        std::ofstream(path) << text;
    }
    // Captures what the load writes to standard error.
    std::string loadCapturingStderr() {
        testing::internal::CaptureStderr();
        loadProvider();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(Startup, RegistryStandInIsReadAndTheLibraryWorks) {
    loadProvider();
    ASSERT_NE(p11, nullptr);
    EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
    EXPECT_NE(logText().find(" ************* START LIBRARY ****************"), std::string::npos);
    EXPECT_NE(logText().find(std::string("ZT: ") + CARDSIM_LIBRARY), std::string::npos);
}

TEST_F(Startup, FileIsReadOnlyWhenTheRegistryStandInIsMissingAndNeverMerged) {
    // No registry stand-in: ravenell.conf in the current directory is used.
    setenv("QUILLON_REGISTRY", scratch("missing.conf").c_str(), 1);
    writeFile(scratch("ravenell.conf"), std::string("zt=") + CARDSIM_LIBRARY +
                                            "\nloglevel=1\nckilogfile=" + scratch("file.log") +
                                            "\n");
    loadIn(m_dir);
    ASSERT_NE(p11, nullptr);
    EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
    unloadProvider();

    // The registry stand-in exists but lacks "zt": the file's "zt" is not consulted.
    setenv("QUILLON_REGISTRY", m_configPath.c_str(), 1);
    writeConfig({"#nozt"});
    testing::internal::CaptureStderr();
    loadIn(m_dir);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(err.find("Brisel: Impossibile trovare la voce del registry relativa alla libreria "
                       "zt.dll"),
              std::string::npos)
        << err;
}

TEST_F(Startup, MissingZtEntryLeavesTheModuleUnusable) {
    writeConfig({"#nozt"});
    std::string err = loadCapturingStderr();
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(err.find("Brisel: "), std::string::npos) << err;
    auto init = reinterpret_cast<CK_C_Initialize>(dlsym(m_library, "C_Initialize"));
    ASSERT_NE(init, nullptr);
    EXPECT_RV(CKR_GENERAL_ERROR, init(nullptr));
}

TEST_F(Startup, MissingCardLibraryAndMissingExportFailWithTheErrorBox) {
    writeConfig({"zt=" + scratch("no-such-library.so")});
    std::string err = loadCapturingStderr();
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(err.find("Errore: Impossibile trovare la dll ZT"), std::string::npos) << err;
    EXPECT_NE(logText().find("ZT load error: "), std::string::npos);
    unloadProvider();

    writeConfig({std::string("zt=") + CARDLIB_WITHOUT_FUNCTIONS});
    err = loadCapturingStderr();
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(err.find("Errore: Impossibile trovare la dll ZT"), std::string::npos) << err;
}

TEST_F(Startup, LogLevelZeroNonNumberOrAbsentWritesNothing) {
    for (std::string level : {"loglevel=0", "loglevel=verbose", "#nolevel"}) {
        std::remove(scratch("quilltok.log").c_str());
        writeConfig({level == "#nolevel" ? "loglevel-absent=1" : level});
        if (level == "#nolevel") {
            // writeConfig adds a default level unless one is given: write by hand.
            writeFile(m_configPath, std::string("zt=") + CARDSIM_LIBRARY +
                                        "\nckilogfile=" + scratch("quilltok.log") + "\n");
        }
        loadProvider();
        ASSERT_NE(p11, nullptr) << level;
        EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
        unloadProvider();
        EXPECT_EQ(logText(), "") << level;
    }
}

TEST_F(Startup, LogLevelsOneAndFiveGiveTheSameLines) {
    std::vector<std::string> logs;
    for (std::string level : {"loglevel=1", "loglevel=5"}) {
        std::remove(scratch("quilltok.log").c_str());
        writeConfig({level});
        loadProvider();
        ASSERT_NE(p11, nullptr);
        CK_INFO info;
        EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
        EXPECT_RV(CKR_OK, p11->C_GetInfo(&info));
        unloadProvider();
        // Drop the time stamp and thread columns before comparing.
        std::string text, line;
        std::istringstream in(logText());
        while (std::getline(in, line)) text += line.substr(line.find(']') + 1) + "\n";
        logs.push_back(text);
    }
    EXPECT_NE(logs[0].find("-> C_GetInfo("), std::string::npos);
    EXPECT_EQ(logs[0], logs[1]);
}

TEST_F(Startup, CkiLogFileChoosesTheLogFile) {
    writeConfig({"ckilogfile=" + scratch("elsewhere.log")});
    loadProvider();
    ASSERT_NE(p11, nullptr);
    unloadProvider();
    std::ifstream in(scratch("elsewhere.log"));
    std::string first;
    std::getline(in, first);
    EXPECT_NE(first.find("START LIBRARY"), std::string::npos) << first;
    EXPECT_EQ(logText(), "");
}

TEST_F(Startup, OverLongLogLinesAreCutNotOverflowed) {
    // A reader name of 5 000 characters reaches the log through
    // C_GetSlotList's "ZT_isInserted (%s) returns %X" line.
    std::string name(5000, 'r');
    cardsim_addReader(name, true);
    loadProvider();
    ASSERT_NE(p11, nullptr);
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    CK_ULONG count = 0;
    EXPECT_RV(CKR_OK, p11->C_GetSlotList(CK_TRUE, nullptr, &count));
    EXPECT_EQ(count, 1u);
    std::istringstream in(logText());
    std::string line;
    bool seen = false;
    while (std::getline(in, line)) {
        if (line.find("ZT_isInserted (rrr") == std::string::npos) continue;
        seen = true;
        // The message itself is cut at 2 999 characters; the logger adds its prefix.
        EXPECT_LT(line.size(), 3000u + 64u);
        EXPECT_EQ(line.find(" returns "), std::string::npos);
    }
    EXPECT_TRUE(seen);
}

}  // namespace

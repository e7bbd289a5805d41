// Loading the provider: where the configuration comes from, the log level,
// the log file, and the start-up failures that leave the module unusable.
#include <sys/stat.h>
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

// A ravenell.conf planted in the current directory: read only when it belongs
// to the user (or root) and nobody else may write it.
class PlantedConfiguration : public Startup {
protected:
    void SetUp() override {
        Startup::SetUp();
        setenv("QUILLON_REGISTRY", scratch("missing.conf").c_str(), 1);
        m_planted = scratch("planted");
        ASSERT_EQ(mkdir(m_planted.c_str(), 0755), 0);
        m_marker = scratch("planted-library-ran");
        setenv("QUILLON_TEST_MARKER", m_marker.c_str(), 1);
        m_file = m_planted + "/ravenell.conf";
        writeFile(m_file, std::string("zt=") + PLANTED_LIBRARY + "\n");
    }
    void TearDown() override {
        unsetenv("QUILLON_TEST_MARKER");
        Startup::TearDown();
    }
    // Loads with the planted folder as the current directory; standard error
    // is kept in m_err.
    void loadThere() {
        testing::internal::CaptureStderr();
        loadIn(m_planted);
        m_err = testing::internal::GetCapturedStderr();
    }
    bool libraryRan() const { return access(m_marker.c_str(), F_OK) == 0; }

    std::string m_planted, m_marker, m_file, m_err;
};

TEST_F(PlantedConfiguration, ForeignOwnerIsIgnoredAndTheLibraryNeverLoads) {
    if (geteuid() != 0) GTEST_SKIP() << "giving the file another owner needs root";
    ASSERT_EQ(chown(m_file.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(m_file.c_str(), 0644), 0);
    loadThere();
    EXPECT_FALSE(libraryRan());
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(m_err.find("Quillon: configuration \"" + m_file + "\" ignored: owned by uid 65534"),
              std::string::npos)
        << m_err;
    // With nothing read there is no "zt": the usual failure follows.
    EXPECT_NE(m_err.find("Brisel: "), std::string::npos) << m_err;
}

TEST_F(PlantedConfiguration, GroupOrOtherWritableIsIgnored) {
    for (mode_t mode : {0664, 0646, 0666}) {
        ASSERT_EQ(chmod(m_file.c_str(), mode), 0);
        loadThere();
        EXPECT_FALSE(libraryRan()) << std::oct << mode;
        EXPECT_EQ(p11, nullptr);
        EXPECT_NE(m_err.find("\"" + m_file + "\" ignored: writable by"), std::string::npos)
            << m_err;
        unloadProvider();
    }
}

TEST_F(PlantedConfiguration, OwnedByTheUserAndPrivateItIsUsed) {
    ASSERT_EQ(chmod(m_file.c_str(), 0644), 0);
    loadThere();
    EXPECT_TRUE(libraryRan()) << m_err;
    EXPECT_EQ(m_err.find("ignored"), std::string::npos) << m_err;
    // The planted table is empty: refused, never called.
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(m_err.find("(from file \"" + m_file + "\")"), std::string::npos) << m_err;
}

TEST_F(Startup, NullRequiredEntryIsRefusedAndNeverCalled) {
    cardsim_addReader(kReader, true);
    cardsim_setNullEntries((1u << kZtOpen) | (1u << kZtGetSlotList));
    std::string err = loadCapturingStderr();
    EXPECT_EQ(p11, nullptr);
    EXPECT_NE(err.find("Errore: Impossibile trovare la dll ZT"), std::string::npos) << err;
    EXPECT_NE(err.find("leaves required entries of its function table null: ZT_getSlotList, "
                       "ZT_open"),
              std::string::npos)
        << err;
    auto init = reinterpret_cast<CK_C_Initialize>(dlsym(m_library, "C_Initialize"));
    ASSERT_NE(init, nullptr);
    EXPECT_RV(CKR_GENERAL_ERROR, init(nullptr));
    auto slots = reinterpret_cast<CK_C_GetSlotList>(dlsym(m_library, "C_GetSlotList"));
    ASSERT_NE(slots, nullptr);
    CK_ULONG count = 0;
    EXPECT_NE(slots(CK_FALSE, nullptr, &count), static_cast<CK_RV>(CKR_OK));
    unloadProvider();
    EXPECT_EQ(cardsim_callCount(-1), 0u);
    EXPECT_NE(logText().find("required entries are NULL: ZT_getSlotList, ZT_open"),
              std::string::npos);

    // The optional entries may be null: the library starts.
    cardsim_setNullEntries((1u << kZtAddObj) | (1u << kZtGenKeyPair));
    loadProvider();
    ASSERT_NE(p11, nullptr);
    EXPECT_RV(CKR_OK, p11->C_Initialize(nullptr));
}

TEST_F(Startup, FailureLineNamesTheLibraryTheSourceAndTheSystemError) {
    std::string missing = scratch("no-such-library.so");
    writeConfig({"zt=" + missing});
    std::string err = loadCapturingStderr();
    std::string box = "Errore: Impossibile trovare la dll ZT\n";
    ASSERT_EQ(err.find(box), 0u) << err;
    std::string line = err.substr(box.size());
    EXPECT_EQ(line.find("Quillon: start-up failed: cannot load the card-access library \"" +
                        missing + "\" (from file \"" + m_configPath + "\"): "),
              0u)
        << line;
    EXPECT_NE(line.find("No such file or directory"), std::string::npos) << line;
    unloadProvider();

    writeConfig({std::string("zt=") + CARDLIB_WITHOUT_FUNCTIONS});
    err = loadCapturingStderr();
    EXPECT_NE(err.find(std::string("Quillon: start-up failed: the card-access library \"") +
                       CARDLIB_WITHOUT_FUNCTIONS + "\" (from file \"" + m_configPath +
                       "\") has no export \"GetFunctionList\": "),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("undefined symbol: GetFunctionList"), std::string::npos) << err;
    unloadProvider();

    // No configuration anywhere: the line says which sources were tried.
    setenv("QUILLON_REGISTRY", scratch("missing.conf").c_str(), 1);
    std::string empty = scratch("empty");
    ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
    testing::internal::CaptureStderr();
    loadIn(empty);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Quillon: start-up failed: no card-access library: no \"zt\" entry in "
                       "the configuration; configuration read: none (file \"" +
                       scratch("missing.conf") + "\" cannot be read; \"" + empty +
                       "/ravenell.conf\": No such file or directory)"),
              std::string::npos)
        << err;
}

TEST_F(Startup, LogFileIsCreatedPrivateAndItsFolderLeftAlone) {
    std::string folder = scratch("logs");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    mode_t old = umask(022);
    writeConfig({"ckilogfile=" + folder + "/quilltok.log"});
    loadProvider();
    umask(old);
    ASSERT_NE(p11, nullptr);
    struct stat st;
    ASSERT_EQ(stat((folder + "/quilltok.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(Startup, AnyNonZeroLogLevelOfAnySizeOrSignGivesTheLog) {
    for (std::string level :
         {"4294967296", "-1", "+7", "99999999999999999999999", "12abc", "-0", "000", "+", "-x"}) {
        std::remove(scratch("quilltok.log").c_str());
        writeConfig({"loglevel=" + level});
        loadProvider();
        ASSERT_NE(p11, nullptr) << level;
        unloadProvider();
        bool zero = level == "-0" || level == "000" || level == "+" || level == "-x";
        EXPECT_EQ(logText().find("START LIBRARY") != std::string::npos, !zero) << level;
    }
}

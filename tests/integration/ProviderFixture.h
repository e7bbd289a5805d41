// Loads the built provider as an application does (dlopen, C_GetFunctionList)
// with a fresh configuration that points "zt" at the test card library, and a
// fresh simulated reader set for every test.
#ifndef QUILLON_TESTS_PROVIDERFIXTURE_H
#define QUILLON_TESTS_PROVIDERFIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CardSim.h"
#include "cryptoki.h"

// Prints CK_RV values in hex in assertion messages.
std::string rvName(CK_RV rv);
#define EXPECT_RV(expected, actual) EXPECT_EQ(rvName(expected), rvName(actual))
#define ASSERT_RV(expected, actual) ASSERT_EQ(rvName(expected), rvName(actual))

// The slot ID the provider derives from a reader name.
CK_SLOT_ID slotIdOf(const std::string& readerName);

class ProviderFixture : public ::testing::Test {
protected:
    static constexpr const char* kReader = "Sim Reader 0";
    static constexpr const char* kUserPin = "1234";
    static constexpr const char* kSoPin = "87654321";

    void SetUp() override;
    void TearDown() override;

    // Writes the configuration file the provider reads at load ("key=value"
    // lines); "zt" defaults to the test card library.
    void writeConfig(const std::vector<std::string>& lines);
    void loadProvider();
    void unloadProvider();
    // Loads (if needed) and initialises with default arguments; one reader with a card.
    void startWithCard();

    // Log file contents so far.
    std::string logText() const;
    std::string scratch(const std::string& name) const { return m_dir + "/" + name; }

    CK_SESSION_HANDLE openSession(CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION);
    void login(CK_SESSION_HANDLE session, CK_USER_TYPE user = CKU_USER);

    CK_FUNCTION_LIST* p11 = nullptr;
    void* m_library = nullptr;
    std::string m_dir;
    std::string m_configPath;
    CK_SLOT_ID m_slot = 0;
};

#endif

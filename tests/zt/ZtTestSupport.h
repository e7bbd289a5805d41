// Shared helpers of the virtual token's tests: the library's function table,
// a private store per test, and running zt-admin.
#ifndef QUILLON_TESTS_ZT_ZTTESTSUPPORT_H
#define QUILLON_TESTS_ZT_ZTTESTSUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CardFunctions.h"
#include "OrlByteArray.h"

namespace zttest {

// The table of the library under test, loaded once with dlopen.
const CardFunctions& zt();

// Status text for assertion messages: "0x63c2".
std::string hex(uint32_t status);
#define EXPECT_ZT(expected, call) EXPECT_EQ(zttest::hex(expected), zttest::hex(call))
#define ASSERT_ZT(expected, call) ASSERT_EQ(zttest::hex(expected), zttest::hex(call))

// zt-admin with `--home home` and args; stdout and stderr go to `output`.
int admin(const std::string& home, const std::vector<std::string>& args,
          std::string* output = nullptr);

OrlByteArray bytes(const std::string& text);
std::string text(const OrlByteArray& a);

// A fresh store in a temporary folder, named by ZT_HOME, with reader "Reader A"
// holding a card (user PIN 1234, SO PIN 12345678, label "Test card", serial
// "SN-0001"); the library is opened on it and `handle` connected to the card.
class ZtStoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A second connection to the card of "Reader A".
    ZT_HANDLE connect(const char* reader = "Reader A");
    void verifyUser(ZT_HANDLE h);

    std::string home_;
    ZT_HANDLE handle_ = 0;
    static constexpr const char* kReader = "Reader A";
};

}  // namespace zttest

#endif

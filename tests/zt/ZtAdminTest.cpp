// zt-admin: its command line, exit codes and what its commands do to the
// store as the library sees it.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "OrlStringVector.h"
#include "ZtTestSupport.h"

namespace zttest {
namespace {

using ZtAdmin = ZtStoreTest;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(ZtAdmin, HelpDescribesTheCommands) {
    std::string out;
    EXPECT_EQ(0, admin("", {"--help"}, &out));
    for (const char* word : {"reader add", "reader delete", "card new", "card remove",
                             "card insert", "pin reset", "list", "--home"})
        EXPECT_TRUE(contains(out, word)) << word;
    EXPECT_EQ(0, admin(home_, {"card", "new", "--help"}, &out));
    EXPECT_TRUE(contains(out, "Usage"));
}

TEST_F(ZtAdmin, UsageErrorsExitWithTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command"},
        {{"reader"}, "unknown command"},
        {{"reader", "rename", "x"}, "unknown command"},
        {{"reader", "add"}, "takes one name"},
        {{"reader", "add", "a", "b"}, "takes one name"},
        {{"reader", "add", ""}, "invalid reader name"},
        {{"reader", "add", std::string(256, 'r')}, "invalid reader name"},
        {{"reader", "add", "Lecteur \xe9"}, "invalid reader name"},  // Latin-1, not UTF-8
        {{"reader", "add", "tab\there"}, "invalid reader name"},
        {{"reader", "add", "C1 \xc2\x85 control"}, "invalid reader name"},
        {{"card", "new", kReader, "--colour", "red"}, "unknown option"},
        {{"card", "new", kReader, "--label"}, "needs a value"},
        {{"card", "new", kReader, "--label", std::string(33, 'l')}, "label"},
        {{"card", "new", kReader, "--serial", std::string(17, '1')}, "serial"},
        {{"card", "new", kReader, "--user-pin", ""}, "PIN"},
        {{"card", "new", kReader, "--tries", "0"}, "--tries"},
        {{"card", "new", kReader, "--tries", "x"}, "--tries"},
        {{"pin", "reset", kReader}, "--user-pin"},
        {{"list", "extra"}, "no arguments"},
        {{"--bogus", "list"}, "unknown option"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(2, admin(home_, c.args, &out)) << c.message;
        EXPECT_TRUE(contains(out, c.message)) << out;
    }
}

TEST_F(ZtAdmin, RefusalsExitWithOne) {
    std::string out;
    EXPECT_EQ(1, admin(home_, {"reader", "add", kReader}, &out));
    EXPECT_TRUE(contains(out, "exists")) << out;
    EXPECT_EQ(1, admin(home_, {"card", "new", kReader}, &out));
    EXPECT_TRUE(contains(out, "already holds a card")) << out;
    EXPECT_EQ(1, admin(home_, {"card", "new", "Nobody"}, &out));
    EXPECT_TRUE(contains(out, "no reader")) << out;
    EXPECT_EQ(1, admin(home_, {"card", "insert", kReader}, &out));
    EXPECT_EQ(1, admin(home_, {"reader", "delete", "Nobody"}, &out));
    EXPECT_EQ(1, admin(home_, {"pin", "reset", "Nobody", "--user-pin", "1"}, &out));
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Empty"}));
    EXPECT_EQ(1, admin(home_, {"card", "remove", "Empty"}, &out));
    EXPECT_EQ(1, admin(home_, {"card", "delete", "Empty"}, &out));
    EXPECT_EQ(1, admin(home_, {"pin", "reset", "Empty", "--user-pin", "1"}, &out));
    ASSERT_EQ(0, admin(home_, {"card", "remove", kReader}));
    EXPECT_EQ(1, admin(home_, {"card", "remove", kReader}, &out));
    EXPECT_EQ(1, admin(home_, {"card", "new", kReader}, &out));
    EXPECT_TRUE(contains(out, "pulled-out card")) << out;
}

TEST_F(ZtAdmin, ListShowsReadersCardsAndTriesLeft) {
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Empty reader"}));
    EXPECT_ZT(0x63C2, zt().ZT_verifyPIN(handle_, 1, "0000"));
    std::string out;
    ASSERT_EQ(0, admin(home_, {"list"}, &out));
    EXPECT_TRUE(contains(out, "Empty reader: no card")) << out;
    EXPECT_TRUE(contains(out,
                         "Reader A: card in, label \"Test card\", serial SN-0001, "
                         "user PIN 2/3 tries left, SO PIN 3/3 tries left"))
        << out;
    ASSERT_EQ(0, admin(home_, {"card", "remove", kReader}));
    ASSERT_EQ(0, admin(home_, {"list"}, &out));
    EXPECT_TRUE(contains(out, "Reader A: card out")) << out;
}

TEST_F(ZtAdmin, HomeOptionOverridesTheEnvironment) {
    std::string other = home_ + "/other store";
    ASSERT_EQ(0, admin(other, {"reader", "add", "Elsewhere"}));
    std::string out;
    ASSERT_EQ(0, admin("", {"list"}, &out));  // ZT_HOME names home_
    EXPECT_FALSE(contains(out, "Elsewhere")) << out;
    ASSERT_EQ(0, admin("", {"--home=" + other, "list"}, &out));
    EXPECT_TRUE(contains(out, "Elsewhere")) << out;
}

TEST_F(ZtAdmin, NewCardsTakeTheGivenTextsAndPins) {
    ASSERT_EQ(0, admin(home_, {"reader", "add", "R2"}));
    ASSERT_EQ(0, admin(home_, {"card", "new", "R2", "--label=My token", "--serial", "0042",
                               "--user-pin", "11112222", "--so-pin", "99998888", "--tries", "5"}));
    char serial[256], label[256], manufacturer[256], model[256];
    ASSERT_ZT(0, zt().ZT_getTokenInfo("R2", serial, label, manufacturer, model));
    EXPECT_STREQ("0042", serial);
    EXPECT_STREQ("My token", label);
    ZT_HANDLE h = connect("R2");
    EXPECT_ZT(0x63C4, zt().ZT_verifyPIN(h, 1, "1234"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(h, 1, "11112222"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(h, 0, "99998888"));
    zt().ZT_disconnect(h);

    // Defaults: a random serial, user PIN 1234, SO PIN 12345678.
    ASSERT_EQ(0, admin(home_, {"reader", "add", "R3"}));
    ASSERT_EQ(0, admin(home_, {"card", "new", "R3"}));
    char serial3[256];
    ASSERT_ZT(0, zt().ZT_getTokenInfo("R3", serial3, label, manufacturer, model));
    EXPECT_EQ(16u, std::string(serial3).size());
    EXPECT_STRNE(serial, serial3);
    h = connect("R3");
    EXPECT_ZT(0, zt().ZT_verifyPIN(h, 1, "1234"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(h, 0, "12345678"));
    zt().ZT_disconnect(h);
}

TEST_F(ZtAdmin, PinResetSetsAndUnblocksBothPins) {
    for (int i = 0; i < 3; ++i) zt().ZT_verifyPIN(handle_, 0, "bad");
    EXPECT_ZT(0x6983, zt().ZT_verifyPIN(handle_, 0, "12345678"));
    ASSERT_EQ(0,
              admin(home_, {"pin", "reset", kReader, "--user-pin", "2468", "--so-pin", "13579"}));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, 1, "2468"));
    EXPECT_ZT(0, zt().ZT_verifyPIN(handle_, 0, "13579"));
}

TEST_F(ZtAdmin, CardDeleteMakesRoomForANewCard) {
    OrlByteArray dir = bytes("old card");
    ASSERT_ZT(0, zt().ZT_putObjectTbl(handle_, dir));
    ASSERT_EQ(0, admin(home_, {"card", "delete", kReader}));
    EXPECT_NE(0u, zt().ZT_isInserted(kReader));
    EXPECT_NE(0u, zt().ZT_getObjectTbl(handle_, dir));
    ASSERT_EQ(0, admin(home_, {"card", "new", kReader}));
    ZT_HANDLE h = connect();
    OrlByteArray out;
    uint32_t st = zt().ZT_getObjectTbl(h, out);
    EXPECT_EQ(9u, st & 0xFFFFu) << hex(st);
    // The old connection does not reach the new card.
    EXPECT_NE(0u, zt().ZT_getObjectTbl(handle_, out));
    zt().ZT_disconnect(h);
}

TEST_F(ZtAdmin, ReaderDeleteRemovesItFromTheList) {
    ASSERT_EQ(0, admin(home_, {"reader", "add", "Gone soon"}));
    ASSERT_EQ(0, admin(home_, {"reader", "delete", "Gone soon"}));
    ASSERT_EQ(0, admin(home_, {"reader", "delete", kReader}));
    OrlStringVector readers;
    ASSERT_ZT(0, zt().ZT_getSlotList(readers));
    EXPECT_EQ(0u, readers.size());
    EXPECT_FALSE(std::filesystem::exists(home_ + "/readers/Reader A"));
}

// What a killed zt-admin leaves beside a card (a half-built new card, a card
// moved aside for deletion) is not a card and does not block the next one.
TEST_F(ZtAdmin, LeftoversOfAKilledAdminAreCleanedUp) {
    namespace fs = std::filesystem;
    std::string reader = home_ + "/readers/R2";
    ASSERT_EQ(0, admin(home_, {"reader", "add", "R2"}));
    fs::create_directories(reader + "/card.new/values");
    fs::create_directories(reader + "/card.deleted/keys");
    EXPECT_NE(0u, zt().ZT_isInserted("R2"));
    std::string out;
    ASSERT_EQ(0, admin(home_, {"list"}, &out));
    EXPECT_TRUE(contains(out, "R2: no card")) << out;
    ASSERT_EQ(0, admin(home_, {"card", "new", "R2"}, &out)) << out;
    EXPECT_FALSE(fs::exists(reader + "/card.new"));
    EXPECT_FALSE(fs::exists(reader + "/card.deleted"));
    EXPECT_ZT(0, zt().ZT_isInserted("R2"));
    ASSERT_EQ(0, admin(home_, {"card", "delete", "R2"}, &out)) << out;
    EXPECT_FALSE(fs::exists(reader + "/card"));
    EXPECT_FALSE(fs::exists(reader + "/card.deleted"));
}

}  // namespace
}  // namespace zttest

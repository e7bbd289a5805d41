// Reader names as PC/SC readers report them, on the virtual token: accented
// and 255 bytes long, each a slot that opens and logs in.
#if defined(ZT_LIBRARY_PATH) && defined(ZT_ADMIN_PATH)

#include <cstdlib>
#include <cstring>

#include "ProviderFixture.h"

namespace {

class VirtualTokenReaderNames : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        m_home = scratch("zt-home");
        setenv("ZT_HOME", m_home.c_str(), 1);
        writeConfig({std::string("zt=") + ZT_LIBRARY_PATH});
    }
    void TearDown() override {
        ProviderFixture::TearDown();
        unsetenv("ZT_HOME");
    }
    void admin(const std::string& args) {
        std::string cmd =
            std::string(ZT_ADMIN_PATH) + " --home '" + m_home + "' " + args + " >/dev/null";
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    }
    std::string m_home;
};

TEST_F(VirtualTokenReaderNames, LongAndAccentedNamesAreSlotsThatWork) {
    std::string longName = "Lecteur \xc3\xa9 ";
    while (longName.size() < 255) longName += static_cast<char>('a' + longName.size() % 26);
    const std::vector<std::string> names = {"Lecteur \xc3\xa9", longName};
    for (const auto& name : names) {
        admin("reader add '" + name + "'");
        admin("card new '" + name + "' --user-pin 1234 --so-pin 87654321");
    }
    loadProvider();
    ASSERT_NE(p11, nullptr);
    ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    ASSERT_RV(CKR_OK, p11->C_GetSlotList(CK_TRUE, slots, &count));
    EXPECT_EQ(2u, count);
    for (const auto& name : names) {
        CK_SLOT_ID slot = slotIdOf(name);
        CK_SLOT_INFO info;
        ASSERT_RV(CKR_OK, p11->C_GetSlotInfo(slot, &info)) << name;
        size_t shown = std::min<size_t>(name.size(), sizeof(info.slotDescription));
        EXPECT_EQ(0, std::memcmp(info.slotDescription, name.data(), shown)) << name;
        CK_SESSION_HANDLE session = 0;
        ASSERT_RV(CKR_OK, p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
        EXPECT_RV(CKR_OK,
                  p11->C_Login(session, CKU_USER,
                               reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("1234")), 4));
        EXPECT_RV(CKR_OK, p11->C_CloseSession(session));
    }
}

}  // namespace

#endif

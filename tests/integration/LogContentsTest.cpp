// What the log may hold: a private object's value never, in any call that
// logs a template; a public data object's value may (so the check can fail).
#include <cctype>

#include "ObjectTestSupport.h"

namespace {

class LogContents : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        m_session = openSession();
        login(m_session);
    }
    CK_OBJECT_HANDLE create(Tmpl t) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(m_session, t.get(), t.count(), &h));
        return h;
    }
    // Reads the class, the value and a vendor attribute the object lacks.
    void readBack(CK_OBJECT_HANDLE h) {
        CK_OBJECT_CLASS cls = 0;
        unsigned char value[64] = {0};
        CK_ATTRIBUTE get[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_VALUE, value, sizeof(value)}};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(m_session, h, get, 2));
    }
    void search(const std::string& value) {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_ATTRIBUTE find[] = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_VALUE, const_cast<char*>(value.data()), static_cast<CK_ULONG>(value.size())}};
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(m_session, find, 2));
        CK_OBJECT_HANDLE found[4];
        CK_ULONG count = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjects(m_session, found, 4, &count));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(m_session));
    }
    // The log's hex dumps show the first bytes of a value.
    static std::string hexStart(const std::string& value) {
        static const char* digits = "0123456789ABCDEF";
        std::string hex;
        for (size_t i = 0; i < 8 && i < value.size(); ++i) {
            hex += digits[static_cast<unsigned char>(value[i]) >> 4];
            hex += digits[static_cast<unsigned char>(value[i]) & 15];
        }
        return hex;
    }
    bool logHolds(const std::string& value) const {
        std::string log = logText();
        for (char& c : log) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return log.find(hexStart(value)) != std::string::npos;
    }

    CK_SESSION_HANDLE m_session = 0;
};

TEST_F(LogContents, PrivateDataObjectValueNeverReachesTheLog) {
    const std::string secret = "\x5e\xc7\x31\x9a\x42\xd0\x77\x18-secret";
    const std::string changed = "\x6f\xd8\x42\xab\x53\xe1\x88\x29-changed";
    // Created private, then read, searched for and changed through templates
    // that do not repeat CKA_PRIVATE.
    CK_OBJECT_HANDLE h = create(dataTemplate(true, "private data", secret, true));
    readBack(h);
    search(secret);
    CK_ATTRIBUTE set[] = {
        {CKA_VALUE, const_cast<char*>(changed.data()), static_cast<CK_ULONG>(changed.size())}};
    EXPECT_RV(CKR_OK, p11->C_SetAttributeValue(m_session, h, set, 1));
    readBack(h);
    EXPECT_FALSE(logHolds(secret));
    EXPECT_FALSE(logHolds(changed));
    EXPECT_NE(logText().find("CKA_VALUE valuelen: (15), value: (not logged)"), std::string::npos);
}

TEST_F(LogContents, PublicDataObjectValueIsLogged) {
    const std::string open = "\x3a\xb5\x20\x89\x31\xc4\x66\x07-public";
    CK_OBJECT_HANDLE h = create(dataTemplate(true, "public data", open, false));
    readBack(h);
    EXPECT_TRUE(logHolds(open));
}

TEST_F(LogContents, UnknownAttributesOfAPrivateObjectAreNotLogged) {
    const std::string vendor = "\x7b\xe9\x53\xbc\x64\xf2\x99\x3a-vendor";
    Tmpl t = dataTemplate(true, "private data", "v", true);
    t.bytes(0x80001234, vendor.data(), vendor.size());
    CK_OBJECT_HANDLE h = 0;
    p11->C_CreateObject(m_session, t.get(), t.count(), &h);  // refused or not: only the log counts
    EXPECT_FALSE(logHolds(vendor));
}

}  // namespace

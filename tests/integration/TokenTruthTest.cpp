// The token is the truth and the object table a cache of it: regressions of
// faults that lost token objects, or answered with values the card does not
// hold, over the test card library.
#include <string>
#include <vector>

#include "ObjectTestSupport.h"

namespace {

class TokenTruth : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        m_rw = openSession();
    }
    CK_OBJECT_HANDLE mustCreate(Tmpl t, CK_SESSION_HANDLE s = 0) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(s ? s : m_rw, t.get(), t.count(), &h));
        return h;
    }
    std::vector<CK_OBJECT_HANDLE> find(Tmpl t, CK_SESSION_HANDLE s = 0) {
        s = s ? s : m_rw;
        std::vector<CK_OBJECT_HANDLE> found(64);
        CK_ULONG n = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(s, t.get(), t.count()));
        EXPECT_RV(CKR_OK, p11->C_FindObjects(s, found.data(), found.size(), &n));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(s));
        found.resize(n);
        return found;
    }
    std::vector<CK_OBJECT_HANDLE> findLabel(const std::string& label) {
        Tmpl t;
        t.text(CKA_LABEL, label);
        return find(t);
    }
    CK_RV attribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type, std::string* out,
                    CK_SESSION_HANDLE s = 0) {
        std::vector<char> buffer(512);
        CK_ATTRIBUTE a = {type, buffer.data(), static_cast<CK_ULONG>(buffer.size())};
        CK_RV rv = p11->C_GetAttributeValue(s ? s : m_rw, h, &a, 1);
        if (rv == CKR_OK && out) out->assign(buffer.data(), a.ulValueLen);
        return rv;
    }
    std::string text(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
        std::string value;
        EXPECT_RV(CKR_OK, attribute(h, type, &value));
        return value;
    }
    // A new load of the provider: the table is read from the card again.
    void restart() {
        ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        m_rw = openSession();
    }
    CK_RV generatePair(CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv) {
        Tmpl pubT, privT;
        pubT.flag(CKA_TOKEN, true).ulong(CKA_MODULUS_BITS, 512).text(CKA_LABEL, "pair");
        privT.flag(CKA_TOKEN, true).text(CKA_LABEL, "pair");
        CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return p11->C_GenerateKeyPair(m_rw, &m, pubT.get(), pubT.count(), privT.get(),
                                      privT.count(), pub, priv);
    }
    CK_SESSION_HANDLE m_rw = 0;
};

// Logged out, a write of the whole directory used to leave out the private
// records the logout had taken from the table.
TEST_F(TokenTruth, WriteAfterLogoutKeepsPrivateRecords) {
    login(m_rw);
    mustCreate(dataTemplate(true, "secret", "s", true));
    CK_OBJECT_HANDLE renamed = mustCreate(dataTemplate(true, "public-1", "a"));
    CK_OBJECT_HANDLE destroyed = mustCreate(dataTemplate(true, "public-2", "b"));
    ASSERT_RV(CKR_OK, p11->C_Logout(m_rw));

    Tmpl rename;
    rename.text(CKA_LABEL, "renamed");
    EXPECT_RV(CKR_OK, p11->C_SetAttributeValue(m_rw, renamed, rename.get(), rename.count()));
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, destroyed));
    mustCreate(dataTemplate(true, "public-3", "c"));
    EXPECT_TRUE(findLabel("secret").empty()) << "hidden while logged out";

    login(m_rw);
    ASSERT_EQ(findLabel("secret").size(), 1u);
    EXPECT_EQ(text(findLabel("secret")[0], CKA_VALUE), "s");
    restart();
    login(m_rw);
    EXPECT_EQ(findLabel("secret").size(), 1u);
    EXPECT_EQ(findLabel("renamed").size(), 1u);
    EXPECT_TRUE(findLabel("public-2").empty());
}

// Destroying the public half of a pair while logged out used to free the
// pair's storage: the private half, hidden by the logout, was not counted.
TEST_F(TokenTruth, DestroyAfterLogoutKeepsTheOtherHalfsKeyPair) {
    login(m_rw);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    ASSERT_RV(CKR_OK, generatePair(&pub, &priv));
    ASSERT_RV(CKR_OK, p11->C_Logout(m_rw));
    cardsim_clearCalls();
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, pub));
    EXPECT_EQ(cardsim_callCount(kZtDeleteObj), 0u);
    EXPECT_EQ(cardsim_keyCount(kReader), 1u);

    login(m_rw);
    Tmpl privates;
    privates.ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    ASSERT_EQ(find(privates).size(), 1u);
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_SignInit(m_rw, &m, find(privates)[0]));
    unsigned char data[3] = {1, 2, 3}, signature[64];
    CK_ULONG length = sizeof(signature);
    EXPECT_RV(CKR_OK, p11->C_Sign(m_rw, data, sizeof(data), signature, &length));
}

// A session's list of its session objects kept numbers of objects already
// gone; a later object could take the number, and closing the first session
// then destroyed the other session's object.
TEST_F(TokenTruth, ClosingASessionDestroysOnlyWhatItStillOwns) {
    CK_SESSION_HANDLE first = openSession();
    CK_SESSION_HANDLE second = openSession();
    CK_OBJECT_HANDLE gone = mustCreate(dataTemplate(false, "first's", "v"), first);
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(second, gone));
    // A logout makes the table read the directory again, as a new process would.
    login(second);
    ASSERT_RV(CKR_OK, p11->C_Logout(second));
    std::vector<CK_OBJECT_HANDLE> made;
    for (int i = 0; i < 4; ++i)
        made.push_back(mustCreate(dataTemplate(false, "second's", "v"), second));
    ASSERT_RV(CKR_OK, p11->C_CloseSession(first));
    for (CK_OBJECT_HANDLE h : made) EXPECT_EQ(text(h, CKA_LABEL), "second's") << h;
}

TEST_F(TokenTruth, PrivateSessionObjectDroppedAtLogoutIsNotClosedAgain) {
    CK_SESSION_HANDLE first = openSession();
    login(first);
    mustCreate(dataTemplate(false, "private session", "v", true), first);
    ASSERT_RV(CKR_OK, p11->C_Logout(first));
    CK_OBJECT_HANDLE other = mustCreate(dataTemplate(false, "other", "v"));
    ASSERT_RV(CKR_OK, p11->C_CloseSession(first));
    EXPECT_EQ(text(other, CKA_LABEL), "other");
}

// CKA_TOKEN, CKA_PRIVATE and CKA_MODIFIABLE used to change after creation:
// a token object silently left the card, a session object became a token
// object without a stored value, a public value became private and stayed
// readable without a PIN.
TEST_F(TokenTruth, TokenPrivateAndModifiableAreReadOnlyAfterCreation) {
    login(m_rw);
    CK_OBJECT_HANDLE token = mustCreate(dataTemplate(true, "token", "t"));
    CK_OBJECT_HANDLE session = mustCreate(dataTemplate(false, "session", "s"));
    std::vector<uint8_t> before;
    ASSERT_TRUE(cardsim_directory(kReader, &before));
    struct Change {
        CK_OBJECT_HANDLE h;
        CK_ATTRIBUTE_TYPE type;
        bool value;
    } changes[] = {{token, CKA_TOKEN, false},      {session, CKA_TOKEN, true},
                   {token, CKA_PRIVATE, true},     {session, CKA_PRIVATE, true},
                   {token, CKA_MODIFIABLE, false}, {session, CKA_MODIFIABLE, false}};
    for (const Change& c : changes) {
        Tmpl t;
        t.text(CKA_LABEL, "changed").flag(c.type, c.value);
        EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(m_rw, c.h, t.get(), t.count()))
            << std::hex << c.type;
    }
    std::vector<uint8_t> after;
    ASSERT_TRUE(cardsim_directory(kReader, &after));
    EXPECT_EQ(after, before);
    EXPECT_EQ(text(token, CKA_LABEL), "token");
    EXPECT_EQ(text(session, CKA_LABEL), "session");
    CK_BBOOL flag = CK_FALSE;
    CK_ATTRIBUTE a = {CKA_TOKEN, &flag, 1};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(m_rw, token, &a, 1));
    EXPECT_EQ(flag, CK_TRUE);
    // Setting a flag to the value it already has changes nothing and is allowed.
    Tmpl same;
    same.flag(CKA_TOKEN, true).flag(CKA_PRIVATE, false);
    EXPECT_RV(CKR_OK, p11->C_SetAttributeValue(m_rw, token, same.get(), same.count()));
}

// A key type above 0xFF was stored as its low byte and read back as another
// type: refused at creation.
TEST_F(TokenTruth, KeyTypeTheRecordCannotHoldIsRefused) {
    const unsigned char key[16] = {1};
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY)
        .ulong(CKA_KEY_TYPE, 0x100 | CKK_AES)
        .flag(CKA_TOKEN, true)
        .bytes(CKA_VALUE, key, sizeof(key));
    CK_OBJECT_HANDLE h = 0;
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, p11->C_CreateObject(m_rw, t.get(), t.count(), &h));
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);
}

// An empty CKA_APPLICATION was written as length 0 and read back as absent.
TEST_F(TokenTruth, EmptyTextsReadBackAsEmpty) {
    Tmpl t = dataTemplate(true, "", "v");
    t.text(CKA_APPLICATION, "");
    CK_OBJECT_HANDLE h = mustCreate(t);
    restart();
    Tmpl byApplication;
    byApplication.ulong(CKA_CLASS, CKO_DATA).text(CKA_APPLICATION, "");
    ASSERT_EQ(find(byApplication).size(), 1u);
    EXPECT_EQ(find(byApplication)[0], h);
    std::string value = "x";
    EXPECT_RV(CKR_OK, attribute(h, CKA_APPLICATION, &value));
    EXPECT_EQ(value, "");
    EXPECT_RV(CKR_OK, attribute(h, CKA_LABEL, &value));
    EXPECT_EQ(value, "");
}

// A zero-length value read back as the one byte 00 after a reload, and its
// ZT_addObj was taken as an allocation: an orphaned stored value.
TEST_F(TokenTruth, ZeroLengthValueRoundTripsWithoutOrphan) {
    const unsigned char none = 0;
    Tmpl data = dataTemplate(true, "empty-data", "");
    Tmpl certificate;
    certificate.ulong(CKA_CLASS, CKO_CERTIFICATE)
        .ulong(CKA_CERTIFICATE_TYPE, CKC_X_509)
        .flag(CKA_TOKEN, true)
        .text(CKA_LABEL, "empty-certificate")
        .bytes(CKA_VALUE, &none, 0);
    CK_OBJECT_HANDLE d = mustCreate(data);
    CK_OBJECT_HANDLE s = mustCreate(certificate);
    EXPECT_EQ(cardsim_valueCount(kReader), 2u);
    restart();
    std::string value = "x";
    EXPECT_RV(CKR_OK, attribute(d, CKA_VALUE, &value));
    EXPECT_EQ(value, "");
    value = "x";
    EXPECT_RV(CKR_OK, attribute(s, CKA_VALUE, &value));
    EXPECT_EQ(value, "");
    Tmpl byValue;
    byValue.ulong(CKA_CLASS, CKO_DATA).bytes(CKA_VALUE, &none, 0);
    EXPECT_EQ(find(byValue).size(), 1u);
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, d));
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, s));
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);
}

// A directory read failure whose low 16 bits are 9 (PC/SC's 0x80100009) was
// taken as "no directory yet": the search found nothing and the next write
// replaced the card's directory with the new object alone.
TEST_F(TokenTruth, DirectoryReadFailureEndingIn9IsAFailure) {
    for (int i = 0; i < 3; ++i) mustCreate(dataTemplate(true, "kept", "v"));
    std::vector<uint8_t> before;
    ASSERT_TRUE(cardsim_directory(kReader, &before));
    restart();
    cardsim_script(kZtGetObjectTbl, 0x80100009u, 2);
    Tmpl all;
    EXPECT_RV(CKR_DEVICE_ERROR, p11->C_FindObjectsInit(m_rw, all.get(), 0));
    CK_OBJECT_HANDLE h = 0;
    Tmpl t = dataTemplate(true, "new", "v");
    EXPECT_RV(CKR_DEVICE_ERROR, p11->C_CreateObject(m_rw, t.get(), t.count(), &h));
    std::vector<uint8_t> after;
    ASSERT_TRUE(cardsim_directory(kReader, &after));
    EXPECT_EQ(after, before);
    EXPECT_EQ(cardsim_valueCount(kReader), 3u);
    // Once the card answers again, everything is there.
    EXPECT_EQ(findLabel("kept").size(), 3u);
}

TEST_F(TokenTruth, OtherDirectoryReadFailuresWriteNothing) {
    mustCreate(dataTemplate(true, "kept", "v"));
    std::vector<uint8_t> before;
    ASSERT_TRUE(cardsim_directory(kReader, &before));
    restart();
    const uint32_t failures[] = {0x6F00, 0x80100007u, 0x00010009u};
    for (uint32_t status : failures) {
        cardsim_script(kZtGetObjectTbl, status, 1);
        CK_OBJECT_HANDLE h = 0;
        Tmpl t = dataTemplate(true, "new", "v");
        EXPECT_RV(CKR_DEVICE_ERROR, p11->C_CreateObject(m_rw, t.get(), t.count(), &h)) << status;
    }
    std::vector<uint8_t> after;
    ASSERT_TRUE(cardsim_directory(kReader, &after));
    EXPECT_EQ(after, before);
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), 1u);
}

// A failed value read whose low 16 bits were 7 was cached as the value 00.
TEST_F(TokenTruth, FailedValueReadIsNeverCached) {
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(true, "d", "value"));
    restart();
    const uint32_t failures[] = {0x80100007u, 0x00010007u, 0x6F00};
    for (uint32_t status : failures) {
        cardsim_script(kZtReadObj, status, 1);
        EXPECT_RV(CKR_DEVICE_ERROR, attribute(h, CKA_VALUE, nullptr)) << status;
    }
    EXPECT_EQ(text(h, CKA_VALUE), "value");
}

// A record without the token flag was read as a session object nobody owned:
// never freed, never written back. The directory holds token objects only, so
// such a record is kept as a token object.
TEST_F(TokenTruth, RecordWithoutTokenFlagIsKeptAsTokenObject) {
    // Counter 2; data object 1, flags: modifiable only; label "abc"; path "d1".
    std::vector<uint8_t> directory = {0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x03, 'a',
                                      'b',  'c',  0x02, 'd',  '1',  0x00, 0x00, 0x00};
    cardsim_setDirectory(kReader, directory);
    restart();
    ASSERT_EQ(findLabel("abc").size(), 1u);
    CK_OBJECT_HANDLE h = findLabel("abc")[0];
    CK_BBOOL token = CK_FALSE;
    CK_ATTRIBUTE a = {CKA_TOKEN, &token, 1};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(m_rw, h, &a, 1));
    EXPECT_EQ(token, CK_TRUE);
    mustCreate(dataTemplate(true, "other", "v"));
    restart();
    EXPECT_EQ(findLabel("abc").size(), 1u);
    EXPECT_EQ(findLabel("other").size(), 1u);
}

}  // namespace

// C_CreateObject (key import included), C_DestroyObject, C_GetAttributeValue,
// C_SetAttributeValue and C_GetObjectSize against the test card, which
// records what reaches it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ObjectTestSupport.h"

namespace {

class ObjectOps : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        m_rw = openSession();
        m_ro = openSession(CKF_SERIAL_SESSION);
        cardsim_clearCalls();
    }
    CK_RV create(CK_SESSION_HANDLE s, Tmpl t, CK_OBJECT_HANDLE* h) {
        return p11->C_CreateObject(s, t.get(), t.count(), h);
    }
    CK_OBJECT_HANDLE mustCreate(Tmpl t, CK_SESSION_HANDLE s = 0) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, create(s ? s : m_rw, t, &h));
        return h;
    }
    std::vector<uint8_t> directory() {
        std::vector<uint8_t> d;
        cardsim_directory(kReader, &d);
        return d;
    }
    std::vector<unsigned char> attribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type,
                                         CK_RV* rv = nullptr) {
        std::vector<unsigned char> buffer(512);
        CK_ATTRIBUTE a = {type, buffer.data(), static_cast<CK_ULONG>(buffer.size())};
        CK_RV r = p11->C_GetAttributeValue(m_rw, h, &a, 1);
        if (rv) *rv = r;
        if (r != CKR_OK) return {};
        buffer.resize(a.ulValueLen);
        return buffer;
    }
    CK_ULONG ulongAttribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
        CK_ULONG value = 0xDEAD;
        CK_ATTRIBUTE a = {type, &value, sizeof(value)};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(m_rw, h, &a, 1));
        return value;
    }
    // The container's default mark: the first byte of a CK_ULONG-sized answer.
    int defaultMark(CK_OBJECT_HANDLE h) {
        std::vector<unsigned char> v = attribute(h, CKA_CONTAINER_DEFAULT);
        return v.empty() ? -1 : v[0];
    }
    bool exists(CK_OBJECT_HANDLE h) {
        CK_ULONG cls = 0;
        CK_ATTRIBUTE a = {CKA_CLASS, &cls, sizeof(cls)};
        return p11->C_GetAttributeValue(m_rw, h, &a, 1) == CKR_OK;
    }
    CK_SESSION_HANDLE m_rw = 0, m_ro = 0;
};

std::string str(const std::vector<unsigned char>& v) {
    return std::string(v.begin(), v.end());
}

// The first six bytes as hex text, in either case.
std::string hexText(const std::vector<unsigned char>& v, bool upper) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < 6 && i < v.size(); ++i) {
        std::snprintf(two, sizeof(two), upper ? "%02X" : "%02x", v[i]);
        out += two;
    }
    return out;
}

TEST_F(ObjectOps, CreatesEveryClassAsTokenAndSessionObject) {
    std::vector<unsigned char> modulus = testModulus();
    const unsigned char e[] = {0x01, 0x00, 0x01};
    const unsigned char desKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (bool token : {false, true}) {
        SCOPED_TRACE(token ? "token" : "session");
        Tmpl data = dataTemplate(token, "d", "hello");
        Tmpl cert;
        cert.ulong(CKA_CLASS, CKO_CERTIFICATE)
            .ulong(CKA_CERTIFICATE_TYPE, CKC_X_509)
            .flag(CKA_TOKEN, token)
            .text(CKA_LABEL, "c")
            .text(CKA_SUBJECT, "subject")
            .text(CKA_VALUE, "certificate bytes");
        Tmpl secret;
        secret.ulong(CKA_CLASS, CKO_SECRET_KEY)
            .ulong(CKA_KEY_TYPE, CKK_DES)
            .flag(CKA_TOKEN, token)
            .text(CKA_LABEL, "s")
            .bytes(CKA_VALUE, desKey, sizeof(desKey));
        for (Tmpl* t : {&data, &cert, &secret}) {
            size_t before = cardsim_callCount(kZtPutObjectTbl);
            CK_OBJECT_HANDLE h = mustCreate(*t);
            EXPECT_NE(h, 0u);
            EXPECT_TRUE(exists(h));
            // Token objects are written at once, session objects never.
            EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), before + (token ? 1 : 0));
        }
        EXPECT_EQ(ulongAttribute(mustCreate(dataTemplate(token, "x", "v")), CKA_CLASS), CKO_DATA);
    }
    Tmpl pub;
    pub.ulong(CKA_CLASS, CKO_PUBLIC_KEY)
        .ulong(CKA_KEY_TYPE, CKK_RSA)
        .flag(CKA_TOKEN, false)
        .bytes(CKA_MODULUS, modulus.data(), modulus.size())
        .bytes(CKA_PUBLIC_EXPONENT, e, sizeof(e));
    CK_OBJECT_HANDLE h = mustCreate(pub);
    EXPECT_EQ(attribute(h, CKA_MODULUS), modulus);
    EXPECT_EQ(cardsim_callCount(kZtPutKeyPair), 0u);
}

TEST_F(ObjectOps, SessionRulesAndRefusedClasses) {
    CK_OBJECT_HANDLE h = 0;
    // A session object in a read-only session is fine, a token object is not.
    EXPECT_RV(CKR_OK, create(m_ro, dataTemplate(false, "ro", "v"), &h));
    size_t puts = cardsim_callCount(kZtPutObjectTbl);
    CK_OBJECT_HANDLE refused = 0;
    EXPECT_RV(CKR_SESSION_READ_ONLY, create(m_ro, dataTemplate(true, "ro", "v"), &refused));
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), puts);
    EXPECT_EQ(cardsim_callCount(kZtAddObj), 0u);

    std::vector<unsigned char> modulus = testModulus();
    const unsigned char e[] = {0x01, 0x00, 0x01};
    Tmpl pub;
    pub.ulong(CKA_CLASS, CKO_PUBLIC_KEY)
        .flag(CKA_TOKEN, true)
        .bytes(CKA_MODULUS, modulus.data(), modulus.size())
        .bytes(CKA_PUBLIC_EXPONENT, e, sizeof(e));
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT, create(m_rw, pub, &refused));

    Tmpl noClass;
    noClass.flag(CKA_TOKEN, false).text(CKA_LABEL, "x");
    EXPECT_RV(CKR_GENERAL_ERROR, create(m_rw, noClass, &refused));
    Tmpl domain;
    domain.ulong(CKA_CLASS, CKO_DOMAIN_PARAMETERS);
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT, create(m_rw, domain, &refused));
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), puts);

    // Argument checks of the entry point.
    Tmpl t = dataTemplate(false, "a", "b");
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_CreateObject(0, t.get(), t.count(), &h));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_CreateObject(m_rw, nullptr, 1, &h));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_CreateObject(m_rw, t.get(), 0, &h));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_CreateObject(m_rw, t.get(), t.count(), nullptr));
}

TEST_F(ObjectOps, UnknownAttributeIgnoredOnCreation) {
    Tmpl t = dataTemplate(true, "odd", "v");
    t.ulong(0x8123456UL, 7);
    CK_OBJECT_HANDLE h = mustCreate(t);
    EXPECT_EQ(str(attribute(h, CKA_LABEL)), "odd");
}

TEST_F(ObjectOps, DirectoryWrittenAfterCreationMatchesRecordLayout) {
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(true, "lbl", "hello"));
    std::vector<CardSimCall> adds = cardsim_calls(kZtAddObj);
    ASSERT_EQ(adds.size(), 2u);
    std::string path = adds[1].text;
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::string(adds[1].bytes.begin(), adds[1].bytes.end()), "hello");

    std::vector<CardSimCall> puts = cardsim_calls(kZtPutObjectTbl);
    ASSERT_EQ(puts.size(), 1u);
    uint16_t counter = static_cast<uint16_t>(h + 1);
    std::vector<uint8_t> expected = {static_cast<uint8_t>(counter >> 8),
                                     static_cast<uint8_t>(counter & 0xFF),
                                     0x00,  // tag CKO_DATA
                                     static_cast<uint8_t>(h >> 8),
                                     static_cast<uint8_t>(h & 0xFF),
                                     0x00,  // class
                                     0x05,  // token, modifiable
                                     3,
                                     'l',
                                     'b',
                                     'l',
                                     static_cast<uint8_t>(path.size())};
    expected.insert(expected.end(), path.begin(), path.end());
    expected.insert(expected.end(), {0x00, 0x00, 0x00});  // no object ID, no application
    EXPECT_EQ(puts[0].bytes, expected);
    EXPECT_EQ(directory(), expected);
}

TEST_F(ObjectOps, KeyImportRefusals) {
    CK_OBJECT_HANDLE h = 0;
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT, create(m_rw, privateKeyTemplate(false), &h));
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, create(m_rw, privateKeyTemplate(true, false), &h));
    EXPECT_RV(CKR_SESSION_READ_ONLY, create(m_ro, privateKeyTemplate(true), &h));
    EXPECT_EQ(cardsim_callCount(kZtPutKeyPair), 0u);
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), 0u);
}

TEST_F(ObjectOps, KeyImportMakesTwoBoundObjectsAndKeepsNoPrivateComponent) {
    CK_OBJECT_HANDLE first = mustCreate(privateKeyTemplate(true));
    size_t secretSize = privateExponentOfTestKey().size();
    std::vector<CardSimCall> stored = cardsim_calls(kZtPutKeyPair);
    ASSERT_EQ(stored.size(), 1u);
    // Modulus, private exponent, public exponent, in that order.
    EXPECT_EQ(stored[0].bytes, testModulus());
    EXPECT_EQ(stored[0].bytes2, privateExponentOfTestKey());
    EXPECT_EQ(stored[0].bytes3, (std::vector<uint8_t>{0x01, 0x00, 0x01}));
    login(m_rw);
    CK_OBJECT_HANDLE second = mustCreate(privateKeyTemplate(true));
    ASSERT_EQ(cardsim_callCount(kZtPutKeyPair), 2u);
    // The key path the card gave names the object; without an ID in the template
    // it is the ID as well.
    std::string path = str(attribute(second, CKA_OBJECT_ID));
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path, str(attribute(first, CKA_OBJECT_ID)));

    // The private key answers its private components as sensitive from the start.
    CK_RV rv = CKR_OK;
    attribute(second, CKA_PRIVATE_EXPONENT, &rv);
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, rv);
    attribute(second, CKA_PRIME_1, &rv);
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, rv);

    // Its public half: found by class, same ID and container.
    Tmpl findPub;
    findPub.ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_rw, findPub.get(), findPub.count()));
    CK_OBJECT_HANDLE pubs[4];
    CK_ULONG n = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjects(m_rw, pubs, 4, &n));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(m_rw));
    ASSERT_EQ(n, 2u);
    CK_OBJECT_HANDLE pub = 0, oldPub = 0;
    for (CK_ULONG i = 0; i < n; ++i) {
        (str(attribute(pubs[i], CKA_ID)) == path ? pub : oldPub) = pubs[i];
    }
    ASSERT_NE(pub, 0u);
    ASSERT_NE(oldPub, 0u);
    EXPECT_EQ(str(attribute(second, CKA_ID)), path);
    EXPECT_EQ(str(attribute(second, CKA_CONTAINER_NAME)), "Container" + path);
    EXPECT_EQ(str(attribute(pub, CKA_CONTAINER_NAME)), "Container" + path);
    EXPECT_EQ(attribute(pub, CKA_MODULUS), testModulus());
    // The newest pair holds the default mark; the older one lost it.
    EXPECT_EQ(defaultMark(second), 1);
    EXPECT_EQ(defaultMark(pub), 1);
    EXPECT_EQ(defaultMark(first), 0);
    EXPECT_EQ(defaultMark(oldPub), 0);
    // Neither the log nor the directory holds the private components.
    std::string log = logText();
    EXPECT_NE(log.find("CKA_PRIVATE_EXPONENT valuelen: (" + std::to_string(secretSize) +
                       "), value: (not logged)"),
              std::string::npos);
    EXPECT_EQ(log.find(hexText(privateExponentOfTestKey(), false)), std::string::npos);
    EXPECT_EQ(log.find(hexText(privateExponentOfTestKey(), true)), std::string::npos);

    std::vector<uint8_t> d = directory();
    std::vector<uint8_t> secret = privateExponentOfTestKey();
    EXPECT_EQ(std::search(d.begin(), d.end(), secret.begin(), secret.begin() + 16), d.end());
    EXPECT_EQ(ulongAttribute(pub, CKA_CLASS), CKO_PUBLIC_KEY);
}

TEST_F(ObjectOps, GetAttributeValueAnswers) {
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(false, "label", "12345"));
    char label[16];
    char unknown[8];
    CK_ATTRIBUTE t[] = {{CKA_LABEL, label, sizeof(label)}, {0x8123456UL, unknown, sizeof(unknown)}};
    EXPECT_RV(CKR_ATTRIBUTE_TYPE_INVALID, p11->C_GetAttributeValue(m_rw, h, t, 2));
    EXPECT_EQ(t[0].ulValueLen, 5u);
    EXPECT_EQ(std::string(label, 5), "label");
    EXPECT_EQ(t[1].ulValueLen, static_cast<CK_ULONG>(-1));

    CK_ULONG size = 0;
    EXPECT_RV(CKR_OK, p11->C_GetObjectSize(m_rw, h, &size));
    EXPECT_EQ(size, 5u);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GetAttributeValue(m_rw, 0, t, 1));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GetObjectSize(m_rw, h, nullptr));
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, p11->C_GetAttributeValue(m_rw, 0xFFFF, t, 1));
}

TEST_F(ObjectOps, PrivateObjectNeedsLoginAndGoesWithLogout) {
    Tmpl early = dataTemplate(false, "p", "v", true);
    CK_OBJECT_HANDLE refused = 0;
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN,
              p11->C_CreateObject(m_rw, early.get(), early.count(), &refused));
    login(m_rw);
    CK_OBJECT_HANDLE before = mustCreate(dataTemplate(false, "p", "v", true));
    CK_RV rv = CKR_OK;
    EXPECT_EQ(str(attribute(before, CKA_LABEL)), "p");
    ASSERT_RV(CKR_OK, p11->C_Logout(m_rw));
    attribute(before, CKA_LABEL, &rv);
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, rv);
}

TEST_F(ObjectOps, SetAttributeValue) {
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(true, "old", "v"));
    size_t puts = cardsim_callCount(kZtPutObjectTbl);
    Tmpl bad;
    bad.text(CKA_LABEL, "new").ulong(0x8123456UL, 1);
    EXPECT_RV(CKR_ATTRIBUTE_TYPE_INVALID,
              p11->C_SetAttributeValue(m_rw, h, bad.get(), bad.count()));
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), puts);
    Tmpl reclass;
    reclass.text(CKA_LABEL, "renamed").ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY,
              p11->C_SetAttributeValue(m_rw, h, reclass.get(), reclass.count()));
    EXPECT_EQ(ulongAttribute(h, CKA_CLASS), CKO_DATA);
    // Neither refused change is kept: the object reads as the card holds it.
    EXPECT_EQ(str(attribute(h, CKA_LABEL)), "old");
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), puts);
    Tmpl good;
    good.text(CKA_LABEL, "newer");
    EXPECT_RV(CKR_OK, p11->C_SetAttributeValue(m_rw, h, good.get(), good.count()));
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), puts + 1);
    EXPECT_EQ(str(attribute(h, CKA_LABEL)), "newer");
}

TEST_F(ObjectOps, DestroyFailuresAnswerGeneralError) {
    CK_OBJECT_HANDLE token = mustCreate(dataTemplate(true, "t", "v"));
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_DestroyObject(m_ro, token));
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_DestroyObject(m_rw, 0xFFFF));
    CK_OBJECT_HANDLE key = mustCreate(privateKeyTemplate(true));
    login(m_rw);
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_DestroyObject(m_rw, key));
    EXPECT_TRUE(exists(key));
    EXPECT_TRUE(exists(token));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_DestroyObject(m_rw, 0));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_DestroyObject(0, token));
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, token));
    EXPECT_FALSE(exists(token));
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);
}

TEST_F(ObjectOps, PrivateTokenObjectNotDestroyedWithoutLogin) {
    login(m_rw);
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(true, "secret", "v", true));
    ASSERT_RV(CKR_OK, p11->C_Logout(m_rw));
    // A search reads the directory again: the object is back in the table.
    Tmpl all;
    CK_ULONG found = 0;
    CK_OBJECT_HANDLE seen = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_rw, all.get(), 0));
    ASSERT_RV(CKR_OK, p11->C_FindObjects(m_rw, &seen, 1, &found));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(m_rw));
    size_t puts = cardsim_callCount(kZtPutObjectTbl);
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_DestroyObject(m_rw, h));
    EXPECT_EQ(cardsim_callCount(kZtDeleteObj), 0u);
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), puts);
    EXPECT_EQ(cardsim_valueCount(kReader), 1u);
    login(m_rw);
    EXPECT_TRUE(exists(h));
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, h));
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);
}

TEST_F(ObjectOps, DestroyingPublicHalfKeepsThePairStorage) {
    login(m_rw);
    CK_OBJECT_HANDLE priv = mustCreate(privateKeyTemplate(true));
    Tmpl findPub;
    findPub.ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_rw, findPub.get(), findPub.count()));
    CK_OBJECT_HANDLE pub = 0;
    CK_ULONG n = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjects(m_rw, &pub, 1, &n));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(m_rw));
    ASSERT_EQ(n, 1u);
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(m_rw, pub));
    EXPECT_EQ(cardsim_callCount(kZtDeleteObj), 0u);
    EXPECT_EQ(cardsim_keyCount(kReader), 1u);
    EXPECT_FALSE(exists(pub));
    // The private half still reaches its key on the token.
    EXPECT_EQ(attribute(priv, CKA_MODULUS), testModulus());
}

// When the directory cannot be written, the table and the card's directory
// agree afterwards.
TEST_F(ObjectOps, FailedDirectoryWriteAfterCreationLeavesNothing) {
    mustCreate(dataTemplate(true, "kept", "v"));
    std::vector<uint8_t> before = directory();
    cardsim_script(kZtPutObjectTbl, 0x6F00, 1);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_RV(CKR_DEVICE_ERROR, create(m_rw, dataTemplate(true, "lost", "v"), &h));
    EXPECT_NE(h, 0u);
    EXPECT_FALSE(exists(h));
    EXPECT_EQ(directory(), before);
    // Its stored value went again; only the first object's remains.
    EXPECT_EQ(cardsim_valueCount(kReader), 1u);
    // The number is not given again.
    EXPECT_NE(mustCreate(dataTemplate(true, "next", "v")), h);

    cardsim_script(kZtPutObjectTbl, 0x6F00, 1);
    EXPECT_RV(CKR_DEVICE_ERROR, create(m_rw, privateKeyTemplate(true), &h));
    EXPECT_FALSE(exists(h));
    EXPECT_EQ(cardsim_keyCount(kReader), 0u);
    cardsim_scriptThrow(kZtPutObjectTbl, 1);
    EXPECT_RV(CKR_GENERAL_ERROR, create(m_rw, dataTemplate(true, "thrown", "v"), &h));
    EXPECT_FALSE(exists(h));
}

TEST_F(ObjectOps, FailedDirectoryWriteAfterImportKeepsOlderDefaultMark) {
    login(m_rw);
    CK_OBJECT_HANDLE first = mustCreate(privateKeyTemplate(true));
    std::vector<uint8_t> before = directory();
    cardsim_script(kZtPutObjectTbl, 0x6F00, 1);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_RV(CKR_DEVICE_ERROR, create(m_rw, privateKeyTemplate(true), &h));
    EXPECT_EQ(directory(), before);
    EXPECT_EQ(defaultMark(first), 1);
    EXPECT_EQ(cardsim_keyCount(kReader), 1u);
}

TEST_F(ObjectOps, FailedDirectoryWriteAfterDestructionKeepsTheObjectOnTheCard) {
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(true, "d", "stay"));
    std::vector<uint8_t> before = directory();
    cardsim_script(kZtPutObjectTbl, 0x6F00, 1);
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_DestroyObject(m_rw, h));
    EXPECT_EQ(directory(), before);
    // The stored value is still there, so the directory names nothing missing.
    EXPECT_EQ(cardsim_valueCount(kReader), 1u);
    EXPECT_EQ(cardsim_callCount(kZtDeleteObj), 0u);
    // After a reload (logout marks the table for one) the object is back whole.
    login(m_rw);
    ASSERT_RV(CKR_OK, p11->C_Logout(m_rw));
    Tmpl all;
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_rw, all.get(), 0));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(m_rw));
    EXPECT_EQ(str(attribute(h, CKA_VALUE)), "stay");
}

TEST_F(ObjectOps, FailedDirectoryWriteAfterChangeKeepsTheCardDirectory) {
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(true, "before", "v"));
    std::vector<uint8_t> before = directory();
    cardsim_script(kZtPutObjectTbl, 0x6F00, 1);
    Tmpl change;
    change.text(CKA_LABEL, "after");
    EXPECT_RV(CKR_DEVICE_ERROR, p11->C_SetAttributeValue(m_rw, h, change.get(), change.count()));
    EXPECT_EQ(directory(), before);
    // The table is a cache of the card: the failed change is not kept.
    EXPECT_EQ(str(attribute(h, CKA_LABEL)), "before");
}

TEST_F(ObjectOps, SessionObjectsGoWithTheirSession) {
    CK_SESSION_HANDLE other = openSession();
    CK_OBJECT_HANDLE h = mustCreate(dataTemplate(false, "mine", "v"), other);
    EXPECT_TRUE(exists(h));
    ASSERT_RV(CKR_OK, p11->C_CloseSession(other));
    EXPECT_FALSE(exists(h));
}

}  // namespace

// Secret-key and key-pair generation on the simulated card: key types and
// mechanisms, session rules, and what a failed pair generation leaves behind.
#include <cstring>
#include <string>
#include <vector>

#include "ObjectTestSupport.h"

namespace {

class KeyGen : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
        login(session);
    }

    CK_RV generateSecret(CK_SESSION_HANDLE s, CK_MECHANISM_TYPE mechanism, Tmpl t,
                         CK_OBJECT_HANDLE* key) {
        CK_MECHANISM m = {mechanism, nullptr, 0};
        return p11->C_GenerateKey(s, &m, t.get(), t.count(), key);
    }

    CK_RV generatePair(Tmpl pub, Tmpl priv, CK_OBJECT_HANDLE* hPub, CK_OBJECT_HANDLE* hPriv) {
        CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return p11->C_GenerateKeyPair(session, &m, pub.get(), pub.count(), priv.get(), priv.count(),
                                      hPub, hPriv);
    }

    static Tmpl tokenPair(CK_ULONG bits = 512) {
        Tmpl t;
        t.flag(CKA_TOKEN, true).ulong(CKA_MODULUS_BITS, bits);
        return t;
    }
    static Tmpl labelled() {
        Tmpl t;
        t.text(CKA_LABEL, "pair");
        return t;
    }

    std::vector<unsigned char> value(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
        std::vector<unsigned char> buffer(1024);
        CK_ATTRIBUTE a = {type, buffer.data(), static_cast<CK_ULONG>(buffer.size())};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(session, h, &a, 1));
        buffer.resize(a.ulValueLen == static_cast<CK_ULONG>(-1) ? 0 : a.ulValueLen);
        return buffer;
    }

    CK_ULONG objectCount() {
        CK_OBJECT_HANDLE h[64];
        CK_ULONG n = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(session, nullptr, 0));
        EXPECT_RV(CKR_OK, p11->C_FindObjects(session, h, 64, &n));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(session));
        return n;
    }

    CK_SESSION_HANDLE session = 0;
};

// Generated readable (CKA_SENSITIVE false), so that the tests can look at the value.
Tmpl secretTemplate(bool token, CK_KEY_TYPE type) {
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY)
        .ulong(CKA_KEY_TYPE, type)
        .flag(CKA_TOKEN, token)
        .flag(CKA_SENSITIVE, false);
    return t;
}

TEST_F(KeyGen, SecretKeysHaveTheirTypesLengthAndAreStoredOnTheCard) {
    struct Case {
        CK_MECHANISM_TYPE mechanism;
        CK_KEY_TYPE type;
        CK_ULONG asked;  // CKA_VALUE_LEN, 0 = none in the template
        size_t length;
    } cases[] = {{CKM_DES_KEY_GEN, CKK_DES, 0, 8},    {CKM_DES_KEY_GEN, CKK_DES, 8, 8},
                 {CKM_DES3_KEY_GEN, CKK_DES3, 0, 24}, {CKM_DES3_KEY_GEN, CKK_DES3, 24, 24},
                 {CKM_AES_KEY_GEN, CKK_AES, 0, 16},   {CKM_AES_KEY_GEN, CKK_AES, 16, 16},
                 {CKM_AES_KEY_GEN, CKK_AES, 24, 24},  {CKM_AES_KEY_GEN, CKK_AES, 32, 32}};
    for (const Case& c : cases) {
        Tmpl t = secretTemplate(true, c.type);
        if (c.asked) t.ulong(CKA_VALUE_LEN, c.asked);
        CK_OBJECT_HANDLE key = 0;
        ASSERT_RV(CKR_OK, generateSecret(session, c.mechanism, t, &key));
        EXPECT_EQ(value(key, CKA_VALUE).size(), c.length) << c.type << " " << c.asked;
        CK_ULONG answered = 0;
        CK_ATTRIBUTE length = {CKA_VALUE_LEN, &answered, sizeof answered};
        ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, key, &length, 1));
        EXPECT_EQ(answered, c.length);
        EXPECT_EQ(value(key, CKA_LOCAL).at(0), CK_TRUE);
    }
    EXPECT_EQ(cardsim_valueCount(kReader), 8u);
    // Two keys never share a value.
    CK_OBJECT_HANDLE a = 0, b = 0;
    ASSERT_RV(CKR_OK, generateSecret(session, CKM_AES_KEY_GEN, secretTemplate(false, CKK_AES), &a));
    ASSERT_RV(CKR_OK, generateSecret(session, CKM_AES_KEY_GEN, secretTemplate(false, CKK_AES), &b));
    EXPECT_NE(value(a, CKA_VALUE), value(b, CKA_VALUE));
}

TEST_F(KeyGen, SecretKeyRefusalsLeaveNothingBehind) {
    Tmpl noType;
    noType.ulong(CKA_CLASS, CKO_SECRET_KEY).flag(CKA_TOKEN, true);
    struct Case {
        CK_MECHANISM_TYPE mechanism;
        Tmpl t;
        CK_RV expected;
    } cases[] = {
        {CKM_DES3_KEY_GEN, secretTemplate(true, CKK_DES), CKR_MECHANISM_INVALID},
        {CKM_AES_KEY_GEN, secretTemplate(true, CKK_DES3), CKR_MECHANISM_INVALID},
        {CKM_AES_KEY_GEN, secretTemplate(true, CKK_RSA), CKR_MECHANISM_INVALID},
        // Lengths a generator does not make, and a CKA_VALUE_LEN of the wrong size.
        {CKM_AES_KEY_GEN, Tmpl(secretTemplate(true, CKK_AES)).ulong(CKA_VALUE_LEN, 20),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {CKM_AES_KEY_GEN, Tmpl(secretTemplate(true, CKK_AES)).ulong(CKA_VALUE_LEN, 64),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {CKM_AES_KEY_GEN, Tmpl(secretTemplate(true, CKK_AES)).bytes(CKA_VALUE_LEN, "\x20", 1),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {CKM_DES_KEY_GEN, Tmpl(secretTemplate(true, CKK_DES)).ulong(CKA_VALUE_LEN, 16),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {CKM_DES3_KEY_GEN, Tmpl(secretTemplate(true, CKK_DES3)).ulong(CKA_VALUE_LEN, 16),
         CKR_ATTRIBUTE_VALUE_INVALID},
    };
    cardsim_clearCalls();
    for (Case& c : cases) {
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(c.expected, generateSecret(session, c.mechanism, c.t, &key));
    }
    EXPECT_EQ(objectCount(), 0u);
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), 0u);
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);

    CK_OBJECT_HANDLE key = 0;
    CK_MECHANISM m = {CKM_AES_KEY_GEN, nullptr, 0};
    Tmpl t = secretTemplate(true, CKK_AES);
    // No CKA_KEY_TYPE: the generator's own type (what SunPKCS11 sends).
    Tmpl javaLike;
    javaLike.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_VALUE_LEN, 24);
    ASSERT_RV(CKR_OK, p11->C_GenerateKey(session, &m, javaLike.get(), javaLike.count(), &key));
    EXPECT_EQ(value(key, CKA_KEY_TYPE).at(0), CKK_AES);
    CK_ULONG length = 0;
    CK_ATTRIBUTE lengthAttribute = {CKA_VALUE_LEN, &length, sizeof length};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, key, &lengthAttribute, 1));
    EXPECT_EQ(length, 24u);
    CK_MECHANISM des3 = {CKM_DES3_KEY_GEN, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_GenerateKey(session, &des3, noType.get(), noType.count(), &key));
    EXPECT_EQ(value(key, CKA_KEY_TYPE).at(0), CKK_DES3);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GenerateKey(session, &m, t.get(), 0, &key));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GenerateKey(session, nullptr, t.get(), t.count(), &key));
}

TEST_F(KeyGen, ReadOnlySessionTakesOnlySessionKeysAndTheyCloseWithIt) {
    CK_SESSION_HANDLE readOnly = openSession(CKF_SERIAL_SESSION);
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_SESSION_READ_ONLY,
              generateSecret(readOnly, CKM_AES_KEY_GEN, secretTemplate(true, CKK_AES), &key));
    ASSERT_RV(CKR_OK,
              generateSecret(readOnly, CKM_AES_KEY_GEN, secretTemplate(false, CKK_AES), &key));
    EXPECT_EQ(value(key, CKA_VALUE).size(), 16u);
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);
    ASSERT_RV(CKR_OK, p11->C_CloseSession(readOnly));
    CK_BYTE buffer[32];
    CK_ATTRIBUTE a = {CKA_VALUE, buffer, sizeof(buffer)};
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID, p11->C_GetAttributeValue(session, key, &a, 1));
}

TEST_F(KeyGen, PairModulusLengthAndMechanism) {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    // Scripted refusals keep the big keys from being made: the call is what counts.
    cardsim_script(kZtGenKeyPair, 0x6A80, 2);
    Tmpl noBits;
    noBits.flag(CKA_TOKEN, true);
    EXPECT_RV(CKR_DEVICE_ERROR, generatePair(noBits, labelled(), &pub, &priv));
    EXPECT_RV(CKR_DEVICE_ERROR, generatePair(tokenPair(4096), labelled(), &pub, &priv));
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, generatePair(tokenPair(4097), labelled(), &pub, &priv));
    std::vector<CardSimCall> calls = cardsim_calls(kZtGenKeyPair);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].number, 1024u);
    EXPECT_FALSE(calls[0].hasBytes2);
    EXPECT_EQ(calls[1].number, 4096u);

    Tmpl withExponent = tokenPair();
    const unsigned char three[] = {3};
    withExponent.bytes(CKA_PUBLIC_EXPONENT, three, 1);
    ASSERT_RV(CKR_OK, generatePair(withExponent, labelled(), &pub, &priv));
    calls = cardsim_calls(kZtGenKeyPair);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].bytes2, std::vector<uint8_t>{3});
    EXPECT_EQ(value(priv, CKA_PUBLIC_EXPONENT), std::vector<unsigned char>{3});

    CK_MECHANISM x931 = {0x0000000AUL /* CKM_RSA_X9_31_KEY_PAIR_GEN */, nullptr, 0};
    Tmpl p = tokenPair(), q = labelled();
    EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_GenerateKeyPair(session, &x931, p.get(), p.count(),
                                                            q.get(), q.count(), &pub, &priv));
    // A template pointer without entries is refused; an empty template is not.
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_GenerateKeyPair(session, &x931, nullptr, p.count(), q.get(),
                                                        q.count(), &pub, &priv));
    EXPECT_RV(CKR_MECHANISM_INVALID,
              p11->C_GenerateKeyPair(session, &x931, p.get(), 0, q.get(), q.count(), &pub, &priv));
}

TEST_F(KeyGen, EitherPairTemplateMayBeEmpty) {
    CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    Tmpl pub = tokenPair(), priv;
    priv.flag(CKA_TOKEN, true);
    CK_OBJECT_HANDLE hPub = 0, hPriv = 0;
    ASSERT_RV(CKR_OK, p11->C_GenerateKeyPair(session, &m, pub.get(), pub.count(), nullptr, 0, &hPub,
                                             &hPriv));
    EXPECT_EQ(value(hPub, CKA_MODULUS).size(), 64u);
    ASSERT_RV(CKR_OK, p11->C_GenerateKeyPair(session, &m, pub.get(), pub.count(), priv.get(), 0,
                                             &hPub, &hPriv));
    // An empty public template asks for the default 1024 bits.
    cardsim_script(kZtGenKeyPair, 0x6A80);
    cardsim_clearCalls();
    EXPECT_RV(CKR_DEVICE_ERROR, p11->C_GenerateKeyPair(session, &m, nullptr, 0, priv.get(),
                                                       priv.count(), &hPub, &hPriv));
    std::vector<CardSimCall> calls = cardsim_calls(kZtGenKeyPair);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, 1024u);
}

TEST_F(KeyGen, FailedPairLeavesNoHalfMadePair) {
    CK_OBJECT_HANDLE oldPub = 0, oldPriv = 0;
    ASSERT_RV(CKR_OK, generatePair(tokenPair(), labelled(), &oldPub, &oldPriv));
    std::vector<uint8_t> directory;
    ASSERT_TRUE(cardsim_directory(kReader, &directory));

    // The public values cannot be read back; the directory cannot be written.
    for (int entry : {kZtGetPublicKey, kZtPutObjectTbl}) {
        cardsim_script(entry, 0x6A88);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        EXPECT_RV(CKR_DEVICE_ERROR, generatePair(tokenPair(), labelled(), &pub, &priv));
        EXPECT_EQ(objectCount(), 2u) << entry;
        EXPECT_EQ(cardsim_keyCount(kReader), 1u) << entry;  // the new pair's storage is freed
        std::vector<uint8_t> after;
        ASSERT_TRUE(cardsim_directory(kReader, &after));
        EXPECT_EQ(after, directory) << entry;
        // The older pair is still the default container.
        EXPECT_EQ(value(oldPriv, CKA_CONTAINER_DEFAULT).at(0), 1) << entry;
    }
    // A read-only session reaches no card.
    CK_SESSION_HANDLE readOnly = openSession(CKF_SERIAL_SESSION);
    CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    Tmpl pub = tokenPair(), priv = labelled();
    CK_OBJECT_HANDLE hPub = 0, hPriv = 0;
    EXPECT_RV(CKR_SESSION_READ_ONLY,
              p11->C_GenerateKeyPair(readOnly, &m, pub.get(), pub.count(), priv.get(), priv.count(),
                                     &hPub, &hPriv));
    EXPECT_EQ(cardsim_callCount(kZtGenKeyPair), 3u);
}

TEST_F(KeyGen, KeyPathTooLongForAContainerNameIsRefused) {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    // "Container" and a 246-character path fill the name's 255 characters.
    cardsim_setKeyPathPrefix(kReader, std::string(245, 'p'));
    ASSERT_RV(CKR_OK, generatePair(tokenPair(), labelled(), &pub, &priv));
    std::vector<unsigned char> name = value(priv, CKA_CONTAINER_NAME);
    EXPECT_EQ(name.size(), 255u);

    cardsim_setKeyPathPrefix(kReader, std::string(246, 'p'));
    EXPECT_RV(CKR_DEVICE_ERROR, generatePair(tokenPair(), labelled(), &pub, &priv));
    EXPECT_EQ(cardsim_keyCount(kReader), 1u);
    EXPECT_EQ(objectCount(), 2u);

    // A container name of the caller's own needs no room for the path.
    Tmpl named = labelled();
    named.text(CKA_CONTAINER_NAME, "mine");
    ASSERT_RV(CKR_OK, generatePair(tokenPair(), named, &pub, &priv));
    std::vector<unsigned char> id = value(priv, CKA_ID);
    EXPECT_EQ(id.size(), 247u);
}

}  // namespace

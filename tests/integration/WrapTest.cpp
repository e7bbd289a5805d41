// Wrapping and unwrapping secret keys through the session's encryption and
// decryption, symmetric and RSA, on the simulated card.
#include <string>
#include <vector>

#include "ObjectTestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

class Wrap : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
        login(session);
    }

    CK_OBJECT_HANDLE secret(CK_KEY_TYPE type, const Bytes& value, bool extractable = true) {
        Tmpl t;
        t.ulong(CKA_CLASS, CKO_SECRET_KEY)
            .ulong(CKA_KEY_TYPE, type)
            .flag(CKA_TOKEN, false)
            .flag(CKA_EXTRACTABLE, extractable)
            .bytes(CKA_VALUE, value.data(), value.size());
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t.get(), t.count(), &h));
        return h;
    }

    CK_RV wrap(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE wrapping, CK_OBJECT_HANDLE key,
               Bytes& out) {
        CK_MECHANISM m = {mechanism, nullptr, 0};
        out.assign(600, 0);
        CK_ULONG length = out.size();
        CK_RV rv = p11->C_WrapKey(session, &m, wrapping, key, out.data(), &length);
        out.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    CK_RV unwrap(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE unwrapping, Bytes wrapped, Tmpl t,
                 CK_OBJECT_HANDLE* key) {
        CK_MECHANISM m = {mechanism, nullptr, 0};
        return p11->C_UnwrapKey(session, &m, unwrapping, wrapped.data(), wrapped.size(), t.get(),
                                t.count(), key);
    }

    Bytes value(CK_OBJECT_HANDLE h) {
        Bytes buffer(64);
        CK_ATTRIBUTE a = {CKA_VALUE, buffer.data(), static_cast<CK_ULONG>(buffer.size())};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(session, h, &a, 1));
        buffer.resize(a.ulValueLen == static_cast<CK_ULONG>(-1) ? 0 : a.ulValueLen);
        return buffer;
    }

    CK_SESSION_HANDLE session = 0;
    const Bytes des3 = Bytes(24, 0x5A);
    const Bytes aes = Bytes(16, 0x3C);
};

// Unwrapped readable, so that the tests can compare values.
Tmpl keyOfType(CK_KEY_TYPE type) {
    Tmpl t;
    t.ulong(CKA_KEY_TYPE, type).flag(CKA_TOKEN, false).flag(CKA_SENSITIVE, false);
    return t;
}

TEST_F(Wrap, TripleDesKeyUnderAesAndUnderTripleDes) {
    CK_OBJECT_HANDLE key = secret(CKK_DES3, des3);
    CK_OBJECT_HANDLE aesKey = secret(CKK_AES, aes);
    Bytes out;
    // 24 bytes are no whole number of AES blocks; the encryption goes on.
    EXPECT_RV(CKR_KEY_SIZE_RANGE, wrap(CKM_AES_ECB, aesKey, key, out));
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_EncryptInit(session, &ecb, aesKey));
    CK_BYTE rest[16];
    CK_ULONG restLength = sizeof(rest);
    EXPECT_RV(CKR_OK, p11->C_EncryptFinal(session, rest, &restLength));

    CK_OBJECT_HANDLE wrapping = secret(CKK_DES3, Bytes(24, 0x11));
    ASSERT_RV(CKR_OK, wrap(CKM_DES3_ECB, wrapping, key, out));
    EXPECT_EQ(out.size(), 24u);
    EXPECT_NE(out, des3);

    CK_OBJECT_HANDLE back = 0;
    ASSERT_RV(CKR_OK, unwrap(CKM_DES3_ECB, wrapping, out, keyOfType(CKK_DES3), &back));
    EXPECT_NE(back, key);
    EXPECT_EQ(value(back), des3);
    // The session is idle again.
    EXPECT_RV(CKR_OK, p11->C_EncryptInit(session, &ecb, aesKey));
}

TEST_F(Wrap, RsaWrapWithThePublicKeyAndUnwrapOnTheCard) {
    Tmpl pub, priv;
    pub.flag(CKA_TOKEN, true).ulong(CKA_MODULUS_BITS, 1024);
    priv.text(CKA_LABEL, "wrapper");
    CK_MECHANISM gen = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE hPub = 0, hPriv = 0;
    ASSERT_RV(CKR_OK, p11->C_GenerateKeyPair(session, &gen, pub.get(), pub.count(), priv.get(),
                                             priv.count(), &hPub, &hPriv));
    CK_OBJECT_HANDLE key = secret(CKK_AES, aes);
    Bytes out;
    ASSERT_RV(CKR_OK, wrap(CKM_RSA_PKCS, hPub, key, out));
    EXPECT_EQ(out.size(), 128u);
    cardsim_clearCalls();
    CK_OBJECT_HANDLE back = 0;
    ASSERT_RV(CKR_OK, unwrap(CKM_RSA_PKCS, hPriv, out, keyOfType(CKK_AES), &back));
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), 1u);
    EXPECT_EQ(value(back), aes);
}

TEST_F(Wrap, RefusalsAndLengths) {
    CK_OBJECT_HANDLE aesKey = secret(CKK_AES, aes);
    CK_OBJECT_HANDLE other = secret(CKK_AES, Bytes(16, 0x77));
    Tmpl priv = privateKeyTemplate(true);
    CK_OBJECT_HANDLE privateKey = 0;
    ASSERT_RV(CKR_OK, p11->C_CreateObject(session, priv.get(), priv.count(), &privateKey));
    Bytes out;
    EXPECT_RV(CKR_WRAPPED_KEY_INVALID, wrap(CKM_AES_ECB, aesKey, privateKey, out));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, wrap(CKM_AES_ECB, aesKey, 0x7777, out));
    // An unextractable key stays on the token.
    CK_OBJECT_HANDLE kept = secret(CKK_AES, aes, false);
    EXPECT_RV(CKR_KEY_UNEXTRACTABLE, wrap(CKM_AES_ECB, aesKey, kept, out));

    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    CK_ULONG length = 0;
    EXPECT_RV(CKR_OK, p11->C_WrapKey(session, &ecb, aesKey, other, nullptr, &length));
    EXPECT_EQ(length, 16u);
    Bytes small(8);
    length = small.size();
    EXPECT_RV(CKR_BUFFER_TOO_SMALL,
              p11->C_WrapKey(session, &ecb, aesKey, other, small.data(), &length));
    EXPECT_EQ(length, 16u);
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID,
              p11->C_WrapKey(0, &ecb, aesKey, other, small.data(), &length));

    ASSERT_RV(CKR_OK, wrap(CKM_AES_ECB, aesKey, other, out));
    CK_OBJECT_HANDLE back = 0;
    EXPECT_RV(CKR_ARGUMENTS_BAD,
              p11->C_UnwrapKey(session, &ecb, aesKey, out.data(), 0, nullptr, 0, &back));
    // What is unwrapped is a secret key, never a data object holding the value.
    Tmpl asData;
    asData.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, false);
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT, unwrap(CKM_AES_ECB, aesKey, out, asData, &back));
    // Any active operation keeps wrapping out.
    CK_MECHANISM sha1 = {CKM_SHA_1, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &sha1));
    EXPECT_RV(CKR_OPERATION_ACTIVE, wrap(CKM_AES_ECB, aesKey, other, out));
}

TEST_F(Wrap, LengthQueryTellsALengthThatSufficesForALongSecret) {
    Bytes longValue(640);
    for (size_t i = 0; i < longValue.size(); ++i) longValue[i] = static_cast<unsigned char>(i * 7);
    CK_OBJECT_HANDLE aesKey = secret(CKK_AES, aes), key = secret(CKK_AES, longValue);
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &ecb, aesKey, key, nullptr, &length));
    EXPECT_EQ(length, 640u);
    Bytes out(length);
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &ecb, aesKey, key, out.data(), &length));
    EXPECT_EQ(length, 640u);
    // The length query left no operation behind; a short buffer is told 640.
    length = 639;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL,
              p11->C_WrapKey(session, &ecb, aesKey, key, out.data(), &length));
    EXPECT_EQ(length, 640u);
    EXPECT_RV(CKR_OK, p11->C_EncryptInit(session, &ecb, aesKey));
}

}  // namespace

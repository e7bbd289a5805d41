// A card that lies: private-key results of the wrong length or computed
// wrongly, statuses on one call in the middle of a sequence, all through the
// loaded provider over the scriptable card.
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <string>
#include <vector>

#include "ProviderFixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encode(const CryptoPP::Integer& i) {
    Bytes out(i.MinEncodedSize());
    i.Encode(out.data(), out.size());
    return out;
}

const CryptoPP::InvertibleRSAFunction& rsa1024() {
    static auto* key = [] {
        auto* k = new CryptoPP::InvertibleRSAFunction;
        CryptoPP::AutoSeededRandomPool rng;
        k->Initialize(rng, 1024, 65537);
        return k;
    }();
    return *key;
}

class HostileCard : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
        login(session);
        const auto& rsa = rsa1024();
        priv = importPrivateKey(rsa);
    }

    CK_OBJECT_HANDLE importPrivateKey(const CryptoPP::InvertibleRSAFunction& rsa) {
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = CKK_RSA;
        CK_BBOOL yes = CK_TRUE;
        Bytes n = encode(rsa.GetModulus()), e = encode(rsa.GetPublicExponent()),
              d = encode(rsa.GetPrivateExponent());
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_TOKEN, &yes, sizeof yes},
                            {CKA_MODULUS, n.data(), static_cast<CK_ULONG>(n.size())},
                            {CKA_PUBLIC_EXPONENT, e.data(), static_cast<CK_ULONG>(e.size())},
                            {CKA_PRIVATE_EXPONENT, d.data(), static_cast<CK_ULONG>(d.size())}};
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t, 6, &h));
        return h;
    }

    // Signs "abc"; the output buffer is pre-filled with 0xEE to see whether
    // anything was written into it.
    CK_RV sign(Bytes& sig, CK_MECHANISM_TYPE type = CKM_SHA1_RSA_PKCS) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = p11->C_SignInit(session, &m, priv);
        if (rv != CKR_OK) return rv;
        unsigned char data[] = {'a', 'b', 'c'};
        sig.assign(512, 0xEE);
        CK_ULONG len = sig.size();
        rv = p11->C_Sign(session, data, sizeof data, sig.data(), &len);
        if (rv == CKR_OK) sig.resize(len);
        return rv;
    }

    CK_RV decrypt(CK_MECHANISM_TYPE type, const Bytes& in, Bytes& out) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = p11->C_DecryptInit(session, &m, priv);
        if (rv != CKR_OK) return rv;
        out.assign(512, 0xEE);
        CK_ULONG len = out.size();
        rv = p11->C_Decrypt(session, const_cast<unsigned char*>(in.data()), in.size(), out.data(),
                            &len);
        if (rv == CKR_OK) out.resize(len);
        return rv;
    }

    bool untouched(const Bytes& out) { return out == Bytes(512, 0xEE); }

    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE priv = 0;
};

TEST_F(HostileCard, FaultyCrtSignatureNeverLeavesTheProvider) {
    Bytes sig;
    ASSERT_RV(CKR_OK, sign(sig));
    ASSERT_EQ(sig.size(), 128u);
    cardsim_corruptResult(kZtApplyPrivateKey, CardSimFault::CrtFault);
    EXPECT_RV(CKR_DEVICE_ERROR, sign(sig));
    EXPECT_TRUE(untouched(sig));
    // The card recovers, and so does signing.
    EXPECT_RV(CKR_OK, sign(sig));
    EXPECT_EQ(sig.size(), 128u);
}

TEST_F(HostileCard, PrivateKeyResultOfTheWrongLengthIsRefused) {
    struct Case {
        const char* what;
        CardSimFault fault;
        size_t count;
    } cases[] = {
        {"empty", CardSimFault::Empty, 0},
        {"longer than the modulus", CardSimFault::Extend, 64},
        {"a zero byte in front", CardSimFault::LeadingZeros, 1},
        {"truncated", CardSimFault::Truncate, 100},
        {"one byte wrong", CardSimFault::FlipByte, 7},
    };
    for (const Case& c : cases) {
        cardsim_corruptResult(kZtApplyPrivateKey, c.fault, c.count);
        Bytes sig;
        EXPECT_RV(CKR_DEVICE_ERROR, sign(sig, CKM_RSA_PKCS)) << c.what;
        EXPECT_TRUE(untouched(sig)) << c.what;
    }
    Bytes sig;
    EXPECT_RV(CKR_OK, sign(sig, CKM_RSA_PKCS));
}

TEST_F(HostileCard, RawDecryptionResultIsVerifiedAndAnEmptyPkcs1MessageIsLegitimate) {
    const auto& rsa = rsa1024();
    CryptoPP::AutoSeededRandomPool rng;
    Bytes m(128, 0x3C);
    m[0] = 0;
    Bytes c(128), out;
    rsa.ApplyFunction(CryptoPP::Integer(m.data(), m.size())).Encode(c.data(), c.size());
    ASSERT_RV(CKR_OK, decrypt(CKM_RSA_X_509, c, out));
    EXPECT_EQ(out, m);
    cardsim_corruptResult(kZtApplyPrivateKey, CardSimFault::Empty);
    EXPECT_RV(CKR_DEVICE_ERROR, decrypt(CKM_RSA_X_509, c, out));
    EXPECT_TRUE(untouched(out));
    cardsim_corruptResult(kZtApplyPrivateKey, CardSimFault::CrtFault);
    EXPECT_RV(CKR_DEVICE_ERROR, decrypt(CKM_RSA_X_509, c, out));

    // PKCS#1 type 2 around an empty message: the token answers nothing, rightly.
    Bytes block(128, 0x01);
    block[0] = 0;
    block[1] = 2;
    block[127] = 0;
    rsa.ApplyFunction(CryptoPP::Integer(block.data(), block.size())).Encode(c.data(), c.size());
    ASSERT_RV(CKR_OK, decrypt(CKM_RSA_PKCS, c, out));
    EXPECT_TRUE(out.empty());
    // A message longer than a 1024-bit block can carry.
    cardsim_corruptResult(kZtApplyPrivateKey, CardSimFault::Extend, 118);
    EXPECT_RV(CKR_DEVICE_ERROR, decrypt(CKM_RSA_PKCS, c, out));
}

TEST_F(HostileCard, StatusOnTheNthCallFailsOnlyThatCall) {
    Bytes sig;
    cardsim_scriptNth(kZtApplyPrivateKey, 2, 0x6F00);
    EXPECT_RV(CKR_OK, sign(sig));
    EXPECT_RV(CKR_DEVICE_ERROR, sign(sig));
    EXPECT_RV(CKR_OK, sign(sig));
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), 3u);
}

TEST_F(HostileCard, PublicKeyAnswerCutShortFailsTheSignature) {
    // A fresh load of the key: the provider must fetch the public values to
    // verify, and the card answers half a public key.
    p11->C_CloseSession(session);
    unloadProvider();
    startWithCard();
    session = openSession();
    login(session);
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls}};
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(session, t, 1));
    CK_ULONG found = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjects(session, &priv, 1, &found));
    ASSERT_EQ(found, 1u);
    p11->C_FindObjectsFinal(session);
    cardsim_corruptResult(kZtGetPublicKey, CardSimFault::Truncate, 40);
    Bytes sig;
    EXPECT_RV(CKR_DEVICE_ERROR, sign(sig));
    EXPECT_TRUE(untouched(sig));
}

TEST_F(HostileCard, DirectoryThatChangesBetweenReads) {
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    unsigned char value[] = {7, 7, 7};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_TOKEN, &yes, sizeof yes},
                        {CKA_PRIVATE, &no, sizeof no},
                        {CKA_VALUE, value, sizeof value}};
    CK_OBJECT_HANDLE h = 0;
    ASSERT_RV(CKR_OK, p11->C_CreateObject(session, t, 4, &h));
    std::vector<uint8_t> good;
    ASSERT_TRUE(cardsim_directory(kReader, &good));
    // Between this load and the next, the card holds a directory with a class
    // tag the provider does not know, then the good one again.
    std::vector<uint8_t> garbled = {0x00, 0x05, 0x07, 0x00, 0x01};
    cardsim_queueDirectory(kReader, garbled);
    cardsim_queueDirectory(kReader, good);
    p11->C_CloseSession(session);
    unloadProvider();
    startWithCard();
    session = openSession();
    cardsim_clearCalls();
    CK_OBJECT_HANDLE found[8];
    CK_ULONG n = 0;
    EXPECT_RV(CKR_GENERAL_ERROR, p11->C_FindObjectsInit(session, t, 1));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(session, t, 1));
    ASSERT_RV(CKR_OK, p11->C_FindObjects(session, found, 8, &n));
    p11->C_FindObjectsFinal(session);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(cardsim_callCount(kZtGetObjectTbl), 2u);
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), 0u);
    std::vector<uint8_t> now;
    ASSERT_TRUE(cardsim_directory(kReader, &now));
    EXPECT_EQ(now, good);
}

}  // namespace

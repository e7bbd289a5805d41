// The extended mechanisms in the session's operations, on a stand-in token:
// refused while the classic set is configured, and with the extended set the
// signatures they make verify elsewhere, and a faulty card result never
// leaves.
#include <gtest/gtest.h>

#include <cryptopp/pssr.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include "../support/FakeCrypto.h"
#include "CryptoOperations.h"
#include "MechanismSet.h"

namespace {

using fake::Bytes;

class ExtendedOps : public ::testing::Test {
protected:
    void SetUp() override {
        setMechanismSet(MechanismSet::Extended);
        fake::addKeyPair(ctx, fake::rsaKey(1024), kPub, kPriv);
        // The private key knows its public exponent, for checking its signatures.
        ctx.keys[kPriv].exponent = ctx.keys[kPub].exponent;
        fake::addSecretKey(ctx, kAes, CKK_AES, Bytes(16, 0x2B));
    }
    void TearDown() override { setMechanismSet(MechanismSet::Classic); }

    CK_RV sign(CK_MECHANISM& m, const Bytes& data, Bytes& sig) {
        CK_RV rv = ops.signInit(ctx, &m, kPriv);
        if (rv != CKR_OK) return rv;
        rv = ops.signUpdate(ctx, data.data(), data.size());
        if (rv != CKR_OK) return rv;
        OrlByteArray out;
        rv = ops.signFinal(ctx, out);
        sig = fake::bytesOf(out);
        return rv;
    }

    static constexpr CK_OBJECT_HANDLE kPub = 1, kPriv = 2, kAes = 3;
    fake::Context ctx;
    COperationState ops;
};

TEST_F(ExtendedOps, ClassicSetRefusesEveryNewMechanism) {
    setMechanismSet(MechanismSet::Classic);
    CK_RSA_PKCS_PSS_PARAMS pss = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_RSA_PKCS_OAEP_PARAMS oaep = {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0};
    unsigned char iv[16] = {};
    CK_MECHANISM sha256 = {CKM_SHA256, nullptr, 0};
    EXPECT_EQ(ops.digestInit(ctx, &sha256), CKR_MECHANISM_INVALID);
    for (CK_MECHANISM m : {CK_MECHANISM{CKM_SHA256_RSA_PKCS, nullptr, 0},
                           CK_MECHANISM{CKM_SHA256_RSA_PKCS_PSS, &pss, sizeof pss},
                           CK_MECHANISM{CKM_RSA_X_509, nullptr, 0}}) {
        EXPECT_EQ(ops.signInit(ctx, &m, kPriv), CKR_MECHANISM_INVALID) << m.mechanism;
        EXPECT_EQ(ops.verifyInit(ctx, &m, kPub), CKR_MECHANISM_INVALID) << m.mechanism;
    }
    CK_MECHANISM o = {CKM_RSA_PKCS_OAEP, &oaep, sizeof oaep};
    EXPECT_EQ(ops.encryptInit(ctx, &o, kPub), CKR_MECHANISM_INVALID);
    EXPECT_EQ(ops.decryptInit(ctx, &o, kPriv), CKR_MECHANISM_INVALID);
    CK_MECHANISM pad = {CKM_AES_CBC_PAD, iv, sizeof iv};
    EXPECT_EQ(ops.encryptInit(ctx, &pad, kAes), CKR_MECHANISM_INVALID);
    EXPECT_EQ(ops.operation(), OP_NONE);

    setMechanismSet(MechanismSet::Extended);
    EXPECT_EQ(ops.digestInit(ctx, &sha256), CKR_OK);
}

TEST_F(ExtendedOps, PssSignatureVerifiesWithCryptoppAndWithUs) {
    CK_RSA_PKCS_PSS_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_MECHANISM m = {CKM_SHA256_RSA_PKCS_PSS, &params, sizeof params};
    const Bytes data = {'p', 's', 's'};
    Bytes sig;
    ASSERT_EQ(sign(m, data, sig), CKR_OK);
    ASSERT_EQ(sig.size(), 128u);
#ifndef _WIN32
    // The Windows build's Crypto++ leaves out its PSS (pssr.cpp): this
    // cross-check runs on Linux.
    CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Verifier verifier(fake::rsaKey(1024));
    EXPECT_TRUE(verifier.VerifyMessage(data.data(), data.size(), sig.data(), sig.size()));
#endif

    ASSERT_EQ(ops.verifyInit(ctx, &m, kPub), CKR_OK);
    ASSERT_EQ(ops.verifyUpdate(ctx, data.data(), data.size()), CKR_OK);
    EXPECT_EQ(ops.verifyFinal(ctx, sig.data(), sig.size()), CKR_OK);
    sig[5] ^= 1;
    ASSERT_EQ(ops.verifyInit(ctx, &m, kPub), CKR_OK);
    ASSERT_EQ(ops.verifyUpdate(ctx, data.data(), data.size()), CKR_OK);
    EXPECT_EQ(ops.verifyFinal(ctx, sig.data(), sig.size()), CKR_SIGNATURE_INVALID);
}

TEST_F(ExtendedOps, FaultyCardSignatureNeverLeaves) {
    ctx.cardCorrupts = true;
    CK_RSA_PKCS_PSS_PARAMS params = {CKM_SHA_1, CKG_MGF1_SHA1, 20};
    CK_MECHANISM mechanisms[] = {{CKM_SHA1_RSA_PKCS_PSS, &params, sizeof params},
                                 {CKM_SHA256_RSA_PKCS, nullptr, 0},
                                 {CKM_RSA_X_509, nullptr, 0}};
    for (CK_MECHANISM& m : mechanisms) {
        Bytes sig;
        EXPECT_EQ(sign(m, Bytes{1, 2, 3}, sig), CKR_DEVICE_ERROR) << m.mechanism;
        EXPECT_TRUE(sig.empty());
        EXPECT_EQ(ops.operation(), OP_NONE);
    }
}

TEST_F(ExtendedOps, SaltThatDoesNotFitTheKeyIsAParameterError) {
    // 1024 bits, SHA-512: at most 128 - 64 - 2 = 62 bytes of salt.
    CK_RSA_PKCS_PSS_PARAMS params = {CKM_SHA512, CKG_MGF1_SHA512, 63};
    CK_MECHANISM m = {CKM_SHA512_RSA_PKCS_PSS, &params, sizeof params};
    EXPECT_EQ(ops.signInit(ctx, &m, kPriv), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(ops.verifyInit(ctx, &m, kPub), CKR_MECHANISM_PARAM_INVALID);
    params.sLen = 62;
    Bytes sig;
    EXPECT_EQ(sign(m, Bytes{9}, sig), CKR_OK);
    // A prepared hash of the wrong length for CKM_RSA_PKCS_PSS.
    CK_RSA_PKCS_PSS_PARAMS sha256 = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_MECHANISM raw = {CKM_RSA_PKCS_PSS, &sha256, sizeof sha256};
    EXPECT_EQ(sign(raw, Bytes(31, 1), sig), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(sign(raw, Bytes(32, 1), sig), CKR_OK);
}

TEST_F(ExtendedOps, OaepDecryptionOnTheCardIsOneRawOperation) {
    CK_RSA_PKCS_OAEP_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, nullptr, 0};
    CK_MECHANISM m = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
    const Bytes message = {'k', 'e', 'y'};
    ASSERT_EQ(ops.encryptInit(ctx, &m, kPub), CKR_OK);
    OrlByteArray c;
    COutput cOut(c);
    ASSERT_EQ(ops.encryptUpdate(ctx, message.data(), message.size(), cOut), CKR_OK);
    ASSERT_EQ(ops.encryptFinal(ctx, cOut), CKR_OK);
    ASSERT_EQ(c.getLength(), 128u);

    ASSERT_EQ(ops.decryptInit(ctx, &m, kPriv), CKR_OK);
    OrlByteArray p;
    COutput pOut(p);
    ASSERT_EQ(ops.decryptUpdate(ctx, c.getContent(), c.getLength(), pOut), CKR_OK);
    ASSERT_EQ(ops.decryptFinal(ctx, pOut), CKR_OK);
    EXPECT_EQ(fake::bytesOf(p), message);
    ASSERT_EQ(ctx.calls.size(), 1u);
    EXPECT_EQ(ctx.calls[0].mode, 0);  // raw: the unpadding is ours

    // A changed ciphertext, and one of the wrong length.
    c.getContent()[10] ^= 1;
    ASSERT_EQ(ops.decryptInit(ctx, &m, kPriv), CKR_OK);
    ASSERT_EQ(ops.decryptUpdate(ctx, c.getContent(), c.getLength(), pOut), CKR_OK);
    EXPECT_EQ(ops.decryptFinal(ctx, pOut), CKR_ENCRYPTED_DATA_INVALID);
    ASSERT_EQ(ops.decryptInit(ctx, &m, kPriv), CKR_OK);
    ASSERT_EQ(ops.decryptUpdate(ctx, c.getContent(), c.getLength() - 1, pOut), CKR_OK);
    EXPECT_EQ(ops.decryptFinal(ctx, pOut), CKR_ENCRYPTED_DATA_LEN_RANGE);
    EXPECT_EQ(p.getLength(), message.size());
}

}  // namespace

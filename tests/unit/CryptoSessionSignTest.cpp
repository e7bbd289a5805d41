// The session's digest, sign and verify operations, on a stand-in token.
#include <gtest/gtest.h>

#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <string>

#include "../support/FakeCrypto.h"
#include "../support/Hex.h"
#include "../support/RsaForgery.h"
#include "CryptoOperations.h"

namespace {

using fake::Bytes;

const unsigned char kAbc[] = {'a', 'b', 'c'};

CK_MECHANISM mech(CK_MECHANISM_TYPE type) {
    return CK_MECHANISM{type, nullptr, 0};
}

class SessionOps : public ::testing::Test {
protected:
    fake::Context ctx;
    COperationState ops;

    CK_RV sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data, Bytes& sig) {
        CK_MECHANISM m = mech(type);
        CK_RV rv = ops.signInit(ctx, &m, key);
        if (rv != CKR_OK) return rv;
        rv = ops.signUpdate(ctx, data.data(), data.size());
        if (rv != CKR_OK) return rv;
        OrlByteArray out;
        rv = ops.signFinal(ctx, out);
        sig = fake::bytesOf(out);
        return rv;
    }

    CK_RV verify(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data,
                 const Bytes& sig) {
        CK_MECHANISM m = mech(type);
        CK_RV rv = ops.verifyInit(ctx, &m, key);
        if (rv != CKR_OK) return rv;
        rv = ops.verifyUpdate(ctx, data.data(), data.size());
        if (rv != CKR_OK) return rv;
        return ops.verifyFinal(ctx, sig.data(), sig.size());
    }
};

TEST_F(SessionOps, DigestAnnouncesEighteenForMd5AndDeliversSixteen) {
    CK_MECHANISM m = mech(CKM_MD5);
    EXPECT_EQ(ops.getDigestLen(ctx), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(ops.digestInit(ctx, &m), CKR_OK);
    EXPECT_EQ(ops.getDigestLen(ctx), 18u);
    EXPECT_EQ(ops.isActive(ctx, OP_DIGEST), 1u);
    ASSERT_EQ(ops.digestUpdate(ctx, kAbc, 1), CKR_OK);
    ASSERT_EQ(ops.digestUpdate(ctx, kAbc + 1, 2), CKR_OK);
    OrlByteArray out;
    ASSERT_EQ(ops.digestFinal(ctx, out), CKR_OK);
    EXPECT_EQ(hex::text(out.getContent(), out.getLength()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(ops.isActive(ctx, OP_DIGEST), 0u);
    EXPECT_EQ(ops.digestFinal(ctx, out), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(ops.digestUpdate(ctx, kAbc, 3), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(SessionOps, DigestOfEmptyMessageAndRefusals) {
    CK_MECHANISM sha = mech(CKM_SHA_1), bad = mech(CKM_SHA256);
    EXPECT_EQ(ops.digestInit(ctx, &bad), CKR_MECHANISM_INVALID);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    ASSERT_EQ(ops.digestInit(ctx, &sha), CKR_OK);
    EXPECT_EQ(ops.digestInit(ctx, &sha), CKR_OPERATION_ACTIVE);
    OrlByteArray out;
    ASSERT_EQ(ops.digestFinal(ctx, out), CKR_OK);
    EXPECT_EQ(hex::text(out.getContent(), out.getLength()),
              "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // A parameter is ignored.
    unsigned char param[4] = {};
    CK_MECHANISM withParam = {CKM_MD2, param, sizeof param};
    EXPECT_EQ(ops.digestInit(ctx, &withParam), CKR_OK);
}

TEST_F(SessionOps, GuardComesFirstEverywhere) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    CK_MECHANISM sha = mech(CKM_SHA_1), rsa = mech(CKM_SHA1_RSA_PKCS);
    ASSERT_EQ(ops.digestInit(ctx, &sha), CKR_OK);
    for (CK_RV code : {CKR_DEVICE_REMOVED, CKR_SESSION_CLOSED}) {
        ctx.guardResult = code;
        OrlByteArray out;
        COutput sink(out);
        EXPECT_EQ(ops.isActive(ctx, OP_DIGEST), code);
        EXPECT_EQ(ops.getDigestLen(ctx), code);
        EXPECT_EQ(ops.digestUpdate(ctx, kAbc, 3), code);
        EXPECT_EQ(ops.digestFinal(ctx, out), code);
        EXPECT_EQ(ops.signInit(ctx, &rsa, 2), code);
        EXPECT_EQ(ops.verifyFinal(ctx, kAbc, 3), code);
        EXPECT_EQ(ops.encryptInit(ctx, &rsa, 1), code);
        EXPECT_EQ(ops.decryptFinal(ctx, sink), code);
    }
    ctx.guardResult = CKR_OK;
    EXPECT_EQ(ops.isActive(ctx, OP_DIGEST), 1u);  // the refusals changed nothing
}

TEST_F(SessionOps, Sha1SignatureBlockGivenToTheToken) {
    const auto& rsa = fake::rsaKey(1024);
    fake::addKeyPair(ctx, rsa, 1, 2, "42");
    Bytes sig;
    ASSERT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_OK);
    ASSERT_EQ(ctx.calls.size(), 1u);
    EXPECT_EQ(ctx.calls[0].path, "42");
    EXPECT_EQ(ctx.calls[0].mode, 0);
    EXPECT_EQ(hex::text(ctx.calls[0].in), "0001" + std::string(180, 'f') + "00" +
                                              "3021300906052b0e03021a05000414" +
                                              "a9993e364706816aba3e25717850c26c9cd0d89d");
    // Checked independently: a standard PKCS#1 v1.5 SHA-1 verifier accepts it.
    ASSERT_EQ(sig.size(), 128u);
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier verifier(rsa.GetModulus(),
                                                                           rsa.GetPublicExponent());
    EXPECT_TRUE(verifier.VerifyMessage(kAbc, 3, sig.data(), sig.size()));
}

TEST_F(SessionOps, Md5AndMd2BlocksCarryTheirHeaders) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    Bytes sig;
    ASSERT_EQ(sign(CKM_MD5_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_OK);
    ASSERT_EQ(sign(CKM_MD2_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_OK);
    ASSERT_EQ(ctx.calls.size(), 2u);
    EXPECT_EQ(hex::text(ctx.calls[0].in),
              "0001" + std::string(2 * (128 - 3 - 34), 'f') + "00" +
                  "3020300c06082a864886f70d020505000410900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex::text(ctx.calls[1].in),
              "0001" + std::string(2 * (128 - 3 - 34), 'f') + "00" +
                  "3020300c06082a864886f70d020205000410da853b0d3f88d99b30283a69e6ded6bb");
}

TEST_F(SessionOps, SignThenVerifyAndEveryFlippedByteFails) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    Bytes data = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
    for (CK_MECHANISM_TYPE type :
         {CKM_RSA_PKCS, CKM_MD2_RSA_PKCS, CKM_MD5_RSA_PKCS, CKM_SHA1_RSA_PKCS}) {
        Bytes sig;
        ASSERT_EQ(sign(type, 2, data, sig), CKR_OK) << type;
        EXPECT_EQ(verify(type, 1, data, sig), CKR_OK) << type;
        for (size_t i = 0; i < data.size(); ++i) {
            Bytes d = data;
            d[i] ^= 0x01;
            EXPECT_EQ(verify(type, 1, d, sig), CKR_SIGNATURE_INVALID) << type << " data " << i;
        }
        for (size_t i = 0; i < sig.size(); i += 9) {
            Bytes s = sig;
            s[i] ^= 0x80;
            EXPECT_EQ(verify(type, 1, data, s), CKR_SIGNATURE_INVALID) << type << " sig " << i;
        }
    }
    // Another mechanism over the same data does not verify.
    Bytes sig;
    ASSERT_EQ(sign(CKM_MD5_RSA_PKCS, 2, data, sig), CKR_OK);
    EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, data, sig), CKR_SIGNATURE_INVALID);
}

TEST_F(SessionOps, SignaturesOfTheWrongShapeAreInvalid) {
    const auto& rsa = fake::rsaKey(1024);
    fake::addKeyPair(ctx, rsa, 1, 2);
    Bytes data(kAbc, kAbc + 3), sig;
    ASSERT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, data, sig), CKR_OK);
    Bytes longer(1, 0x00);
    longer.insert(longer.end(), sig.begin(), sig.end());
    Bytes zeros(128, 0x00);
    // s + n: same value mod n, but not below the modulus.
    CryptoPP::Integer sPlusN = CryptoPP::Integer(sig.data(), sig.size()) + rsa.GetModulus();
    Bytes wrapped(129);
    sPlusN.Encode(wrapped.data(), wrapped.size());
    for (const Bytes& bad : {longer, zeros, Bytes(sig.begin() + 1, sig.end()), wrapped}) {
        EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, data, bad), CKR_SIGNATURE_INVALID) << bad.size();
        EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    }
    EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, data, sig), CKR_OK);
}

TEST_F(SessionOps, CubeRootForgeryWithExponentThreeIsRefused) {
    const auto& rsa = fake::rsaKey(1024, 3);
    fake::addKeyPair(ctx, rsa, 1, 2);
    Bytes data, d;
    for (int i = 0; d.empty() || (d.back() & 1) == 0; ++i) {
        std::string text = "transfer " + std::to_string(i);
        data.assign(text.begin(), text.end());
        CryptoPP::SHA1 sha;
        unsigned char h[20];
        sha.CalculateDigest(h, data.data(), data.size());
        d = hex::bytes("3021300906052b0e03021a05000414" + hex::text(h, 20));
    }
    Bytes forged = forgery::forgeCubeSignature(128, d);
    ASSERT_EQ(forged.size(), 128u);
    EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, data, forged), CKR_SIGNATURE_INVALID);
    // The key itself is fine: a genuine signature verifies.
    Bytes sig;
    ASSERT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, data, sig), CKR_OK);
    EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, data, sig), CKR_OK);
}

TEST_F(SessionOps, PlainRsaDataMustLeaveRoomForThePadding) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    Bytes sig;
    EXPECT_EQ(sign(CKM_RSA_PKCS, 2, Bytes(118, 0x33), sig), CKR_DATA_LEN_RANGE);
    EXPECT_TRUE(ctx.calls.empty());
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    ASSERT_EQ(sign(CKM_RSA_PKCS, 2, Bytes(117, 0x33), sig), CKR_OK);
    EXPECT_EQ(verify(CKM_RSA_PKCS, 1, Bytes(117, 0x33), sig), CKR_OK);
    EXPECT_EQ(verify(CKM_RSA_PKCS, 1, Bytes(118, 0x33), sig), CKR_DATA_LEN_RANGE);
}

TEST_F(SessionOps, AccumulatedDataBeyondFourGibibytesIsRefusedUnread) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    CK_MECHANISM m = mech(CKM_SHA1_RSA_PKCS);
    ASSERT_EQ(ops.signInit(ctx, &m, 2), CKR_OK);
    ASSERT_EQ(ops.signUpdate(ctx, kAbc, 3), CKR_OK);
    // The length alone decides: the pointer is never read.
    const size_t huge = size_t(0xFFFFFFFFu) - 2;
    EXPECT_EQ(ops.signUpdate(ctx, kAbc, huge), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(ops.isActive(ctx, OP_SIGN), 1u);
    OrlByteArray sig;
    ASSERT_EQ(ops.signFinal(ctx, sig), CKR_OK);
    ASSERT_EQ(ops.verifyInit(ctx, &m, 1), CKR_OK);
    EXPECT_EQ(ops.verifyUpdate(ctx, kAbc, huge + 3), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(ops.verifyUpdate(ctx, kAbc, 3), CKR_OK);
    EXPECT_EQ(ops.verifyFinal(ctx, sig.getContent(), sig.getLength()), CKR_OK);
}

TEST_F(SessionOps, ModulusAbove4096BitsIsRefused) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    ctx.keys[2].modulus = Bytes(513, 0xC5);
    ctx.keys[1].modulus = Bytes(513, 0xC5);
    Bytes sig;
    EXPECT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_KEY_SIZE_RANGE);
    EXPECT_TRUE(ctx.calls.empty());
    EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, Bytes(kAbc, kAbc + 3), Bytes(513, 1)),
              CKR_KEY_SIZE_RANGE);
}

TEST_F(SessionOps, ShortResultFromTheTokenIsLeftPadded) {
    const auto& rsa = fake::rsaKey(1024);
    fake::addKeyPair(ctx, rsa, 1, 2);
    // Sign messages until the signature's number has a leading zero byte; the
    // stand-in token then answers one byte short, as a card may.
    int found = 0;
    for (int i = 0; i < 3000 && found == 0; ++i) {
        std::string text = "m" + std::to_string(i);
        Bytes data(text.begin(), text.end()), sig;
        ASSERT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, data, sig), CKR_OK);
        ASSERT_EQ(sig.size(), 128u);
        if (sig[0] != 0) continue;
        ++found;
        EXPECT_EQ(verify(CKM_SHA1_RSA_PKCS, 1, data, sig), CKR_OK);
    }
    EXPECT_EQ(found, 1);
}

TEST_F(SessionOps, KeyClassAndHandleErrors) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    fake::addSecretKey(ctx, 3, CKK_AES, Bytes(16, 1));
    CK_MECHANISM m = mech(CKM_SHA1_RSA_PKCS), bad = mech(CKM_SHA256_RSA_PKCS);
    EXPECT_EQ(ops.signInit(ctx, &m, 1), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(ops.signInit(ctx, &m, 3), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(ops.signInit(ctx, &m, 99), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ops.signInit(ctx, &bad, 2), CKR_MECHANISM_INVALID);
    EXPECT_EQ(ops.verifyInit(ctx, &m, 2), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(ops.verifyInit(ctx, &m, 99), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ops.verifyInit(ctx, &bad, 1), CKR_MECHANISM_INVALID);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    // Updates and finals without an operation.
    OrlByteArray out;
    EXPECT_EQ(ops.signUpdate(ctx, kAbc, 3), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(ops.signFinal(ctx, out), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(ops.verifyUpdate(ctx, kAbc, 3), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(ops.verifyFinal(ctx, kAbc, 3), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(SessionOps, OneOperationAtATimeAcrossKinds) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    CK_MECHANISM sign = mech(CKM_SHA1_RSA_PKCS), digest = mech(CKM_SHA_1), enc = mech(CKM_RSA_PKCS);
    ASSERT_EQ(ops.signInit(ctx, &sign, 2), CKR_OK);
    EXPECT_EQ(ops.digestInit(ctx, &digest), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(ops.verifyInit(ctx, &sign, 1), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(ops.encryptInit(ctx, &enc, 1), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(ops.decryptInit(ctx, &enc, 2), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(ops.isActive(ctx, OP_SIGN), 1u);
    EXPECT_EQ(ops.isActive(ctx, OP_VERIFY), 0u);
    // Updates of another kind do not touch it.
    EXPECT_EQ(ops.verifyUpdate(ctx, kAbc, 3), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(ops.digestUpdate(ctx, kAbc, 3), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(ops.signUpdate(ctx, kAbc, 3), CKR_OK);
    OrlByteArray sig;
    ASSERT_EQ(ops.signFinal(ctx, sig), CKR_OK);
    EXPECT_EQ(ops.digestInit(ctx, &digest), CKR_OK);
    ops.reset();
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    EXPECT_EQ(ops.signInit(ctx, &sign, 2), CKR_OK);
}

TEST_F(SessionOps, TokenFailuresEndTheSignature) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    Bytes sig;
    ctx.cardStatus = 0x6982;
    EXPECT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_DEVICE_ERROR);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    ctx.cardStatus = 0;
    ctx.cardThrows = true;
    EXPECT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_GENERAL_ERROR);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    ctx.cardThrows = false;
    ctx.keys[2].modulusError = CKR_DEVICE_ERROR;
    EXPECT_EQ(sign(CKM_SHA1_RSA_PKCS, 2, Bytes(kAbc, kAbc + 3), sig), CKR_DEVICE_ERROR);
    // The key was destroyed between init and final.
    ctx.keys[2].modulusError = CKR_OK;
    CK_MECHANISM m = mech(CKM_SHA1_RSA_PKCS);
    ASSERT_EQ(ops.signInit(ctx, &m, 2), CKR_OK);
    ctx.keys.erase(2);
    OrlByteArray out;
    EXPECT_EQ(ops.signFinal(ctx, out), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
}

}  // namespace

// What the token answers for a private-key operation is checked before it is
// used: lengths, and every raw result verified with the public key.
#include <gtest/gtest.h>

#include "../support/FakeCrypto.h"
#include "CryptoOperations.h"

namespace {

using fake::Bytes;

const unsigned char kAbc[] = {'a', 'b', 'c'};

class PrivateKeyResults : public ::testing::Test {
protected:
    void SetUp() override { fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2); }

    CK_RV sign(CK_MECHANISM_TYPE type, Bytes& sig) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = ops.signInit(ctx, &m, 2);
        if (rv != CKR_OK) return rv;
        rv = ops.signUpdate(ctx, kAbc, sizeof kAbc);
        if (rv != CKR_OK) return rv;
        OrlByteArray out;
        rv = ops.signFinal(ctx, out);
        sig = fake::bytesOf(out);
        return rv;
    }

    CK_RV decrypt(CK_MECHANISM_TYPE type, const Bytes& in, Bytes& plain) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = ops.decryptInit(ctx, &m, 2);
        if (rv != CKR_OK) return rv;
        OrlByteArray out;
        COutput none(out);
        rv = ops.decryptUpdate(ctx, in.data(), in.size(), none);
        if (rv != CKR_OK) return rv;
        COutput sink(out);
        rv = ops.decryptFinal(ctx, sink);
        plain = fake::bytesOf(out);
        return rv;
    }

    // A ciphertext of `message` under the pair's public key, PKCS#1 or raw.
    Bytes encrypt(CK_MECHANISM_TYPE type, const Bytes& message) {
        CK_MECHANISM m = {type, nullptr, 0};
        EXPECT_EQ(ops.encryptInit(ctx, &m, 1), CKR_OK);
        OrlByteArray out;
        COutput none(out);
        EXPECT_EQ(ops.encryptUpdate(ctx, message.data(), message.size(), none), CKR_OK);
        COutput sink(out);
        EXPECT_EQ(ops.encryptFinal(ctx, sink), CKR_OK);
        return fake::bytesOf(out);
    }

    fake::Context ctx;
    COperationState ops;
};

TEST_F(PrivateKeyResults, SignatureThatDoesNotVerifyNeverLeaves) {
    Bytes sig;
    ASSERT_EQ(sign(CKM_SHA1_RSA_PKCS, sig), CKR_OK);
    ctx.corruptResult = [](Bytes& r) { r[r.size() / 2] ^= 0x01; };
    EXPECT_EQ(sign(CKM_SHA1_RSA_PKCS, sig), CKR_DEVICE_ERROR);
    EXPECT_TRUE(sig.empty());
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
}

TEST_F(PrivateKeyResults, WrongLengthsAreRefused) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> change;
    } cases[] = {
        {"empty", [](Bytes& r) { r.clear(); }},
        {"longer than the modulus", [](Bytes& r) { r.resize(160, 0x5A); }},
        {"one leading zero too many", [](Bytes& r) { r.insert(r.begin(), 129 - r.size(), 0); }},
        {"the number plus the modulus",
         [](Bytes& r) {
             CryptoPP::Integer y(r.data(), r.size());
             y += fake::rsaKey(1024).GetModulus();
             r = fake::encode(y);  // same value modulo n; longer than k or not below n
             if (r.size() > 128) r.resize(160);
         }},
    };
    for (const Case& c : cases) {
        ctx.corruptResult = c.change;
        Bytes sig;
        EXPECT_EQ(sign(CKM_RSA_PKCS, sig), CKR_DEVICE_ERROR) << c.what;
        EXPECT_TRUE(sig.empty()) << c.what;
    }
}

TEST_F(PrivateKeyResults, RawDecryptionIsCheckedLikeASignature) {
    Bytes message(128, 0x11);
    message[0] = 0;
    Bytes c = encrypt(CKM_RSA_X_509, message), plain;
    ASSERT_EQ(decrypt(CKM_RSA_X_509, c, plain), CKR_OK);
    EXPECT_EQ(plain, message);
    ctx.corruptResult = [](Bytes& r) { r.clear(); };
    EXPECT_EQ(decrypt(CKM_RSA_X_509, c, plain), CKR_DEVICE_ERROR);
    ctx.corruptResult = [](Bytes& r) { r.back() ^= 0x80; };
    EXPECT_EQ(decrypt(CKM_RSA_X_509, c, plain), CKR_DEVICE_ERROR);
    EXPECT_TRUE(plain.empty());
}

TEST_F(PrivateKeyResults, Pkcs1MessageMayBeEmptyButNotLongerThanTheBlockHolds) {
    Bytes c = encrypt(CKM_RSA_PKCS, Bytes()), plain(1, 0xEE);
    ASSERT_EQ(decrypt(CKM_RSA_PKCS, c, plain), CKR_OK);
    EXPECT_TRUE(plain.empty());

    c = encrypt(CKM_RSA_PKCS, Bytes(117, 0x22));
    ASSERT_EQ(decrypt(CKM_RSA_PKCS, c, plain), CKR_OK);
    EXPECT_EQ(plain, Bytes(117, 0x22));
    ctx.corruptResult = [](Bytes& r) { r.push_back(0); };  // 118: more than k - 11
    EXPECT_EQ(decrypt(CKM_RSA_PKCS, c, plain), CKR_DEVICE_ERROR);
}

TEST_F(PrivateKeyResults, NoPublicExponentMeansNoSignature) {
    ctx.keys[2].exponent.clear();
    Bytes sig;
    EXPECT_EQ(sign(CKM_SHA1_RSA_PKCS, sig), CKR_DEVICE_ERROR);
    EXPECT_EQ(ctx.calls.size(), 1u);
}

// The accumulated data is what the card was given: the test sees its buffer
// through the card call and finds it zeroed once the operation is over.
TEST_F(PrivateKeyResults, AccumulatedDataIsWipedWhenTheOperationEnds) {
    Bytes message(128, 0x77);
    message[0] = 0;
    Bytes c = encrypt(CKM_RSA_X_509, message), plain;
    const unsigned char* seen = nullptr;
    size_t seenLength = 0;
    // Capture the input buffer of the card call.
    ctx.onApply = [&](OrlByteArray& in) {
        seen = in.getContent();
        seenLength = in.getLength();
    };
    ASSERT_EQ(decrypt(CKM_RSA_X_509, c, plain), CKR_OK);
    ASSERT_NE(seen, nullptr);
    ASSERT_EQ(seenLength, c.size());
    for (size_t i = 0; i < seenLength; ++i) ASSERT_EQ(seen[i], 0) << i;
}

}  // namespace

// The session's encrypt and decrypt operations, on a stand-in token.
#include <gtest/gtest.h>

#include <cryptopp/cryptlib.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <string>

#include "../support/FakeCrypto.h"
#include "../support/Hex.h"
#include "CryptoOperations.h"

namespace {

using fake::Bytes;

class CipherOps : public ::testing::Test {
protected:
    fake::Context ctx;
    COperationState ops;

    // One encryption: init, the parts as updates, final; all output concatenated.
    CK_RV run(bool encrypt, CK_MECHANISM m, CK_OBJECT_HANDLE key, const std::vector<Bytes>& parts,
              Bytes& out) {
        CK_RV rv = encrypt ? ops.encryptInit(ctx, &m, key) : ops.decryptInit(ctx, &m, key);
        if (rv != CKR_OK) return rv;
        OrlByteArray all;
        COutput sink(all);
        for (const Bytes& p : parts) {
            rv = encrypt ? ops.encryptUpdate(ctx, p.data(), p.size(), sink)
                         : ops.decryptUpdate(ctx, p.data(), p.size(), sink);
            if (rv != CKR_OK) return rv;
        }
        rv = encrypt ? ops.encryptFinal(ctx, sink) : ops.decryptFinal(ctx, sink);
        out = fake::bytesOf(all);
        return rv;
    }
};

const Bytes kFipsKey = hex::bytes("000102030405060708090a0b0c0d0e0f");
const Bytes kFipsPlain = hex::bytes("00112233445566778899aabbccddeeff");
const char kFipsCipher[] = "69c4e0d86a7b0430d8cdb78070b4c55a";

TEST_F(CipherOps, AesCbcFips197WithZeroIvAndChainingAcrossUpdates) {
    fake::addSecretKey(ctx, 5, CKK_AES, kFipsKey);
    unsigned char iv[16] = {};
    CK_MECHANISM cbc = {CKM_AES_CBC, iv, sizeof iv};
    Bytes out;
    ASSERT_EQ(run(true, cbc, 5, {kFipsPlain}, out), CKR_OK);
    EXPECT_EQ(hex::text(out), kFipsCipher);

    Bytes two = kFipsPlain;
    two.insert(two.end(), kFipsPlain.begin(), kFipsPlain.end());
    Bytes once, split;
    ASSERT_EQ(run(true, cbc, 5, {two}, once), CKR_OK);
    ASSERT_EQ(run(true, cbc, 5, {kFipsPlain, kFipsPlain}, split), CKR_OK);
    EXPECT_EQ(once, split);
    EXPECT_EQ(hex::text(Bytes(once.begin(), once.begin() + 16)), kFipsCipher);
    EXPECT_NE(Bytes(once.begin(), once.begin() + 16), Bytes(once.begin() + 16, once.end()));

    Bytes back;
    ASSERT_EQ(
        run(false, cbc, 5,
            {Bytes(once.begin(), once.begin() + 16), Bytes(once.begin() + 16, once.end())}, back),
        CKR_OK);
    EXPECT_EQ(back, two);
}

TEST_F(CipherOps, PartialBlockLeavesTheOperationActive) {
    fake::addSecretKey(ctx, 5, CKK_AES, kFipsKey);
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    ASSERT_EQ(ops.encryptInit(ctx, &ecb, 5), CKR_OK);
    OrlByteArray all;
    COutput sink(all);
    Bytes twelve(12, 0x42);
    EXPECT_EQ(ops.encryptUpdate(ctx, twelve.data(), twelve.size(), sink), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(ops.isActive(ctx, OP_ENCRYPT), 1u);
    EXPECT_EQ(sink.length(), 0u);
    ASSERT_EQ(ops.encryptUpdate(ctx, kFipsPlain.data(), kFipsPlain.size(), sink), CKR_OK);
    ASSERT_EQ(ops.encryptFinal(ctx, sink), CKR_OK);
    EXPECT_EQ(hex::text(all.getContent(), all.getLength()), kFipsCipher);  // final adds nothing
    EXPECT_EQ(ops.isActive(ctx, OP_ENCRYPT), 0u);
}

TEST_F(CipherOps, DesAndTripleDesKnownAnswers) {
    fake::addSecretKey(ctx, 6, CKK_DES, hex::bytes("0123456789abcdef"));
    fake::addSecretKey(ctx, 7, CKK_DES3,
                       hex::bytes("0123456789abcdef23456789abcdef01456789abcdef0123"));
    fake::addSecretKey(ctx, 8, CKK_DES, hex::bytes("133457799bbcdff1"));
    Bytes iv = hex::bytes("1234567890abcdef");
    CK_MECHANISM desCbc = {CKM_DES_CBC, iv.data(), iv.size()};
    CK_MECHANISM des3Ecb = {CKM_DES3_ECB, nullptr, 0};
    CK_MECHANISM desEcb = {CKM_DES_ECB, nullptr, 0};
    Bytes out;
    ASSERT_EQ(
        run(true, desCbc, 6, {hex::bytes("4e6f77206973207468652074696d6520666f7220616c6c20")}, out),
        CKR_OK);
    EXPECT_EQ(hex::text(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    ASSERT_EQ(run(true, des3Ecb, 7,
                  {hex::bytes("54686520717566636b2062726f776e20666f78206a756d70")}, out),
              CKR_OK);
    EXPECT_EQ(hex::text(out), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
    ASSERT_EQ(run(true, desEcb, 8, {hex::bytes("0123456789abcdef")}, out), CKR_OK);
    EXPECT_EQ(hex::text(out), "85e813540f0ab405");
    ASSERT_EQ(run(false, desEcb, 8, {hex::bytes("85e813540f0ab405")}, out), CKR_OK);
    EXPECT_EQ(hex::text(out), "0123456789abcdef");
}

TEST_F(CipherOps, SymmetricInitRefusals) {
    fake::addSecretKey(ctx, 5, CKK_AES, kFipsKey);
    fake::addSecretKey(ctx, 6, CKK_DES, Bytes(8, 1));
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    unsigned char iv[16] = {};
    CK_MECHANISM aesCbc = {CKM_AES_CBC, iv, 16}, noIv = {CKM_AES_CBC, nullptr, 0},
                 shortIv = {CKM_AES_CBC, iv, 8}, desCbcNoIv = {CKM_DES_CBC, nullptr, 0},
                 unknown = {CKM_AES_CBC_PAD, iv, 16};
    EXPECT_EQ(ops.encryptInit(ctx, &noIv, 5), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(ops.encryptInit(ctx, &desCbcNoIv, 6), CKR_MECHANISM_PARAM_INVALID);
    // A parameter shorter than a block would be read past its end.
    EXPECT_EQ(ops.encryptInit(ctx, &shortIv, 5), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(ops.decryptInit(ctx, &shortIv, 5), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(ops.encryptInit(ctx, &aesCbc, 6), CKR_KEY_TYPE_INCONSISTENT);  // a DES key
    EXPECT_EQ(ops.encryptInit(ctx, &aesCbc, 1), CKR_KEY_TYPE_INCONSISTENT);  // a public key
    EXPECT_EQ(ops.encryptInit(ctx, &aesCbc, 2), CKR_KEY_TYPE_INCONSISTENT);  // a private key
    EXPECT_EQ(ops.decryptInit(ctx, &aesCbc, 1), CKR_KEY_HANDLE_INVALID);     // a public key
    EXPECT_EQ(ops.decryptInit(ctx, &aesCbc, 2), CKR_KEY_TYPE_INCONSISTENT);  // a private key
    EXPECT_EQ(ops.encryptInit(ctx, &aesCbc, 99), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ops.decryptInit(ctx, &aesCbc, 99), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ops.encryptInit(ctx, &unknown, 5), CKR_MECHANISM_INVALID);
    ctx.keys[5].encrypt = false;
    EXPECT_EQ(ops.encryptInit(ctx, &aesCbc, 5), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(ops.decryptInit(ctx, &aesCbc, 5), CKR_OK);
    ops.reset();
    ctx.keys[5].decrypt = false;
    EXPECT_EQ(ops.decryptInit(ctx, &aesCbc, 5), CKR_KEY_TYPE_INCONSISTENT);
    ctx.keys[5].encrypt = true;
    ctx.keys[5].valueError = CKR_DEVICE_ERROR;
    EXPECT_EQ(ops.encryptInit(ctx, &aesCbc, 5), CKR_DEVICE_ERROR);
    // A value of a length AES refuses: the cipher throws and the session stays idle.
    ctx.keys[5].valueError = CKR_OK;
    ctx.keys[5].value = Bytes(20, 1);
    EXPECT_THROW(ops.encryptInit(ctx, &aesCbc, 5), CryptoPP::Exception);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
}

TEST_F(CipherOps, EncryptInitWhileDecryptingLeavesTheDecryptionAlone) {
    fake::addSecretKey(ctx, 5, CKK_AES, kFipsKey);
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    ASSERT_EQ(ops.decryptInit(ctx, &ecb, 5), CKR_OK);
    EXPECT_EQ(ops.encryptInit(ctx, &ecb, 5), CKR_OPERATION_ACTIVE);
    OrlByteArray all;
    COutput sink(all);
    Bytes c = hex::bytes(kFipsCipher);
    ASSERT_EQ(ops.decryptUpdate(ctx, c.data(), c.size(), sink), CKR_OK);
    ASSERT_EQ(ops.decryptFinal(ctx, sink), CKR_OK);
    EXPECT_EQ(fake::bytesOf(all), kFipsPlain);
}

TEST_F(CipherOps, RsaPkcsRoundTripThroughTheToken) {
    const auto& rsa = fake::rsaKey(1024);
    fake::addKeyPair(ctx, rsa, 1, 2, "9");
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    Bytes data = {'s', 'e', 'c', 'r', 'e', 't'};
    Bytes c1, c2, back;
    ASSERT_EQ(run(true, m, 1,
                  {Bytes(data.begin(), data.begin() + 2), Bytes(data.begin() + 2, data.end())}, c1),
              CKR_OK);
    ASSERT_EQ(run(true, m, 1, {data}, c2), CKR_OK);
    ASSERT_EQ(c1.size(), 128u);
    EXPECT_NE(c1, c2);  // random padding
    // Independently: the private key opens it to a type 2 block ending in the data.
    CryptoPP::AutoSeededRandomPool rng;
    Bytes block(128);
    rsa.CalculateInverse(rng, CryptoPP::Integer(c1.data(), c1.size())).Encode(block.data(), 128);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x02);
    EXPECT_EQ(Bytes(block.end() - 7, block.end()), Bytes({0, 's', 'e', 'c', 'r', 'e', 't'}));

    ASSERT_EQ(run(false, m, 2, {c2}, back), CKR_OK);
    EXPECT_EQ(back, data);
    ASSERT_EQ(ctx.calls.size(), 1u);
    EXPECT_EQ(ctx.calls[0].mode, 1);
    EXPECT_EQ(ctx.calls[0].path, "9");
    EXPECT_EQ(ctx.calls[0].in, c2);
}

TEST_F(CipherOps, RawRsaLengthsAndLeadingZeros) {
    const auto& rsa = fake::rsaKey(1024);
    fake::addKeyPair(ctx, rsa, 1, 2);
    CK_MECHANISM x509 = {CKM_RSA_X_509, nullptr, 0}, vendor = {CKM_VENDOR_RSA_RAW, nullptr, 0};
    Bytes out;
    EXPECT_EQ(run(true, x509, 1, {Bytes(127, 0x01)}, out), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    EXPECT_EQ(run(true, x509, 1, {Bytes(129, 0x01)}, out), CKR_ARGUMENTS_BAD);
    // k bytes but not below the modulus: refused rather than reduced.
    EXPECT_EQ(run(true, vendor, 1, {Bytes(128, 0xFF)}, out), CKR_DATA_INVALID);
    EXPECT_EQ(ops.mechanism(), static_cast<CK_MECHANISM_TYPE>(CKM_VENDOR_RSA_RAW));

    // Inputs whose result starts with a zero byte are still delivered in full,
    // both ways; the stand-in token answers raw results in their minimal length.
    CryptoPP::AutoSeededRandomPool rng;
    int found = 0;
    for (int i = 0; i < 4000 && found == 0; ++i) {
        Bytes m(128);
        rng.GenerateBlock(m.data(), m.size());
        m[0] = 0x00;
        m[1] |= 0x01;
        Bytes c;
        ASSERT_EQ(run(true, x509, 1, {m}, c), CKR_OK);
        ASSERT_EQ(c.size(), 128u);
        if (c[0] != 0) continue;
        ++found;
        EXPECT_EQ(rsa.CalculateInverse(rng, CryptoPP::Integer(c.data(), c.size())),
                  CryptoPP::Integer(m.data(), m.size()));
        Bytes back;
        ASSERT_EQ(run(false, x509, 2, {c}, back), CKR_OK);
        EXPECT_EQ(back, m);  // 128 bytes, leading 00 included
        EXPECT_EQ(ctx.calls.back().mode, 0);
    }
    EXPECT_EQ(found, 1);
}

TEST_F(CipherOps, RsaPkcsDataTooLongForTheModulus) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    Bytes out;
    EXPECT_EQ(run(true, m, 1, {Bytes(100, 1), Bytes(18, 1)}, out), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    EXPECT_EQ(run(true, m, 1, {Bytes(117, 1)}, out), CKR_OK);
    EXPECT_EQ(out.size(), 128u);
    ctx.keys[1].modulus = Bytes(513, 0xC5);
    EXPECT_EQ(run(true, m, 1, {Bytes(1, 1)}, out), CKR_KEY_SIZE_RANGE);
}

TEST_F(CipherOps, SecretKeyWithRsaMechanismFailsAtTheFinalStep) {
    fake::addSecretKey(ctx, 5, CKK_AES, kFipsKey);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(ops.decryptInit(ctx, &m, 5), CKR_OK);
    OrlByteArray all;
    COutput sink(all);
    ASSERT_EQ(ops.decryptUpdate(ctx, kFipsPlain.data(), kFipsPlain.size(), sink), CKR_OK);
    EXPECT_EQ(ops.decryptFinal(ctx, sink), CKR_MECHANISM_INVALID);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
    EXPECT_TRUE(ctx.calls.empty());
    // Encryption refuses the secret key at once.
    EXPECT_EQ(ops.encryptInit(ctx, &m, 5), CKR_KEY_TYPE_INCONSISTENT);
}

TEST_F(CipherOps, TokenRefusingDecryption) {
    fake::addKeyPair(ctx, fake::rsaKey(1024), 1, 2);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    Bytes out;
    ctx.cardStatus = 0x6A80;
    EXPECT_EQ(run(false, m, 2, {Bytes(128, 1)}, out), CKR_DEVICE_ERROR);
    ctx.cardStatus = 0;
    ctx.cardThrows = true;
    EXPECT_EQ(run(false, m, 2, {Bytes(128, 1)}, out), CKR_GENERAL_ERROR);
    EXPECT_EQ(ops.operation(), static_cast<CK_ULONG>(OP_NONE));
}

TEST(CryptoOutput, WritesIntoTheCallersBufferUntilItOverflows) {
    unsigned char buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    COutput fits(buffer, sizeof buffer);
    std::memset(fits.reserve(4), 0x11, 4);
    fits.append(reinterpret_cast<const unsigned char*>("abcd"), 4);
    EXPECT_FALSE(fits.overflowed());
    EXPECT_EQ(fits.length(), 8u);
    EXPECT_EQ(hex::text(buffer, 8), "1111111161626364");

    std::memset(buffer, 0xEE, sizeof buffer);
    COutput over(buffer, 4);
    std::memset(over.reserve(4), 0x22, 4);
    std::memset(over.reserve(4), 0x33, 4);  // does not fit: carries on elsewhere
    EXPECT_TRUE(over.overflowed());
    EXPECT_EQ(over.length(), 8u);
    EXPECT_EQ(hex::text(buffer + 4, 4), "eeeeeeee");  // nothing written past the capacity

    OrlByteArray array;
    array.append(0x01);
    COutput appended(array);
    appended.append(reinterpret_cast<const unsigned char*>("xy"), 2);
    EXPECT_FALSE(appended.overflowed());
    EXPECT_EQ(hex::text(array.getContent(), array.getLength()), "017879");
}

}  // namespace

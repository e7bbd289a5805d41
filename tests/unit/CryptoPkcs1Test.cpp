// PKCS#1 blocks, strict signature checking and the software RSA operation.
#include <gtest/gtest.h>

#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>

#include <set>
#include <string>
#include <vector>

#include "../support/Hex.h"
#include "../support/RsaForgery.h"
#include "Digest.h"
#include "OrlByteArray.h"
#include "Pkcs1.h"
#include "RsaPublic.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes toBytes(const OrlByteArray& a) {
    return Bytes(a.getContent(), a.getContent() + a.getLength());
}

OrlByteArray toArray(const Bytes& b) {
    return OrlByteArray(b.data(), b.size());
}

OrlByteArray encode(const CryptoPP::Integer& i) {
    OrlByteArray out(i.MinEncodedSize());
    i.Encode(out.getContent(), out.getLength());
    return out;
}

Bytes sha1DigestInfo(const std::string& message) {
    const SignatureScheme* scheme = findSignatureScheme(CKM_SHA1_RSA_PKCS);
    OrlByteArray out;
    signatureContent(*scheme, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size(), out);
    return toBytes(out);
}

// One RSA key per process: generation is the slow part of these tests.
const CryptoPP::InvertibleRSAFunction& testKey(unsigned bits, long e) {
    static CryptoPP::AutoSeededRandomPool rng;
    static CryptoPP::InvertibleRSAFunction keys[2];
    static bool made[2] = {false, false};
    int i = e == 3 ? 1 : 0;
    if (!made[i]) {
        keys[i].Initialize(rng, bits, CryptoPP::Integer(e));
        made[i] = true;
    }
    return keys[i];
}

TEST(CryptoPkcs1, SignatureBlockForSha1OfAbcWith1024BitKey) {
    Bytes d = sha1DigestInfo("abc");
    ASSERT_EQ(d.size(), 35u);
    OrlByteArray block;
    ASSERT_EQ(pkcs1Pad(1, 128, d.data(), d.size(), block), CKR_OK);
    std::string expected = "0001" + std::string(90 * 2, 'f') + "00" +
                           "3021300906052b0e03021a05000414" +
                           "a9993e364706816aba3e25717850c26c9cd0d89d";
    EXPECT_EQ(hex::text(block.getContent(), block.getLength()), expected);
}

TEST(CryptoPkcs1, Md5SchemeCarriesHeaderAndHash) {
    const SignatureScheme* scheme = findSignatureScheme(CKM_MD5_RSA_PKCS);
    ASSERT_NE(scheme, nullptr);
    OrlByteArray d;
    signatureContent(*scheme, reinterpret_cast<const unsigned char*>("abc"), 3, d);
    EXPECT_EQ(hex::text(d.getContent(), d.getLength()),
              "3020300c06082a864886f70d020505000410900150983cd24fb0d6963f7d28e17f72");
    const SignatureScheme* plain = findSignatureScheme(CKM_RSA_PKCS);
    ASSERT_NE(plain, nullptr);
    OrlByteArray same;
    signatureContent(*plain, reinterpret_cast<const unsigned char*>("abc"), 3, same);
    EXPECT_EQ(hex::text(same.getContent(), same.getLength()), "616263");
    // SHA-2 and raw signing belong to the extended set only.
    EXPECT_FALSE(scheme->extended);
    ASSERT_NE(findSignatureScheme(CKM_SHA256_RSA_PKCS), nullptr);
    EXPECT_TRUE(findSignatureScheme(CKM_SHA256_RSA_PKCS)->extended);
    ASSERT_NE(findSignatureScheme(CKM_RSA_X_509), nullptr);
    EXPECT_TRUE(findSignatureScheme(CKM_RSA_X_509)->extended);
    EXPECT_EQ(findSignatureScheme(CKM_RSA_9796), nullptr);
}

TEST(CryptoPkcs1, EncryptionBlockIsRandomAndNonZero) {
    Bytes data = {1, 2, 3, 4, 5};
    std::set<Bytes> seen;
    for (int round = 0; round < 4; ++round) {
        OrlByteArray block;
        ASSERT_EQ(pkcs1Pad(2, 64, data.data(), data.size(), block), CKR_OK);
        ASSERT_EQ(block.getLength(), 64u);
        const unsigned char* b = block.getContent();
        EXPECT_EQ(b[0], 0x00);
        EXPECT_EQ(b[1], 0x02);
        for (size_t i = 2; i < 64 - 6; ++i) EXPECT_NE(b[i], 0x00) << "padding byte " << i;
        EXPECT_EQ(b[64 - 6], 0x00);
        EXPECT_EQ(Bytes(b + 64 - 5, b + 64), data);
        seen.insert(toBytes(block));
    }
    EXPECT_EQ(seen.size(), 4u);
}

TEST(CryptoPkcs1, PadRefusesWhatDoesNotFit) {
    Bytes data(118, 0x5A);
    OrlByteArray out;
    // k - 11 fits, one more byte does not (the padding would be under 8 bytes).
    EXPECT_EQ(pkcs1Pad(1, 128, data.data(), 117, out), CKR_OK);
    out.removeAll();
    EXPECT_EQ(pkcs1Pad(1, 128, data.data(), 118, out), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(pkcs1Pad(2, 128, data.data(), 118, out), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(pkcs1Pad(1, 10, data.data(), 0, out), CKR_DATA_LEN_RANGE);
    // Above 4096 bits: refused, whatever the data.
    EXPECT_EQ(pkcs1Pad(1, 513, data.data(), 35, out), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(pkcs1Pad(3, 128, data.data(), 35, out), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(out.getLength(), 0u);
    // 512 bytes is the largest block.
    EXPECT_EQ(pkcs1Pad(0, 512, data.data(), 35, out), CKR_OK);
    EXPECT_EQ(out.getLength(), 512u);
    EXPECT_EQ(out.getContent()[1], 0x00);
    EXPECT_EQ(out.getContent()[2], 0x00);
}

TEST(CryptoPkcs1, StrictCheckAcceptsOnlyTheExactBlock) {
    Bytes d = sha1DigestInfo("abc");
    OrlByteArray good;
    ASSERT_EQ(pkcs1Pad(1, 128, d.data(), d.size(), good), CKR_OK);
    Bytes block = toBytes(good);
    EXPECT_TRUE(pkcs1SignatureBlockMatches(block.data(), block.size(), 128, d.data(), d.size()));

    // Each change below leaves a block a lax parser (00, type, skip to the
    // first 00, compare the rest) would still accept.
    Bytes type2 = block;
    type2[1] = 0x02;
    Bytes type0 = block;
    type0[1] = 0x00;
    Bytes garbage = block;
    garbage[10] = 0x42;
    Bytes shorterPadding = block;  // D moved left, junk after it
    shorterPadding.erase(shorterPadding.begin() + 2);
    shorterPadding.push_back(0x00);
    for (const Bytes& bad : {type2, type0, garbage, shorterPadding}) {
        EXPECT_FALSE(pkcs1SignatureBlockMatches(bad.data(), bad.size(), 128, d.data(), d.size()));
    }
    // Wrong length: without its leading 00, or one byte longer.
    EXPECT_FALSE(pkcs1SignatureBlockMatches(block.data() + 1, 127, 128, d.data(), d.size()));
    Bytes longer(1, 0x00);
    longer.insert(longer.end(), block.begin(), block.end());
    EXPECT_FALSE(pkcs1SignatureBlockMatches(longer.data(), longer.size(), 128, d.data(), d.size()));
    // A different hash.
    Bytes other = sha1DigestInfo("abd");
    EXPECT_FALSE(
        pkcs1SignatureBlockMatches(block.data(), block.size(), 128, other.data(), other.size()));
}

TEST(CryptoPkcs1, CubeRootForgeryIsRefused) {
    const auto& key = testKey(1024, 3);
    const size_t k = 128;
    // The forgery needs an odd last byte in the DigestInfo.
    std::string message;
    Bytes d;
    for (int i = 0; d.empty() || (d.back() & 1) == 0; ++i) {
        message = "pay the forger " + std::to_string(i);
        d = sha1DigestInfo(message);
    }
    Bytes sig = forgery::forgeCubeSignature(k, d);
    ASSERT_EQ(sig.size(), k) << "no forgery found";

    OrlByteArray recovered;
    ASSERT_EQ(rsaPublicOperation(encode(key.GetModulus()), encode(key.GetPublicExponent()),
                                 sig.data(), sig.size(), recovered),
              CKR_OK);
    Bytes block = toBytes(recovered);
    ASSERT_EQ(block.size(), k);
    // It is a real forgery: 00 01, garbage without 00, 00, DigestInfo.
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x01);
    size_t firstZero = 2;
    while (block[firstZero] != 0) ++firstZero;
    EXPECT_EQ(Bytes(block.begin() + firstZero + 1, block.end()), d);
    // And refused.
    EXPECT_FALSE(pkcs1SignatureBlockMatches(block.data(), block.size(), k, d.data(), d.size()));
}

TEST(CryptoRsa, PublicOperationMatchesThePrivateInverse) {
    const auto& key = testKey(1024, 65537);
    CryptoPP::AutoSeededRandomPool rng;
    OrlByteArray n = encode(key.GetModulus()), e = encode(key.GetPublicExponent());
    ASSERT_EQ(modulusLength(n.getContent(), n.getLength()), 128u);

    // Find inputs whose result has one (or more) leading zero bytes: it must
    // still come out as 128 bytes.
    int shortResults = 0;
    for (int i = 0; i < 4000 && shortResults < 2; ++i) {
        Bytes m(128);
        rng.GenerateBlock(m.data(), m.size());
        m[0] &= 0x3F;  // below n
        OrlByteArray c;
        ASSERT_EQ(rsaPublicOperation(n, e, m.data(), m.size(), c), CKR_OK);
        ASSERT_EQ(c.getLength(), 128u);
        if (c.getContent()[0] != 0) continue;
        ++shortResults;
        CryptoPP::Integer back = key.CalculateInverse(rng, CryptoPP::Integer(c.getContent(), 128));
        EXPECT_EQ(back, CryptoPP::Integer(m.data(), m.size()));
    }
    EXPECT_EQ(shortResults, 2) << "no result with a leading zero byte found";
}

TEST(CryptoRsa, PublicOperationRefusals) {
    const auto& key = testKey(1024, 65537);
    OrlByteArray n = encode(key.GetModulus()), e = encode(key.GetPublicExponent());
    OrlByteArray out;
    // Input not below n: n itself, and all FF.
    EXPECT_EQ(rsaPublicOperation(n, e, n.getContent(), n.getLength(), out), CKR_DATA_INVALID);
    Bytes ff(128, 0xFF);
    EXPECT_EQ(rsaPublicOperation(n, e, ff.data(), ff.size(), out), CKR_DATA_INVALID);
    // Above 4096 bits, and empty.
    Bytes huge(513, 0xFF);
    EXPECT_EQ(rsaPublicOperation(toArray(huge), e, ff.data(), 1, out), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(rsaPublicOperation(OrlByteArray(), e, ff.data(), 1, out), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(out.getLength(), 0u);
    // Leading zero bytes of a modulus do not count towards k.
    OrlByteArray padded;
    padded.append(0x00);
    padded.append(n);
    Bytes one = {1};
    EXPECT_EQ(rsaPublicOperation(padded, e, one.data(), one.size(), out), CKR_OK);
    EXPECT_EQ(out.getLength(), 128u);
    EXPECT_EQ(hex::text(out.getContent(), out.getLength()), std::string(254, '0') + "01");
}

TEST(CryptoRsa, LeftPadToLength) {
    Bytes v = {0xAB, 0xCD};
    OrlByteArray a = toArray(v);
    leftPadToLength(a, 5);
    EXPECT_EQ(hex::text(a.getContent(), a.getLength()), "000000abcd");
    leftPadToLength(a, 3);
    EXPECT_EQ(a.getLength(), 5u);
}

}  // namespace

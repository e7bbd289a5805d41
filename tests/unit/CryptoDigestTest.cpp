// Hashes and DigestInfo encodings against published vectors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../support/Hex.h"
#include "Digest.h"
#include "OrlByteArray.h"

namespace {

std::string digestHex(CK_MECHANISM_TYPE mechanism, const std::string& message) {
    const DigestAlgorithm* algorithm = findDigestAlgorithm(mechanism);
    if (!algorithm) return "no algorithm";
    OrlByteArray out;
    computeDigest(*algorithm, reinterpret_cast<const unsigned char*>(message.data()),
                  message.size(), out);
    return hex::text(out.getContent(), out.getLength());
}

TEST(CryptoDigest, KnownAnswers) {
    // FIPS 180 SHA-1, RFC 1321 MD5 and RFC 1319 MD2 test suites.
    EXPECT_EQ(digestHex(CKM_SHA_1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(digestHex(CKM_MD5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(digestHex(CKM_MD2, "abc"), "da853b0d3f88d99b30283a69e6ded6bb");
    EXPECT_EQ(digestHex(CKM_SHA_1, ""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(digestHex(CKM_MD5, ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(digestHex(CKM_MD2, ""), "8350e5a3e24c153df2275c9f80692773");
    EXPECT_EQ(digestHex(CKM_MD2, "message digest"), "ab4f496bfb2a530b219ff33031fe06b0");
    EXPECT_EQ(digestHex(CKM_MD5, "message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(CryptoDigest, Sha2KnownAnswers) {
    // FIPS 180-4 examples: one block, two blocks, and the 896-bit message of
    // the 1024-bit block hashes.
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string long64 =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
        "nopqrsmnopqrstnopqrstu";
    EXPECT_EQ(digestHex(CKM_SHA224, "abc"),
              "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
    EXPECT_EQ(digestHex(CKM_SHA224, two),
              "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525");
    EXPECT_EQ(digestHex(CKM_SHA256, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digestHex(CKM_SHA256, two),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(
        digestHex(CKM_SHA384, "abc"),
        "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358bae"
        "ca134c825a7");
    EXPECT_EQ(
        digestHex(CKM_SHA384, long64),
        "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e"
        "9fa91746039");
    EXPECT_EQ(
        digestHex(CKM_SHA512, "abc"),
        "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3"
        "c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(
        digestHex(CKM_SHA512, long64),
        "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b9"
        "9dec4b5433ac7d329eeb6dd26545e96e55b874be909");
}

TEST(CryptoDigest, AnnouncedAndDeliveredLengths) {
    struct {
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG announced;
        size_t delivered;
    } cases[] = {{CKM_MD2, 18, 16},    {CKM_MD5, 18, 16},    {CKM_SHA_1, 20, 20},
                 {CKM_SHA224, 28, 28}, {CKM_SHA256, 32, 32}, {CKM_SHA384, 48, 48},
                 {CKM_SHA512, 64, 64}};
    for (const auto& c : cases) {
        const DigestAlgorithm* algorithm = findDigestAlgorithm(c.mechanism);
        ASSERT_NE(algorithm, nullptr) << c.mechanism;
        EXPECT_EQ(algorithm->announcedLength, c.announced) << c.mechanism;
        EXPECT_EQ(algorithm->digestSize, c.delivered) << c.mechanism;
        EXPECT_EQ(algorithm->create()->DigestSize(), c.delivered) << c.mechanism;
    }
    // The SHA-2 digests belong to the extended set only.
    EXPECT_FALSE(findDigestAlgorithm(CKM_SHA_1)->extended);
    EXPECT_TRUE(findDigestAlgorithm(CKM_SHA256)->extended);
    EXPECT_EQ(findDigestAlgorithm(CKM_SHA1_RSA_PKCS), nullptr);
}

TEST(CryptoDigest, IncrementalHashEqualsOneCall) {
    const DigestAlgorithm* algorithm = findDigestAlgorithm(CKM_SHA_1);
    auto hash = algorithm->create();
    hash->Update(reinterpret_cast<const unsigned char*>("a"), 1);
    hash->Update(reinterpret_cast<const unsigned char*>("bc"), 2);
    unsigned char digest[20];
    hash->Final(digest);
    EXPECT_EQ(hex::text(digest, 20), digestHex(CKM_SHA_1, "abc"));
}

TEST(CryptoDigest, DigestInfoEncodings) {
    const std::string abc = "abc";
    struct {
        unsigned id;
        CK_MECHANISM_TYPE mechanism;
        const char* header;
    } cases[] = {
        {kAlgMd2, CKM_MD2, "3020300c06082a864886f70d020205000410"},
        {kAlgMd5, CKM_MD5, "3020300c06082a864886f70d020505000410"},
        {kAlgSha1, CKM_SHA_1, "3021300906052b0e03021a05000414"},
        {kAlgSha224, CKM_SHA224, "302d300d06096086480165030402040500041c"},
        {kAlgSha256, CKM_SHA256, "3031300d060960864801650304020105000420"},
        {kAlgSha384, CKM_SHA384, "3041300d060960864801650304020205000430"},
        {kAlgSha512, CKM_SHA512, "3051300d060960864801650304020305000440"},
    };
    for (const auto& c : cases) {
        std::string hash = digestHex(c.mechanism, abc);
        std::vector<unsigned char> hashBytes = hex::bytes(hash);
        OrlByteArray out;
        out.append(0xAA);  // buildDigestInfo appends
        ASSERT_TRUE(buildDigestInfo(c.id, hashBytes.data(), hashBytes.size(), out));
        EXPECT_EQ(hex::text(out.getContent(), out.getLength()),
                  "aa" + std::string(c.header) + hash);
    }
    // SHA-1: 15-byte header + 20-byte hash; MD5: 18 + 16.
    unsigned char h[20] = {};
    OrlByteArray sha1, raw, unknown;
    ASSERT_TRUE(buildDigestInfo(kAlgSha1, h, 20, sha1));
    EXPECT_EQ(sha1.getLength(), 35u);
    ASSERT_TRUE(buildDigestInfo(kAlgRawHash, h, 20, raw));
    EXPECT_EQ(raw.getLength(), 20u);
    EXPECT_FALSE(buildDigestInfo(0x800F, h, 20, unknown));
    EXPECT_EQ(unknown.getLength(), 0u);
}

TEST(CryptoDigest, DigestInfoLengthBytesFollowTheHashLength) {
    unsigned char h[12] = {};
    OrlByteArray out;
    ASSERT_TRUE(buildDigestInfo(kAlgMd5, h, sizeof h, out));
    ASSERT_EQ(out.getLength(), 18u + 12u);
    EXPECT_EQ(out.getContent()[1], 12 + 16);
    EXPECT_EQ(out.getContent()[17], 12);
}

}  // namespace

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

TEST(CryptoDigest, AnnouncedAndDeliveredLengths) {
    struct {
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG announced;
        size_t delivered;
    } cases[] = {{CKM_MD2, 18, 16}, {CKM_MD5, 18, 16}, {CKM_SHA_1, 20, 20}};
    for (const auto& c : cases) {
        const DigestAlgorithm* algorithm = findDigestAlgorithm(c.mechanism);
        ASSERT_NE(algorithm, nullptr) << c.mechanism;
        EXPECT_EQ(algorithm->announcedLength, c.announced) << c.mechanism;
        EXPECT_EQ(algorithm->digestSize, c.delivered) << c.mechanism;
        EXPECT_EQ(algorithm->create()->DigestSize(), c.delivered) << c.mechanism;
    }
    EXPECT_EQ(findDigestAlgorithm(CKM_SHA256), nullptr);
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
    EXPECT_FALSE(buildDigestInfo(0x800C, h, 20, unknown));
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

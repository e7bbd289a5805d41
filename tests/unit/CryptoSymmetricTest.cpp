// DES, triple-DES and AES against published vectors, chaining across calls.
#include <gtest/gtest.h>

#include <cryptopp/cryptlib.h>

#include <string>
#include <vector>

#include "../support/Hex.h"
#include "SymmetricCipher.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Vector {
    CK_MECHANISM_TYPE mechanism;
    const char* key;
    const char* iv;  // empty for ECB
    const char* plain;
    const char* cipher;
};

const Vector kVectors[] = {
    // FIPS 197 appendix C.1; CBC with a zero IV gives the same first block.
    {CKM_AES_ECB, "000102030405060708090a0b0c0d0e0f", "", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {CKM_AES_CBC, "000102030405060708090a0b0c0d0e0f", "00000000000000000000000000000000",
     "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    // SP 800-38A F.2.1, first two blocks.
    {CKM_AES_CBC, "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"},
    // The classic single-DES worked example.
    {CKM_DES_ECB, "133457799bbcdff1", "", "0123456789abcdef", "85e813540f0ab405"},
    // FIPS 81 CBC example: "Now is the time for all ".
    {CKM_DES_CBC, "0123456789abcdef", "1234567890abcdef",
     "4e6f77206973207468652074696d6520666f7220616c6c20",
     "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
    // SP 800-67 example: three distinct keys, "The qufck brown fox jump".
    {CKM_DES3_ECB, "0123456789abcdef23456789abcdef01456789abcdef0123", "",
     "54686520717566636b2062726f776e20666f78206a756d70",
     "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900"},
    // Triple DES CBC with the same keys: each block chains on the previous one.
    {CKM_DES3_CBC, "0123456789abcdef23456789abcdef01456789abcdef0123", "0000000000000000",
     "54686520717566636b2062726f776e20666f78206a756d70", ""},
};

std::string run(const Vector& v, bool encrypt, const std::string& inputHex) {
    const SymmetricMechanism* m = findSymmetricMechanism(v.mechanism);
    if (!m) return "no mechanism";
    Bytes key = hex::bytes(v.key), iv = hex::bytes(v.iv), in = hex::bytes(inputHex);
    CSymmetricCipher cipher(*m, encrypt, key.data(), key.size(), iv.empty() ? nullptr : iv.data());
    Bytes out(in.size());
    if (cipher.process(out.data(), in.data(), in.size()) != CKR_OK) return "refused";
    return hex::text(out);
}

TEST(CryptoSymmetric, KnownAnswersBothWays) {
    for (const Vector& v : kVectors) {
        if (!*v.cipher) continue;
        EXPECT_EQ(run(v, true, v.plain), v.cipher) << v.mechanism;
        EXPECT_EQ(run(v, false, v.cipher), v.plain) << v.mechanism;
    }
}

TEST(CryptoSymmetric, TripleDesCbcChainsOnEcb) {
    // CBC block i = ECB(plain_i xor cipher_{i-1}), checked against the ECB vector's cipher.
    const Vector& cbc = kVectors[6];
    Bytes plain = hex::bytes(cbc.plain);
    Bytes out = hex::bytes(run(cbc, true, cbc.plain));
    ASSERT_EQ(out.size(), 24u);
    Bytes firstEcb = hex::bytes(run(kVectors[5], true, hex::text(plain.data(), 8)));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), firstEcb);
    Bytes chained(plain.begin() + 8, plain.begin() + 16);
    for (int i = 0; i < 8; ++i) chained[i] ^= out[i];
    Bytes secondEcb = hex::bytes(run(kVectors[5], true, hex::text(chained)));
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 16), secondEcb);
    EXPECT_EQ(run(cbc, false, hex::text(out)), cbc.plain);
}

TEST(CryptoSymmetric, CbcChainingCarriesAcrossCallsAndRefusalsLeaveNoTrace) {
    const Vector& v = kVectors[2];
    const SymmetricMechanism* m = findSymmetricMechanism(v.mechanism);
    Bytes key = hex::bytes(v.key), iv = hex::bytes(v.iv), in = hex::bytes(v.plain);
    CSymmetricCipher cipher(*m, true, key.data(), key.size(), iv.data());
    Bytes out(32);
    // 12 bytes: refused, nothing processed, chaining untouched.
    EXPECT_EQ(cipher.process(out.data(), in.data(), 12), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(cipher.process(out.data(), in.data(), 16), CKR_OK);
    EXPECT_EQ(cipher.process(out.data() + 16, in.data() + 16, 16), CKR_OK);
    EXPECT_EQ(hex::text(out), v.cipher);
    EXPECT_EQ(cipher.process(out.data(), in.data(), 0), CKR_OK);
}

TEST(CryptoSymmetric, InPlaceProcessing) {
    const Vector& v = kVectors[4];
    const SymmetricMechanism* m = findSymmetricMechanism(v.mechanism);
    Bytes key = hex::bytes(v.key), iv = hex::bytes(v.iv), data = hex::bytes(v.plain);
    CSymmetricCipher cipher(*m, true, key.data(), key.size(), iv.data());
    ASSERT_EQ(cipher.process(data.data(), data.data(), data.size()), CKR_OK);
    EXPECT_EQ(hex::text(data), v.cipher);
}

TEST(CryptoSymmetric, PartialBlocksRefusedForEveryMechanism) {
    for (CK_MECHANISM_TYPE mech :
         {CKM_DES_ECB, CKM_DES_CBC, CKM_DES3_ECB, CKM_DES3_CBC, CKM_AES_ECB, CKM_AES_CBC}) {
        const SymmetricMechanism* m = findSymmetricMechanism(mech);
        ASSERT_NE(m, nullptr) << mech;
        Bytes key(m->keyType == CKK_DES ? 8 : m->keyType == CKK_DES3 ? 24 : 16, 0x11);
        Bytes iv(m->blockSize, 0), in(40, 0x22), out(40);
        CSymmetricCipher cipher(*m, true, key.data(), key.size(), iv.data());
        EXPECT_EQ(cipher.process(out.data(), in.data(), 12), CKR_KEY_SIZE_RANGE) << mech;
        EXPECT_EQ(cipher.process(out.data(), in.data(), m->blockSize + 1), CKR_KEY_SIZE_RANGE)
            << mech;
        EXPECT_EQ(cipher.process(out.data(), in.data(), 2 * m->blockSize), CKR_OK) << mech;
    }
    EXPECT_EQ(findSymmetricMechanism(CKM_RSA_PKCS), nullptr);
    EXPECT_EQ(findSymmetricMechanism(CKM_AES_CBC_PAD), nullptr);
}

TEST(CryptoSymmetric, KeyOfWrongLengthThrows) {
    const SymmetricMechanism* des = findSymmetricMechanism(CKM_DES_ECB);
    const SymmetricMechanism* des3 = findSymmetricMechanism(CKM_DES3_ECB);
    const SymmetricMechanism* aes = findSymmetricMechanism(CKM_AES_ECB);
    Bytes key(33, 0x01);
    EXPECT_THROW(CSymmetricCipher(*des, true, key.data(), 7, nullptr), CryptoPP::Exception);
    EXPECT_THROW(CSymmetricCipher(*des3, false, key.data(), 8, nullptr), CryptoPP::Exception);
    EXPECT_THROW(CSymmetricCipher(*aes, true, key.data(), 20, nullptr), CryptoPP::Exception);
    for (size_t n : {16, 24, 32}) {
        EXPECT_NO_THROW(CSymmetricCipher(*aes, true, key.data(), n, nullptr)) << n;
    }
}

}  // namespace

// AES-CBC with PKCS#7 padding against OpenSSL's "enc -aes-128-cbc" results
// (key 000102...0f, IV zero), in one part and in many.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/Hex.h"
#include "PaddedCipher.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kKey = hex::bytes("000102030405060708090a0b0c0d0e0f");
const Bytes kIv(16, 0);

std::unique_ptr<CPaddedCipher> padded(bool encrypt) {
    std::unique_ptr<CSymmetricCipher> cbc(new CSymmetricCipher(
        *findSymmetricMechanism(CKM_AES_CBC), encrypt, kKey.data(), kKey.size(), kIv.data()));
    return std::unique_ptr<CPaddedCipher>(new CPaddedCipher(std::move(cbc), encrypt));
}

// Runs the cipher over `in` cut into parts of `step` bytes; the final result code in *rv.
Bytes run(bool encrypt, const Bytes& in, size_t step, CK_RV* rv = nullptr) {
    auto cipher = padded(encrypt);
    OrlByteArray all;
    COutput out(all);
    for (size_t at = 0; at < in.size(); at += step) {
        size_t n = std::min(step, in.size() - at);
        size_t before = out.length();
        size_t announced = cipher->updateLength(n);
        cipher->update(in.data() + at, n, out);
        EXPECT_EQ(out.length() - before, announced);
    }
    CK_RV r = cipher->final(out);
    if (rv) *rv = r;
    return Bytes(all.getContent(), all.getContent() + all.getLength());
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(CryptoPaddedCipher, OpensslVectors) {
    struct {
        std::string plain, cipher;
    } cases[] = {
        {"", "954f64f2e4e86e9eee82d20216684899"},
        {"abc", "b08b1f809a035064420d1d754022ab55"},
        {"0123456789abcdef", "281567ab2f4cf0d73d3198225b8b83938e0d4fe286966ba47afeab038d2e3acc"},
    };
    for (const auto& c : cases) {
        for (size_t step : {size_t(1), size_t(5), size_t(16), size_t(100)}) {
            EXPECT_EQ(hex::text(run(true, text(c.plain), step)), c.cipher) << c.plain << step;
            CK_RV rv = CKR_GENERAL_ERROR;
            EXPECT_EQ(run(false, hex::bytes(c.cipher), step, &rv), text(c.plain)) << step;
            EXPECT_EQ(rv, CKR_OK);
        }
    }
}

TEST(CryptoPaddedCipher, DecryptionHoldsTheLastBlockBack) {
    auto cipher = padded(false);
    OrlByteArray all;
    COutput out(all);
    Bytes c = hex::bytes("281567ab2f4cf0d73d3198225b8b83938e0d4fe286966ba47afeab038d2e3acc");
    cipher->update(c.data(), 16, out);
    EXPECT_EQ(out.length(), 0u);  // might be the padding block
    cipher->update(c.data() + 16, 16, out);
    EXPECT_EQ(out.length(), 16u);
    EXPECT_EQ(cipher->final(out), CKR_OK);
    EXPECT_EQ(out.length(), 16u);  // the last block was all padding
}

TEST(CryptoPaddedCipher, BadPaddingAndLengthsAreRefused) {
    // "abc" encrypted, then its ciphertext changed: the padding no longer reads 0d x 13.
    Bytes c = hex::bytes("b08b1f809a035064420d1d754022ab55");
    for (size_t i : {size_t(0), size_t(7), size_t(15)}) {
        Bytes bad = c;
        bad[i] ^= 1;
        CK_RV rv = CKR_OK;
        Bytes out = run(false, bad, 16, &rv);
        EXPECT_EQ(rv, CKR_ENCRYPTED_DATA_INVALID) << i;
        EXPECT_TRUE(out.empty()) << i;
    }
    CK_RV rv = CKR_OK;
    run(false, Bytes(20, 0), 20, &rv);
    EXPECT_EQ(rv, CKR_ENCRYPTED_DATA_LEN_RANGE);
    run(false, Bytes(), 1, &rv);
    EXPECT_EQ(rv, CKR_ENCRYPTED_DATA_LEN_RANGE);
    // Pad values 0 and 17 are no padding; 16 (a whole block of padding) is.
    auto enc = [](const Bytes& plainBlock) {
        CSymmetricCipher cbc(*findSymmetricMechanism(CKM_AES_CBC), true, kKey.data(), kKey.size(),
                             kIv.data());
        Bytes out(16);
        cbc.process(out.data(), plainBlock.data(), 16);
        return out;
    };
    Bytes zero(16, 0), seventeen(16, 17), sixteen(16, 16);
    run(false, enc(zero), 16, &rv);
    EXPECT_EQ(rv, CKR_ENCRYPTED_DATA_INVALID);
    run(false, enc(seventeen), 16, &rv);
    EXPECT_EQ(rv, CKR_ENCRYPTED_DATA_INVALID);
    EXPECT_TRUE(run(false, enc(sixteen), 16, &rv).empty());
    EXPECT_EQ(rv, CKR_OK);
}

}  // namespace

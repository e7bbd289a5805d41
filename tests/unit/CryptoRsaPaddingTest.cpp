// PSS, OAEP and their parameters, cross-checked against Crypto++'s own
// implementations of the same schemes: what one side encodes, the other
// decodes.
#include <gtest/gtest.h>

#include <cryptopp/oaep.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pssr.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <string>
#include <vector>

#include "../support/FakeCrypto.h"
#include "Digest.h"
#include "Mgf1.h"
#include "Oaep.h"
#include "OrlByteArray.h"
#include "Pss.h"
#include "RsaParameters.h"
#include "SignatureEncoding.h"

namespace {

using fake::Bytes;

const DigestAlgorithm& digest(CK_MECHANISM_TYPE m) {
    return *findDigestAlgorithm(m);
}

Bytes sha256(const std::string& text) {
    Bytes out(32);
    CryptoPP::SHA256().CalculateDigest(
        out.data(), reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return out;
}

// The raw private-key operation as the token does it, at the modulus length.
Bytes privateOp(const CryptoPP::InvertibleRSAFunction& key, const Bytes& in) {
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::Integer y = key.CalculateInverse(rng, CryptoPP::Integer(in.data(), in.size()));
    Bytes out(key.GetModulus().ByteCount());
    y.Encode(out.data(), out.size());
    return out;
}

Bytes publicOp(const CryptoPP::RSAFunction& key, const Bytes& in) {
    CryptoPP::Integer y = key.ApplyFunction(CryptoPP::Integer(in.data(), in.size()));
    Bytes out(key.GetModulus().ByteCount());
    y.Encode(out.data(), out.size());
    return out;
}

size_t bitsOf(const CryptoPP::RSAFunction& key) {
    return key.GetModulus().BitCount();
}

TEST(CryptoPss, CryptoppVerifiesOurEncodingAndWeVerifyCryptopps) {
    // Crypto++'s PSS uses MGF1 with the message hash and a salt of one hash length.
    const auto& key = fake::rsaKey(2048);
    PssParameters params{&digest(CKM_SHA256), &digest(CKM_SHA256), 32};
    const std::string message = "signed with PSS";
    Bytes mHash = sha256(message);

    OrlByteArray block;
    ASSERT_EQ(pssEncode(params, mHash.data(), mHash.size(), bitsOf(key), block), CKR_OK);
    ASSERT_EQ(block.getLength(), 256u);
    Bytes signature = privateOp(key, fake::bytesOf(block));
    Bytes recovered = publicOp(key, signature);
#ifndef _WIN32
    // The Windows build's Crypto++ leaves out its PSS (pssr.cpp): this
    // cross-check runs on Linux.
    CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Verifier verifier(key);
    EXPECT_TRUE(verifier.VerifyMessage(reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), signature.data(), signature.size()));

    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Signer signer(key);
    Bytes theirs(signer.MaxSignatureLength());
    theirs.resize(signer.SignMessage(rng, reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), theirs.data()));
    recovered = publicOp(key, theirs);
#endif
    EXPECT_TRUE(pssVerify(params, mHash.data(), mHash.size(), recovered.data(), recovered.size(),
                          bitsOf(key)));
    // Strict: another salt length, another message, a changed byte all fail.
    PssParameters otherSalt = params;
    otherSalt.saltLength = 20;
    EXPECT_FALSE(pssVerify(otherSalt, mHash.data(), mHash.size(), recovered.data(),
                           recovered.size(), bitsOf(key)));
    Bytes other = sha256("another message");
    EXPECT_FALSE(pssVerify(params, other.data(), other.size(), recovered.data(), recovered.size(),
                           bitsOf(key)));
    for (size_t i :
         {size_t(0), size_t(1), size_t(100), recovered.size() - 33, recovered.size() - 1}) {
        Bytes bad = recovered;
        bad[i] ^= 0x01;
        EXPECT_FALSE(
            pssVerify(params, mHash.data(), mHash.size(), bad.data(), bad.size(), bitsOf(key)))
            << i;
    }
}

TEST(CryptoPss, FixedSaltIsDeterministicAndRandomSaltsDiffer) {
    const auto& key = fake::rsaKey(1024);
    PssParameters params{&digest(CKM_SHA_1), &digest(CKM_SHA_1), 20};
    Bytes mHash(20, 0x5A), salt(20, 0x11);
    OrlByteArray a, b, c, d;
    ASSERT_EQ(pssEncode(params, mHash.data(), 20, bitsOf(key), a, salt.data()), CKR_OK);
    ASSERT_EQ(pssEncode(params, mHash.data(), 20, bitsOf(key), b, salt.data()), CKR_OK);
    ASSERT_EQ(pssEncode(params, mHash.data(), 20, bitsOf(key), c), CKR_OK);
    ASSERT_EQ(pssEncode(params, mHash.data(), 20, bitsOf(key), d), CKR_OK);
    EXPECT_EQ(fake::bytesOf(a), fake::bytesOf(b));
    EXPECT_NE(fake::bytesOf(c), fake::bytesOf(d));
    EXPECT_EQ(a.getContent()[a.getLength() - 1], 0xBC);
}

TEST(CryptoPss, ModulusOfOddBitLengthAndSaltLimits) {
    // 1025 bits: emLen is k - 1, so the block starts with a zero byte.
    PssParameters params{&digest(CKM_SHA256), &digest(CKM_SHA_1), 0};
    Bytes mHash(32, 7);
    OrlByteArray block;
    ASSERT_EQ(pssEncode(params, mHash.data(), 32, 1025, block), CKR_OK);
    ASSERT_EQ(block.getLength(), 129u);
    EXPECT_EQ(block.getContent()[0], 0);
    EXPECT_TRUE(pssVerify(params, mHash.data(), 32, block.getContent(), 129, 1025));

    // The largest salt is emLen - hLen - 2; one more does not fit.
    params.saltLength = 128 - 32 - 2;
    EXPECT_TRUE(pssFits(params, 1024));
    params.saltLength += 1;
    EXPECT_FALSE(pssFits(params, 1024));
    OrlByteArray none;
    EXPECT_EQ(pssEncode(params, mHash.data(), 32, 1024, none), CKR_MECHANISM_PARAM_INVALID);
    params.saltLength = static_cast<size_t>(-1);  // no wrap-around in the size test
    EXPECT_FALSE(pssFits(params, 1024));
    params.saltLength = 0;
    EXPECT_EQ(pssEncode(params, mHash.data(), 31, 1024, none), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(none.getLength(), 0u);
}

TEST(CryptoOaep, CryptoppDecryptsOursAndWeDecryptTheirs) {
    const auto& key = fake::rsaKey(2048);
    OaepParameters params{&digest(CKM_SHA256), &digest(CKM_SHA256), OrlByteArray()};
    const std::string message = "a secret for OAEP";
    CryptoPP::AutoSeededRandomPool rng;

    OrlByteArray em;
    ASSERT_EQ(oaepEncode(params, 256, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), em),
              CKR_OK);
    Bytes c = publicOp(key, fake::bytesOf(em));
    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA256>>::Decryptor decryptor(key);
    Bytes plain(decryptor.MaxPlaintextLength(c.size()));
    CryptoPP::DecodingResult r = decryptor.Decrypt(rng, c.data(), c.size(), plain.data());
    ASSERT_TRUE(r.isValidCoding);
    EXPECT_EQ(std::string(plain.begin(), plain.begin() + r.messageLength), message);

    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA256>>::Encryptor encryptor(key);
    Bytes theirs(encryptor.CiphertextLength(message.size()));
    encryptor.Encrypt(rng, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                      theirs.data());
    Bytes block = privateOp(key, theirs);
    OrlByteArray out;
    ASSERT_EQ(oaepDecode(params, block.data(), block.size(), out), CKR_OK);
    EXPECT_EQ(std::string(out.getContent(), out.getContent() + out.getLength()), message);
}

TEST(CryptoOaep, EveryBadBlockGivesTheSameAnswer) {
    OaepParameters params{&digest(CKM_SHA_1), &digest(CKM_SHA256), OrlByteArray()};
    params.label.append(reinterpret_cast<const unsigned char*>("label"), 5);
    const size_t k = 128;
    Bytes message = {1, 2, 3, 0, 0, 1};
    Bytes seed(20, 0x33);
    OrlByteArray em;
    ASSERT_EQ(oaepEncode(params, k, message.data(), message.size(), em, seed.data()), CKR_OK);
    Bytes good = fake::bytesOf(em);
    OrlByteArray out;
    ASSERT_EQ(oaepDecode(params, good.data(), k, out), CKR_OK);
    EXPECT_EQ(fake::bytesOf(out), message);

    // Y, the seed, lHash, the padding and the separator: each changed alone.
    for (size_t i : {size_t(0), size_t(1), size_t(21), size_t(40), size_t(60), k - 7}) {
        Bytes bad = good;
        bad[i] ^= 0x80;
        OrlByteArray nothing;
        EXPECT_EQ(oaepDecode(params, bad.data(), k, nothing), CKR_ENCRYPTED_DATA_INVALID) << i;
        EXPECT_EQ(nothing.getLength(), 0u) << i;
    }
    OaepParameters otherLabel{params.hash, params.mgfHash, OrlByteArray()};
    OrlByteArray nothing;
    EXPECT_EQ(oaepDecode(otherLabel, good.data(), k, nothing), CKR_ENCRYPTED_DATA_INVALID);
    // A message that fills the block exactly, and one byte more.
    Bytes full(k - 2 * 20 - 2, 0xEE);
    OrlByteArray fits, tooLong;
    EXPECT_EQ(oaepEncode(params, k, full.data(), full.size(), fits), CKR_OK);
    full.push_back(0);
    EXPECT_EQ(oaepEncode(params, k, full.data(), full.size(), tooLong), CKR_DATA_LEN_RANGE);
    // An empty message round-trips.
    OrlByteArray emptyEm, emptyOut;
    ASSERT_EQ(oaepEncode(params, k, nullptr, 0, emptyEm), CKR_OK);
    EXPECT_EQ(oaepDecode(params, emptyEm.getContent(), k, emptyOut), CKR_OK);
    EXPECT_EQ(emptyOut.getLength(), 0u);
}

// An OAEP block built by hand around a chosen DB (lHash, padding, separator
// and message as the caller lays them out).
Bytes oaepBlockAround(const OaepParameters& params, Bytes db) {
    const size_t hLen = params.hash->digestSize;
    Bytes seed(hLen, 0x42);
    mgf1Xor(*params.mgfHash, seed.data(), hLen, db.data(), db.size());
    mgf1Xor(*params.mgfHash, db.data(), db.size(), seed.data(), hLen);
    Bytes block(1, 0);
    block.insert(block.end(), seed.begin(), seed.end());
    block.insert(block.end(), db.begin(), db.end());
    return block;
}

TEST(CryptoOaep, PaddingBeforeTheSeparatorMustBeZeros) {
    OaepParameters params{&digest(CKM_SHA_1), &digest(CKM_SHA_1), OrlByteArray()};
    const size_t k = 128, dbLen = k - 21;
    Bytes lHash(20);
    CryptoPP::SHA1().CalculateDigest(lHash.data(), nullptr, 0);
    auto dbWith = [&](size_t separatorAt, size_t strayAt) {
        Bytes db(dbLen, 0);
        std::copy(lHash.begin(), lHash.end(), db.begin());
        if (separatorAt) db[separatorAt] = 0x01;
        if (strayAt) db[strayAt] = 0x07;
        return db;
    };
    OrlByteArray out;
    Bytes good = oaepBlockAround(params, dbWith(dbLen - 4, 0));
    ASSERT_EQ(oaepDecode(params, good.data(), k, out), CKR_OK);
    EXPECT_EQ(out.getLength(), 3u);
    // A non-zero byte in the padding, and no separator at all.
    Bytes stray = oaepBlockAround(params, dbWith(dbLen - 4, 30));
    Bytes noSeparator = oaepBlockAround(params, dbWith(0, 0));
    OrlByteArray none;
    EXPECT_EQ(oaepDecode(params, stray.data(), k, none), CKR_ENCRYPTED_DATA_INVALID);
    EXPECT_EQ(oaepDecode(params, noSeparator.data(), k, none), CKR_ENCRYPTED_DATA_INVALID);
    EXPECT_EQ(none.getLength(), 0u);
    // A stray byte after the separator is message, not padding.
    Bytes inMessage = oaepBlockAround(params, dbWith(dbLen - 4, dbLen - 2));
    ASSERT_EQ(oaepDecode(params, inMessage.data(), k, none), CKR_OK);
    EXPECT_EQ(fake::bytesOf(none), (Bytes{0, 7, 0}));
}

CK_MECHANISM withParameter(CK_MECHANISM_TYPE type, void* p, CK_ULONG len) {
    return CK_MECHANISM{type, p, len};
}

TEST(CryptoRsaParameters, PssParametersAreCheckedStrictly) {
    CK_RSA_PKCS_PSS_PARAMS good = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    PssParameters out{};
    CK_MECHANISM m = withParameter(CKM_SHA256_RSA_PKCS_PSS, &good, sizeof good);
    ASSERT_EQ(readPssParameters(m, &digest(CKM_SHA256), out), CKR_OK);
    EXPECT_EQ(out.hash, &digest(CKM_SHA256));
    EXPECT_EQ(out.saltLength, 32u);

    CK_RSA_PKCS_PSS_PARAMS otherMgf = {CKM_SHA256, CKG_MGF1_SHA1, 0};
    m = withParameter(CKM_SHA256_RSA_PKCS_PSS, &otherMgf, sizeof otherMgf);
    ASSERT_EQ(readPssParameters(m, &digest(CKM_SHA256), out), CKR_OK);
    EXPECT_EQ(out.mgfHash, &digest(CKM_SHA_1));

    struct {
        const char* what;
        CK_RSA_PKCS_PSS_PARAMS params;
        CK_ULONG length;
        bool nullPointer;
        const DigestAlgorithm* own;
    } bad[] = {
        {"hash differs from the mechanism's",
         {CKM_SHA_1, CKG_MGF1_SHA1, 20},
         sizeof good,
         false,
         &digest(CKM_SHA256)},
        {"MD5 is no PSS hash", {CKM_MD5, CKG_MGF1_SHA1, 16}, sizeof good, false, nullptr},
        {"unknown MGF", {CKM_SHA256, 0, 32}, sizeof good, false, nullptr},
        {"MGF past SHA-224", {CKM_SHA256, 6, 32}, sizeof good, false, nullptr},
        {"short structure", {CKM_SHA256, CKG_MGF1_SHA256, 32}, sizeof good - 1, false, nullptr},
        {"long structure", {CKM_SHA256, CKG_MGF1_SHA256, 32}, sizeof good + 1, false, nullptr},
        {"no structure", {CKM_SHA256, CKG_MGF1_SHA256, 32}, sizeof good, true, nullptr},
    };
    for (auto& b : bad) {
        CK_MECHANISM mb =
            withParameter(CKM_RSA_PKCS_PSS, b.nullPointer ? nullptr : &b.params, b.length);
        EXPECT_EQ(readPssParameters(mb, b.own, out), CKR_MECHANISM_PARAM_INVALID) << b.what;
    }
}

TEST(CryptoRsaParameters, OaepParametersAndLabels) {
    unsigned char label[] = {'L', 'B'};
    CK_RSA_PKCS_OAEP_PARAMS good = {CKM_SHA384, CKG_MGF1_SHA512, CKZ_DATA_SPECIFIED, label, 2};
    OaepParameters out{};
    CK_MECHANISM m = withParameter(CKM_RSA_PKCS_OAEP, &good, sizeof good);
    ASSERT_EQ(readOaepParameters(m, out), CKR_OK);
    EXPECT_EQ(out.hash, &digest(CKM_SHA384));
    EXPECT_EQ(out.mgfHash, &digest(CKM_SHA512));
    EXPECT_EQ(fake::bytesOf(out.label), (Bytes{'L', 'B'}));
    // Source 0 with no label is taken as the empty label.
    CK_RSA_PKCS_OAEP_PARAMS zero = {CKM_SHA_1, CKG_MGF1_SHA1, 0, nullptr, 0};
    m = withParameter(CKM_RSA_PKCS_OAEP, &zero, sizeof zero);
    ASSERT_EQ(readOaepParameters(m, out), CKR_OK);
    EXPECT_EQ(out.label.getLength(), 0u);

    struct {
        const char* what;
        CK_RSA_PKCS_OAEP_PARAMS params;
        CK_ULONG length;
    } bad[] = {
        {"label source we do not know", {CKM_SHA_1, CKG_MGF1_SHA1, 2, nullptr, 0}, sizeof good},
        {"source 0 with a label", {CKM_SHA_1, CKG_MGF1_SHA1, 0, label, 2}, sizeof good},
        {"label length without bytes",
         {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 4},
         sizeof good},
        {"label beyond 64 KiB",
         {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, label, 0x10001},
         sizeof good},
        {"MD2 is no OAEP hash",
         {CKM_MD2, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0},
         sizeof good},
        {"unknown MGF", {CKM_SHA_1, 9, CKZ_DATA_SPECIFIED, nullptr, 0}, sizeof good},
        {"short structure",
         {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0},
         sizeof good - 8},
    };
    for (auto& b : bad) {
        CK_MECHANISM mb = withParameter(CKM_RSA_PKCS_OAEP, &b.params, b.length);
        EXPECT_EQ(readOaepParameters(mb, out), CKR_MECHANISM_PARAM_INVALID) << b.what;
    }
}

TEST(CryptoSignatureEncoding, RawBlocksAreLeftPaddedAndBelowTheModulus) {
    const SignatureScheme* raw = findSignatureScheme(CKM_RSA_X_509);
    ASSERT_NE(raw, nullptr);
    PssParameters unused{};
    OrlByteArray n;
    n.append(0x00);  // a leading zero byte is not part of k
    for (int i = 0; i < 128; ++i) n.append(0xC5);
    OrlByteArray content, block;
    content.append(reinterpret_cast<const unsigned char*>("\x01\x02\x03"), 3);
    ASSERT_EQ(buildSignatureBlock(*raw, unused, content, n, block), CKR_OK);
    ASSERT_EQ(block.getLength(), 128u);
    EXPECT_EQ(block.getContent()[124], 0);
    EXPECT_EQ(block.getContent()[125], 1);
    EXPECT_EQ(block.getContent()[127], 3);
    EXPECT_TRUE(signatureBlockValid(*raw, unused, content, block.getContent(), 128, n));

    OrlByteArray big(128), tooLong(129), none;
    std::memset(big.getContent(), 0xC6, 128);  // above the modulus
    EXPECT_EQ(buildSignatureBlock(*raw, unused, big, n, none), CKR_DATA_INVALID);
    EXPECT_EQ(buildSignatureBlock(*raw, unused, tooLong, n, none), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(none.getLength(), 0u);
    EXPECT_EQ(modulusBits(n.getContent(), n.getLength()), 1024u);
}

}  // namespace

// Digesting, signing, verification, encryption and decryption through the
// loaded provider, on the simulated card. Public-key results are checked with
// Crypto++ computations of the test's own.
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/Hex.h"
#include "../support/RsaForgery.h"
#include "ProviderFixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes encode(const CryptoPP::Integer& i) {
    Bytes out(i.MinEncodedSize());
    i.Encode(out.data(), out.size());
    return out;
}

const CryptoPP::InvertibleRSAFunction& rsaKey(unsigned bits, long e = 65537) {
    static auto* keys =
        new std::vector<std::pair<std::pair<unsigned, long>, CryptoPP::InvertibleRSAFunction>>;
    for (auto& k : *keys) {
        if (k.first == std::make_pair(bits, e)) return k.second;
    }
    CryptoPP::AutoSeededRandomPool rng;
    keys->emplace_back(std::make_pair(bits, e), CryptoPP::InvertibleRSAFunction());
    keys->back().second.Initialize(rng, bits, CryptoPP::Integer(e));
    return keys->back().second;
}

class Crypto : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
        login(session);  // the private keys are private objects
    }

    CK_OBJECT_HANDLE secretKey(CK_KEY_TYPE type, const Bytes& value) {
        CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
        CK_BBOOL no = CK_FALSE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_TOKEN, &no, sizeof no},
                            {CKA_VALUE, const_cast<unsigned char*>(value.data()),
                             static_cast<CK_ULONG>(value.size())}};
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t, 4, &h));
        return h;
    }

    CK_OBJECT_HANDLE publicKey(const CryptoPP::RSAFunction& rsa) {
        CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
        CK_KEY_TYPE type = CKK_RSA;
        CK_BBOOL no = CK_FALSE;
        Bytes n = encode(rsa.GetModulus()), e = encode(rsa.GetPublicExponent());
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_TOKEN, &no, sizeof no},
                            {CKA_MODULUS, n.data(), static_cast<CK_ULONG>(n.size())},
                            {CKA_PUBLIC_EXPONENT, e.data(), static_cast<CK_ULONG>(e.size())}};
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t, 5, &h));
        return h;
    }

    // Imports the key pair onto the card; the private key's handle.
    CK_OBJECT_HANDLE privateKey(const CryptoPP::InvertibleRSAFunction& rsa) {
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = CKK_RSA;
        CK_BBOOL yes = CK_TRUE;
        Bytes n = encode(rsa.GetModulus()), e = encode(rsa.GetPublicExponent()),
              d = encode(rsa.GetPrivateExponent());
        unsigned char id[] = {0x42};
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_TOKEN, &yes, sizeof yes},
                            {CKA_ID, id, sizeof id},
                            {CKA_MODULUS, n.data(), static_cast<CK_ULONG>(n.size())},
                            {CKA_PUBLIC_EXPONENT, e.data(), static_cast<CK_ULONG>(e.size())},
                            {CKA_PRIVATE_EXPONENT, d.data(), static_cast<CK_ULONG>(d.size())}};
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t, 7, &h));
        return h;
    }

    CK_RV digest(CK_MECHANISM_TYPE type, const std::string& text, Bytes& out) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = p11->C_DigestInit(session, &m);
        if (rv != CKR_OK) return rv;
        out.assign(64, 0);
        CK_ULONG len = out.size();
        rv = p11->C_Digest(session, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>(text.data())),
                           text.size(), out.data(), &len);
        out.resize(rv == CKR_OK ? len : 0);
        return rv;
    }

    CK_RV sign(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes data, Bytes& sig) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = p11->C_SignInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        sig.assign(512, 0);
        CK_ULONG len = sig.size();
        rv = p11->C_Sign(session, data.data(), data.size(), sig.data(), &len);
        sig.resize(rv == CKR_OK ? len : 0);
        return rv;
    }

    CK_RV verify(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes data, Bytes sig) {
        CK_MECHANISM m = {type, nullptr, 0};
        CK_RV rv = p11->C_VerifyInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        return p11->C_Verify(session, data.data(), data.size(), sig.data(), sig.size());
    }

    CK_RV encrypt(CK_MECHANISM m, CK_OBJECT_HANDLE key, Bytes data, Bytes& out) {
        CK_RV rv = p11->C_EncryptInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        out.assign(data.size() + 512, 0);
        CK_ULONG len = out.size();
        rv = p11->C_Encrypt(session, data.data(), data.size(), out.data(), &len);
        out.resize(rv == CKR_OK ? len : 0);
        return rv;
    }

    CK_RV decrypt(CK_MECHANISM m, CK_OBJECT_HANDLE key, Bytes data, Bytes& out) {
        CK_RV rv = p11->C_DecryptInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        out.assign(data.size() + 512, 0);
        CK_ULONG len = out.size();
        rv = p11->C_Decrypt(session, data.data(), data.size(), out.data(), &len);
        out.resize(rv == CKR_OK ? len : 0);
        return rv;
    }

    CK_SESSION_HANDLE session = 0;
};

// The key tests: keys made with C_CreateObject, private keys imported onto the card.
class CryptoKeys : public Crypto {};

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// ---- Digesting ---------------------------------------------------------------

TEST_F(Crypto, DigestVectorsInOneCallAndInParts) {
    struct {
        CK_MECHANISM_TYPE type;
        const char* abc;
    } cases[] = {{CKM_SHA_1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
                 {CKM_MD5, "900150983cd24fb0d6963f7d28e17f72"},
                 {CKM_MD2, "da853b0d3f88d99b30283a69e6ded6bb"}};
    for (const auto& c : cases) {
        Bytes out;
        ASSERT_RV(CKR_OK, digest(c.type, "abc", out));
        EXPECT_EQ(hex::text(out), c.abc);

        CK_MECHANISM m = {c.type, nullptr, 0};
        ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &m));
        for (char ch : std::string("abc")) {
            CK_BYTE b = static_cast<CK_BYTE>(ch);
            ASSERT_RV(CKR_OK, p11->C_DigestUpdate(session, &b, 1));
        }
        Bytes parts(20);
        CK_ULONG len = parts.size();
        ASSERT_RV(CKR_OK, p11->C_DigestFinal(session, parts.data(), &len));
        parts.resize(len);
        EXPECT_EQ(hex::text(parts), c.abc);
    }
}

TEST_F(Crypto, DigestTooSmallBufferKeepsTheDigestForTheNextCall) {
    CK_MECHANISM md5 = {CKM_MD5, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &md5));
    CK_BYTE abc[] = {'a', 'b', 'c'};
    ASSERT_RV(CKR_OK, p11->C_DigestUpdate(session, abc, 3));
    CK_ULONG len = 0;
    ASSERT_RV(CKR_OK, p11->C_DigestFinal(session, nullptr, &len));
    EXPECT_EQ(len, 18u);
    Bytes out(18, 0xEE);
    ASSERT_RV(CKR_OK, p11->C_DigestFinal(session, out.data(), &len));
    EXPECT_EQ(len, 16u);
    EXPECT_EQ(hex::text(out.data(), 16), "900150983cd24fb0d6963f7d28e17f72");

    // Too small: told the exact length, the digest waits for the next call.
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &md5));
    ASSERT_RV(CKR_OK, p11->C_DigestUpdate(session, abc, 3));
    len = 15;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_DigestFinal(session, out.data(), &len));
    EXPECT_EQ(len, 16u);
    len = 0;
    ASSERT_RV(CKR_OK, p11->C_DigestFinal(session, nullptr, &len));
    EXPECT_EQ(len, 16u);
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_DigestUpdate(session, abc, 3));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_DigestInit(session, &md5));
    out.assign(18, 0xEE);
    ASSERT_RV(CKR_OK, p11->C_DigestFinal(session, out.data(), &len));
    EXPECT_EQ(len, 16u);
    EXPECT_EQ(hex::text(out.data(), 16), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_DigestFinal(session, out.data(), &len));

    // The same through C_Digest: the retry with the same data gets the digest
    // of the data once, not twice.
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &md5));
    len = 0;
    ASSERT_RV(CKR_OK, p11->C_Digest(session, abc, 3, nullptr, &len));
    EXPECT_EQ(len, 18u);
    len = 15;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_Digest(session, abc, 3, out.data(), &len));
    EXPECT_EQ(len, 16u);
    out.assign(18, 0xEE);
    ASSERT_RV(CKR_OK, p11->C_Digest(session, abc, 3, out.data(), &len));
    EXPECT_EQ(len, 16u);
    EXPECT_EQ(hex::text(out.data(), 16), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_DigestUpdate(session, abc, 3));
}

TEST_F(Crypto, EmptyMessageIsAValidDigestInput) {
    const std::string emptySha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
    CK_MECHANISM sha = {CKM_SHA_1, nullptr, 0};
    Bytes out(20);
    CK_ULONG len = out.size();
    CK_BYTE b = 0;
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &sha));
    ASSERT_RV(CKR_OK, p11->C_Digest(session, nullptr, 0, out.data(), &len));
    EXPECT_EQ(hex::text(out.data(), len), emptySha1);
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &sha));
    ASSERT_RV(CKR_OK, p11->C_Digest(session, &b, 0, out.data(), &len));
    EXPECT_EQ(hex::text(out.data(), len), emptySha1);
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &sha));
    ASSERT_RV(CKR_OK, p11->C_DigestUpdate(session, nullptr, 0));
    ASSERT_RV(CKR_OK, p11->C_DigestUpdate(session, &b, 0));
    ASSERT_RV(CKR_OK, p11->C_DigestFinal(session, out.data(), &len));
    EXPECT_EQ(hex::text(out.data(), len), emptySha1);
    // A null pointer with a length is still refused.
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &sha));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Digest(session, nullptr, 1, out.data(), &len));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_DigestUpdate(session, nullptr, 1));
}

TEST_F(CryptoKeys, EmptyMessageIsAValidSignAndEncryptInput) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa), pub = publicKey(rsa);
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    Bytes sig(128);
    CK_ULONG len = sig.size();
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    ASSERT_RV(CKR_OK, p11->C_Sign(session, nullptr, 0, sig.data(), &len));
    ASSERT_EQ(len, 128u);
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier verifier(rsa.GetModulus(),
                                                                           rsa.GetPublicExponent());
    EXPECT_TRUE(verifier.VerifyMessage(nullptr, 0, sig.data(), sig.size()));
    ASSERT_RV(CKR_OK, p11->C_VerifyInit(session, &m, pub));
    EXPECT_RV(CKR_OK, p11->C_Verify(session, nullptr, 0, sig.data(), sig.size()));
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    ASSERT_RV(CKR_OK, p11->C_SignUpdate(session, nullptr, 0));
    Bytes parts(128);
    len = parts.size();
    ASSERT_RV(CKR_OK, p11->C_SignFinal(session, parts.data(), &len));
    EXPECT_EQ(parts, sig);
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Sign(session, nullptr, 3, sig.data(), &len));
    len = sig.size();
    ASSERT_RV(CKR_OK, p11->C_Sign(session, nullptr, 0, sig.data(), &len));

    // Encryption: RSA of the empty message decrypts to it; AES gives nothing.
    CK_MECHANISM pkcs = {CKM_RSA_PKCS, nullptr, 0};
    Bytes c(128), back(128);
    len = c.size();
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &pkcs, pub));
    ASSERT_RV(CKR_OK, p11->C_Encrypt(session, nullptr, 0, c.data(), &len));
    ASSERT_EQ(len, 128u);
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &pkcs, priv));
    len = back.size();
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, c.data(), c.size(), back.data(), &len));
    EXPECT_EQ(len, 0u);
    CK_OBJECT_HANDLE aes = secretKey(CKK_AES, Bytes(16, 0x2B));
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &ecb, aes));
    len = c.size();
    ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, nullptr, 0, c.data(), &len));
    EXPECT_EQ(len, 0u);
    len = c.size();
    ASSERT_RV(CKR_OK, p11->C_Encrypt(session, nullptr, 0, c.data(), &len));
    EXPECT_EQ(len, 0u);
    // The decryption calls keep refusing an empty input.
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &ecb, aes));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Decrypt(session, nullptr, 0, back.data(), &len));
}

TEST_F(Crypto, DigestRefusals) {
    CK_MECHANISM sha = {CKM_SHA_1, nullptr, 0}, bad = {CKM_SHA256, nullptr, 0};
    CK_BYTE b = 1;
    CK_ULONG len = 20;
    Bytes out(20);
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_DigestUpdate(session, &b, 1));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_DigestFinal(session, out.data(), &len));
    EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_DigestInit(session, &bad));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_DigestInit(session, nullptr));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_DigestInit(0, &sha));
    ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &sha));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_DigestInit(session, &sha));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_DigestFinal(session, out.data(), nullptr));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_DigestUpdate(session + 1, &b, 1));
}

TEST_F(Crypto, UninitialisedLibrary) {
    p11->C_Finalize(nullptr);
    CK_BYTE b = 1;
    CK_ULONG len = 20;
    CK_MECHANISM sha = {CKM_SHA_1, nullptr, 0};
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_DigestInit(1, &sha));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_Digest(1, &b, 1, &b, &len));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_SignUpdate(1, &b, 1));
    // These three skip the check and fail at the session lookup.
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_DigestUpdate(1, &b, 1));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_DigestFinal(1, &b, &len));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_Verify(1, &b, 1, &b, 1));
}

// ---- Signing and verification ----------------------------------------------------

TEST_F(CryptoKeys, BlockGivenToTheCardForSha1AndMd5) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa);
    Bytes sig;
    cardsim_clearCalls();
    ASSERT_RV(CKR_OK, sign(CKM_SHA1_RSA_PKCS, priv, bytesOf("abc"), sig));
    std::vector<CardSimCall> calls = cardsim_calls(kZtApplyPrivateKey);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, 0u);
    EXPECT_EQ(hex::text(calls[0].bytes), "0001" + std::string(180, 'f') + "00" +
                                             "3021300906052b0e03021a05000414" +
                                             "a9993e364706816aba3e25717850c26c9cd0d89d");
    ASSERT_EQ(sig.size(), 128u);
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier verifier(rsa.GetModulus(),
                                                                           rsa.GetPublicExponent());
    EXPECT_TRUE(verifier.VerifyMessage(reinterpret_cast<const unsigned char*>("abc"), 3, sig.data(),
                                       sig.size()));

    cardsim_clearCalls();
    ASSERT_RV(CKR_OK, sign(CKM_MD5_RSA_PKCS, priv, bytesOf("abc"), sig));
    calls = cardsim_calls(kZtApplyPrivateKey);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(hex::text(calls[0].bytes),
              "0001" + std::string(2 * (128 - 3 - 34), 'f') + "00" +
                  "3020300c06082a864886f70d020505000410900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(CryptoKeys, SignThenVerifyAndAnyFlippedByteFails) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa), pub = publicKey(rsa);
    Bytes data = bytesOf("the quick brown fox"), sig;
    ASSERT_RV(CKR_OK, sign(CKM_SHA1_RSA_PKCS, priv, data, sig));
    EXPECT_RV(CKR_OK, verify(CKM_SHA1_RSA_PKCS, pub, data, sig));
    for (size_t i = 0; i < data.size(); ++i) {
        Bytes d = data;
        d[i] ^= 0x20;
        EXPECT_RV(CKR_SIGNATURE_INVALID, verify(CKM_SHA1_RSA_PKCS, pub, d, sig));
    }
    for (size_t i = 0; i < sig.size(); ++i) {
        Bytes s = sig;
        s[i] ^= 0x01;
        EXPECT_RV(CKR_SIGNATURE_INVALID, verify(CKM_SHA1_RSA_PKCS, pub, data, s));
    }
    // C_VerifyFinal after updates answers as C_Verify does.
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_VerifyInit(session, &m, pub));
    ASSERT_RV(CKR_OK, p11->C_VerifyUpdate(session, data.data(), 4));
    ASSERT_RV(CKR_OK, p11->C_VerifyUpdate(session, data.data() + 4, data.size() - 4));
    EXPECT_RV(CKR_OK, p11->C_VerifyFinal(session, sig.data(), sig.size()));
    // Wrong length, all zeros.
    Bytes longer = sig;
    longer.insert(longer.begin(), 0x00);
    EXPECT_RV(CKR_SIGNATURE_INVALID, verify(CKM_SHA1_RSA_PKCS, pub, data, longer));
    EXPECT_RV(CKR_SIGNATURE_INVALID, verify(CKM_SHA1_RSA_PKCS, pub, data, Bytes(128, 0)));
}

TEST_F(CryptoKeys, ForgedSignatureForExponentThreeIsRefused) {
    const auto& rsa = rsaKey(1024, 3);
    CK_OBJECT_HANDLE pub = publicKey(rsa);
    Bytes data, d;
    for (int i = 0; d.empty() || (d.back() & 1) == 0; ++i) {
        data = bytesOf("pay 1000 to mallory #" + std::to_string(i));
        unsigned char h[20];
        CryptoPP::SHA1().CalculateDigest(h, data.data(), data.size());
        d = hex::bytes("3021300906052b0e03021a05000414" + hex::text(h, 20));
    }
    Bytes forged = forgery::forgeCubeSignature(128, d);
    ASSERT_EQ(forged.size(), 128u);
    EXPECT_RV(CKR_SIGNATURE_INVALID, verify(CKM_SHA1_RSA_PKCS, pub, data, forged));
}

TEST_F(CryptoKeys, SignTooSmallBufferKeepsTheCardsSignature) {
    CK_OBJECT_HANDLE priv = privateKey(rsaKey(1024));
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    CK_BYTE abc[] = {'a', 'b', 'c'};
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    CK_ULONG len = 0;
    ASSERT_RV(CKR_OK, p11->C_Sign(session, abc, 3, nullptr, &len));
    EXPECT_EQ(len, 512u);
    Bytes sig(512);
    ASSERT_RV(CKR_OK, p11->C_Sign(session, abc, 3, sig.data(), &len));
    EXPECT_EQ(len, 128u);

    Bytes expected(sig.begin(), sig.begin() + 128);

    // Too small: told 128, the card's signature is kept and handed over next.
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    ASSERT_RV(CKR_OK, p11->C_SignUpdate(session, abc, 3));
    len = 0;
    ASSERT_RV(CKR_OK, p11->C_SignFinal(session, nullptr, &len));
    EXPECT_EQ(len, 512u);
    cardsim_clearCalls();
    len = 100;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_SignFinal(session, sig.data(), &len));
    EXPECT_EQ(len, 128u);
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_SignUpdate(session, abc, 3));
    len = 0;
    ASSERT_RV(CKR_OK, p11->C_SignFinal(session, nullptr, &len));
    EXPECT_EQ(len, 128u);
    sig.assign(128, 0);
    ASSERT_RV(CKR_OK, p11->C_SignFinal(session, sig.data(), &len));
    EXPECT_EQ(len, 128u);
    EXPECT_EQ(sig, expected);  // PKCS#1 v1.5 signatures are deterministic
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), 1u);
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_SignFinal(session, sig.data(), &len));

    // C_Sign: the retry with the same data gets the one signature made.
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    cardsim_clearCalls();
    len = 127;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_Sign(session, abc, 3, sig.data(), &len));
    EXPECT_EQ(len, 128u);
    sig.assign(128, 0);
    ASSERT_RV(CKR_OK, p11->C_Sign(session, abc, 3, sig.data(), &len));
    EXPECT_EQ(len, 128u);
    EXPECT_EQ(sig, expected);
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), 1u);
    EXPECT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
}

TEST_F(CryptoKeys, KeyClassErrorsAndOneOperationAtATime) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa), pub = publicKey(rsa);
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0}, sha = {CKM_SHA_1, nullptr, 0},
                 bad = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, p11->C_SignInit(session, &m, pub));
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, p11->C_VerifyInit(session, &m, priv));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, p11->C_SignInit(session, &m, 0x7777));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SignInit(session, &m, 0));
    EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_SignInit(session, &bad, priv));
    CK_BYTE b = 1;
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_SignUpdate(0, &b, 1));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_VerifyUpdate(0, &b, 1));

    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &m, priv));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_SignInit(session, &m, priv));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_DigestInit(session, &sha));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_VerifyInit(session, &m, pub));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_VerifyUpdate(session, &b, 1));
    Bytes sig(512);
    CK_ULONG len = sig.size();
    ASSERT_RV(CKR_OK, p11->C_Sign(session, &b, 1, sig.data(), &len));
    EXPECT_RV(CKR_OK, p11->C_DigestInit(session, &sha));
}

TEST_F(CryptoKeys, CardRefusalIsADeviceError) {
    CK_OBJECT_HANDLE priv = privateKey(rsaKey(1024));
    Bytes sig;
    cardsim_script(kZtApplyPrivateKey, 0x6F00);
    EXPECT_RV(CKR_DEVICE_ERROR, sign(CKM_SHA1_RSA_PKCS, priv, bytesOf("abc"), sig));
    cardsim_scriptThrow(kZtApplyPrivateKey);
    EXPECT_RV(CKR_GENERAL_ERROR, sign(CKM_SHA1_RSA_PKCS, priv, bytesOf("abc"), sig));
    // Too much data for a plain PKCS#1 block of a 1024-bit key.
    EXPECT_RV(CKR_DATA_LEN_RANGE, sign(CKM_RSA_PKCS, priv, Bytes(118, 1), sig));
    EXPECT_RV(CKR_OK, sign(CKM_RSA_PKCS, priv, Bytes(117, 1), sig));
}

// ---- Encryption and decryption --------------------------------------------------

const Bytes kAesKey = hex::bytes("000102030405060708090a0b0c0d0e0f");
const Bytes kAesPlain = hex::bytes("00112233445566778899aabbccddeeff");

TEST_F(CryptoKeys, AesCbcFips197AndChainingAcrossUpdates) {
    CK_OBJECT_HANDLE key = secretKey(CKK_AES, kAesKey);
    unsigned char iv[16] = {};
    CK_MECHANISM cbc = {CKM_AES_CBC, iv, sizeof iv};
    Bytes out;
    ASSERT_RV(CKR_OK, encrypt(cbc, key, kAesPlain, out));
    EXPECT_EQ(hex::text(out), "69c4e0d86a7b0430d8cdb78070b4c55a");

    Bytes two = kAesPlain;
    two.insert(two.end(), kAesPlain.begin(), kAesPlain.end());
    Bytes once;
    ASSERT_RV(CKR_OK, encrypt(cbc, key, two, once));
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &cbc, key));
    Bytes split(32);
    CK_ULONG len = 16;
    ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, two.data(), 16, split.data(), &len));
    EXPECT_EQ(len, 16u);
    len = 16;
    ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, two.data() + 16, 16, split.data() + 16, &len));
    CK_ULONG last = 16;
    ASSERT_RV(CKR_OK, p11->C_EncryptFinal(session, split.data(), &last));
    EXPECT_EQ(last, 0u);
    EXPECT_EQ(split, once);

    Bytes back;
    ASSERT_RV(CKR_OK, decrypt(cbc, key, once, back));
    EXPECT_EQ(back, two);
}

TEST_F(CryptoKeys, PartialBlockIsKeySizeRangeAndTheOperationGoesOn) {
    CK_OBJECT_HANDLE key = secretKey(CKK_AES, kAesKey);
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &ecb, key));
    Bytes out(64);
    CK_ULONG len = out.size();
    EXPECT_RV(CKR_KEY_SIZE_RANGE, p11->C_EncryptUpdate(session, out.data(), 12, out.data(), &len));
    len = out.size();
    ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, const_cast<unsigned char*>(kAesPlain.data()),
                                           16, out.data(), &len));
    EXPECT_EQ(hex::text(out.data(), len), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

TEST_F(CryptoKeys, DesAndTripleDesKnownAnswers) {
    CK_OBJECT_HANDLE des = secretKey(CKK_DES, hex::bytes("0123456789abcdef"));
    CK_OBJECT_HANDLE des3 =
        secretKey(CKK_DES3, hex::bytes("0123456789abcdef23456789abcdef01456789abcdef0123"));
    Bytes iv = hex::bytes("1234567890abcdef"), out;
    CK_MECHANISM desCbc = {CKM_DES_CBC, iv.data(), static_cast<CK_ULONG>(iv.size())},
                 des3Ecb = {CKM_DES3_ECB, nullptr, 0};
    ASSERT_RV(CKR_OK, encrypt(desCbc, des, bytesOf("Now is the time for all "), out));
    EXPECT_EQ(hex::text(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    ASSERT_RV(CKR_OK, encrypt(des3Ecb, des3, bytesOf("The qufck brown fox jump"), out));
    EXPECT_EQ(hex::text(out), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
    Bytes back;
    ASSERT_RV(CKR_OK, decrypt(des3Ecb, des3, out, back));
    EXPECT_EQ(back, bytesOf("The qufck brown fox jump"));
}

TEST_F(CryptoKeys, LengthsReportedForNullOutputs) {
    CK_OBJECT_HANDLE key = secretKey(CKK_AES, kAesKey);
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    Bytes data(100, 7);
    CK_ULONG len = 0;
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &ecb, key));
    ASSERT_RV(CKR_OK, p11->C_Encrypt(session, data.data(), 100, nullptr, &len));
    EXPECT_EQ(len, 612u);
    ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, data.data(), 32, nullptr, &len));
    EXPECT_EQ(len, 544u);
    ASSERT_RV(CKR_OK, p11->C_EncryptFinal(session, nullptr, &len));
    EXPECT_EQ(len, 512u);
    ASSERT_RV(CKR_OK, p11->C_EncryptFinal(session, data.data(), &len));  // still active
    EXPECT_EQ(len, 0u);

    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &ecb, key));
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, data.data(), 96, nullptr, &len));
    EXPECT_EQ(len, 96u);
    ASSERT_RV(CKR_OK, p11->C_DecryptUpdate(session, data.data(), 48, nullptr, &len));
    EXPECT_EQ(len, 48u);
    ASSERT_RV(CKR_OK, p11->C_DecryptFinal(session, nullptr, &len));
    EXPECT_EQ(len, 512u);
    // Too small a buffer: told 16, the part's output waits for the same update.
    len = 8;
    Bytes part(16);
    EXPECT_RV(CKR_BUFFER_TOO_SMALL,
              p11->C_DecryptUpdate(session, data.data(), 16, part.data(), &len));
    EXPECT_EQ(len, 16u);
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_DecryptFinal(session, part.data(), &len));
    ASSERT_RV(CKR_OK, p11->C_DecryptUpdate(session, data.data(), 16, part.data(), &len));
    EXPECT_EQ(len, 16u);
    len = 0;
    ASSERT_RV(CKR_OK, p11->C_DecryptFinal(session, data.data(), &len));
    EXPECT_EQ(len, 0u);
    Bytes plain;
    ASSERT_RV(CKR_OK, decrypt(ecb, key, Bytes(16, 7), plain));
    EXPECT_EQ(part, plain);
}

TEST_F(CryptoKeys, TooSmallBufferKeepsTheCipherChainAndItsOutput) {
    CK_OBJECT_HANDLE key = secretKey(CKK_AES, kAesKey);
    unsigned char iv[16] = {};
    CK_MECHANISM cbc = {CKM_AES_CBC, iv, sizeof iv};
    Bytes data(64);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
    Bytes once;
    ASSERT_RV(CKR_OK, encrypt(cbc, key, data, once));

    // Every update first with a buffer one byte short, then again.
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &cbc, key));
    Bytes parts;
    for (size_t at = 0; at < data.size(); at += 32) {
        Bytes out(32);
        CK_ULONG len = 31;
        ASSERT_RV(CKR_BUFFER_TOO_SMALL,
                  p11->C_EncryptUpdate(session, data.data() + at, 32, out.data(), &len));
        EXPECT_EQ(len, 32u);
        len = 0;
        ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, data.data() + at, 32, nullptr, &len));
        EXPECT_EQ(len, 32u);
        ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, data.data() + at, 32, out.data(), &len));
        ASSERT_EQ(len, 32u);
        parts.insert(parts.end(), out.begin(), out.end());
    }
    CK_ULONG last = 0;
    ASSERT_RV(CKR_OK, p11->C_EncryptFinal(session, parts.data(), &last));
    EXPECT_EQ(last, 0u);
    EXPECT_EQ(parts, once);

    // The single-part calls the same way, both directions.
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &cbc, key));
    Bytes out(64);
    CK_ULONG len = 16;
    ASSERT_RV(CKR_BUFFER_TOO_SMALL, p11->C_Encrypt(session, data.data(), 64, out.data(), &len));
    EXPECT_EQ(len, 64u);
    ASSERT_RV(CKR_OK, p11->C_Encrypt(session, data.data(), 64, out.data(), &len));
    EXPECT_EQ(out, once);
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &cbc, key));
    len = 63;
    ASSERT_RV(CKR_BUFFER_TOO_SMALL, p11->C_Decrypt(session, once.data(), 64, out.data(), &len));
    EXPECT_EQ(len, 64u);
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, once.data(), 64, out.data(), &len));
    EXPECT_EQ(out, data);
    EXPECT_RV(CKR_OK, p11->C_EncryptInit(session, &cbc, key));
}

TEST_F(CryptoKeys, RsaTooSmallBufferKeepsTheCardsResult) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa), pub = publicKey(rsa);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    Bytes data = bytesOf("attack at dawn"), c;

    // Encryption: told 128, the ciphertext kept (its padding is random).
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &m, pub));
    c.assign(128, 0);
    CK_ULONG len = 64;
    ASSERT_RV(CKR_BUFFER_TOO_SMALL,
              p11->C_Encrypt(session, data.data(), data.size(), c.data(), &len));
    EXPECT_EQ(len, 128u);
    ASSERT_RV(CKR_OK, p11->C_Encrypt(session, data.data(), data.size(), c.data(), &len));
    EXPECT_EQ(len, 128u);

    // Decryption: told the plaintext's exact length; the card decrypts once.
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &m, priv));
    cardsim_clearCalls();
    Bytes back(data.size(), 0);
    len = 4;
    ASSERT_RV(CKR_BUFFER_TOO_SMALL, p11->C_Decrypt(session, c.data(), c.size(), back.data(), &len));
    EXPECT_EQ(len, data.size());
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, c.data(), c.size(), back.data(), &len));
    EXPECT_EQ(back, data);
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), 1u);

    // The same in parts.
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &m, priv));
    cardsim_clearCalls();
    len = 0;
    ASSERT_RV(CKR_OK, p11->C_DecryptUpdate(session, c.data(), c.size(), back.data(), &len));
    EXPECT_EQ(len, 0u);
    len = 13;
    ASSERT_RV(CKR_BUFFER_TOO_SMALL, p11->C_DecryptFinal(session, back.data(), &len));
    EXPECT_EQ(len, data.size());
    back.assign(data.size(), 0);
    ASSERT_RV(CKR_OK, p11->C_DecryptFinal(session, back.data(), &len));
    EXPECT_EQ(back, data);
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), 1u);
}

TEST_F(CryptoKeys, NullBufferLengthSufficesForAShortRawCiphertext) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa);
    CK_MECHANISM raw = {CKM_RSA_X_509, nullptr, 0};
    Bytes c = {0x02};  // the number 2: its raw decryption has the modulus length
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &raw, priv));
    CK_ULONG len = 0;
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, c.data(), 1, nullptr, &len));
    EXPECT_GE(len, 128u);
    Bytes out(len);
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, c.data(), 1, out.data(), &len));
    EXPECT_EQ(len, 128u);
}

TEST_F(CryptoKeys, SymmetricInitRefusals) {
    CK_OBJECT_HANDLE aes = secretKey(CKK_AES, kAesKey), des = secretKey(CKK_DES, Bytes(8, 1));
    CK_MECHANISM desCbcNoIv = {CKM_DES_CBC, nullptr, 0}, aesEcb = {CKM_AES_ECB, nullptr, 0};
    unsigned char iv[8] = {};
    CK_MECHANISM aesShortIv = {CKM_AES_CBC, iv, sizeof iv};
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, p11->C_EncryptInit(session, &desCbcNoIv, des));
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, p11->C_EncryptInit(session, &aesShortIv, aes));
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, p11->C_EncryptInit(session, &aesEcb, des));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, p11->C_EncryptInit(session, &aesEcb, 0x7777));

    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &aesEcb, aes));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_EncryptInit(session, &aesEcb, aes));
    Bytes c = hex::bytes("69c4e0d86a7b0430d8cdb78070b4c55a"), out(16);
    CK_ULONG len = 16;
    ASSERT_RV(CKR_OK, p11->C_Decrypt(session, c.data(), 16, out.data(), &len));
    EXPECT_EQ(out, kAesPlain);
}

TEST_F(CryptoKeys, RsaRoundTripOnTheCard) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa), pub = publicKey(rsa);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    Bytes data = bytesOf("attack at dawn"), c1, c2, back;
    ASSERT_RV(CKR_OK, encrypt(m, pub, data, c1));
    ASSERT_RV(CKR_OK, encrypt(m, pub, data, c2));
    EXPECT_EQ(c1.size(), 128u);
    EXPECT_NE(c1, c2);
    cardsim_clearCalls();
    ASSERT_RV(CKR_OK, decrypt(m, priv, c1, back));
    EXPECT_EQ(back, data);
    ASSERT_EQ(cardsim_callCount(kZtApplyPrivateKey), 1u);
    EXPECT_EQ(cardsim_calls(kZtApplyPrivateKey)[0].number, 1u);
    // Too long for the padding.
    EXPECT_RV(CKR_DATA_LEN_RANGE, encrypt(m, pub, Bytes(118, 1), c1));
}

TEST_F(CryptoKeys, RawRsaLengthsAndLeadingZeroCiphertexts) {
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa), pub = publicKey(rsa);
    CK_MECHANISM raw = {CKM_RSA_X_509, nullptr, 0};
    Bytes out;
    EXPECT_RV(CKR_ARGUMENTS_BAD, encrypt(raw, pub, Bytes(127, 1), out));

    CryptoPP::AutoSeededRandomPool rng;
    int found = 0;
    for (int i = 0; i < 4000 && !found; ++i) {
        Bytes m(128);
        rng.GenerateBlock(m.data(), m.size());
        m[0] = 0;
        m[1] |= 1;
        ASSERT_RV(CKR_OK, encrypt(raw, pub, m, out));
        ASSERT_EQ(out.size(), 128u);
        if (out[0] != 0) continue;
        ++found;
        EXPECT_EQ(rsa.CalculateInverse(rng, CryptoPP::Integer(out.data(), out.size())),
                  CryptoPP::Integer(m.data(), m.size()));
        Bytes back;
        ASSERT_RV(CKR_OK, decrypt(raw, priv, out, back));
        EXPECT_EQ(back, m);
    }
    EXPECT_EQ(found, 1);
}

TEST_F(CryptoKeys, SecretKeyWithRsaDecryptionFailsAtTheFinalStep) {
    CK_OBJECT_HANDLE key = secretKey(CKK_AES, kAesKey);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(session, &m, key));
    Bytes in(16, 1), out(16);
    CK_ULONG len = out.size();
    ASSERT_RV(CKR_OK, p11->C_DecryptUpdate(session, in.data(), 16, out.data(), &len));
    EXPECT_EQ(len, 0u);
    len = out.size();
    EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_DecryptFinal(session, out.data(), &len));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_DecryptFinal(session, out.data(), &len));
}

TEST_F(CryptoKeys, SecretMaterialStaysOutOfTheLog) {
    Bytes value = hex::bytes("a1b2c3d4e5f60718293a4b5c6d7e8f90");
    CK_OBJECT_HANDLE key = secretKey(CKK_AES, value);
    const auto& rsa = rsaKey(1024);
    CK_OBJECT_HANDLE priv = privateKey(rsa);
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    Bytes out;
    ASSERT_RV(CKR_OK, encrypt(ecb, key, kAesPlain, out));
    Bytes sig;
    ASSERT_RV(CKR_OK, sign(CKM_SHA1_RSA_PKCS, priv, bytesOf("abc"), sig));
    std::string log = logText();
    ASSERT_NE(log.find("C_EncryptInit"), std::string::npos);
    std::string secret = hex::text(Bytes(value.begin(), value.begin() + 6));
    Bytes exponent = encode(rsa.GetPrivateExponent());
    std::string d = hex::text(Bytes(exponent.begin(), exponent.begin() + 6));
    for (std::string s : {secret, d}) {
        std::string upper = s;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        EXPECT_EQ(log.find(s), std::string::npos) << s;
        EXPECT_EQ(log.find(upper), std::string::npos) << upper;
    }
}

}  // namespace

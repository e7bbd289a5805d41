// The configuration key "mechanisms" through the loaded provider, on the
// simulated card: without it the mechanism list is exactly the classic one
// and the new mechanisms are unknown; with "extended" they are listed, and
// their results are checked with Crypto++ computations of the test's own.
#include <cryptopp/oaep.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pssr.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <string>
#include <vector>

#include "../support/Hex.h"
#include "ProviderFixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

const CK_MECHANISM_TYPE kClassic[19] = {CKM_RSA_PKCS,
                                        CKM_RSA_PKCS_KEY_PAIR_GEN,
                                        CKM_MD2_RSA_PKCS,
                                        CKM_MD5_RSA_PKCS,
                                        CKM_SHA1_RSA_PKCS,
                                        CKM_MD2,
                                        CKM_MD5,
                                        CKM_SHA_1,
                                        CKM_VENDOR_RSA_RAW,
                                        CKM_RSA_X_509,
                                        CKM_DES_CBC,
                                        CKM_DES_ECB,
                                        CKM_DES_KEY_GEN,
                                        CKM_DES3_CBC,
                                        CKM_DES3_ECB,
                                        CKM_DES3_KEY_GEN,
                                        CKM_AES_CBC,
                                        CKM_AES_ECB,
                                        CKM_AES_KEY_GEN};

const CK_MECHANISM_TYPE kExtended[] = {CKM_SHA224,
                                       CKM_SHA256,
                                       CKM_SHA384,
                                       CKM_SHA512,
                                       CKM_SHA224_RSA_PKCS,
                                       CKM_SHA256_RSA_PKCS,
                                       CKM_SHA384_RSA_PKCS,
                                       CKM_SHA512_RSA_PKCS,
                                       CKM_RSA_PKCS_PSS,
                                       CKM_SHA1_RSA_PKCS_PSS,
                                       CKM_SHA224_RSA_PKCS_PSS,
                                       CKM_SHA256_RSA_PKCS_PSS,
                                       CKM_SHA384_RSA_PKCS_PSS,
                                       CKM_SHA512_RSA_PKCS_PSS,
                                       CKM_RSA_PKCS_OAEP,
                                       CKM_AES_CBC_PAD};

Bytes encode(const CryptoPP::Integer& i) {
    Bytes out(i.MinEncodedSize());
    i.Encode(out.data(), out.size());
    return out;
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const CryptoPP::InvertibleRSAFunction& rsa2048() {
    static CryptoPP::InvertibleRSAFunction* key = [] {
        CryptoPP::AutoSeededRandomPool rng;
        auto* k = new CryptoPP::InvertibleRSAFunction;
        k->Initialize(rng, 2048, CryptoPP::Integer(65537));
        return k;
    }();
    return *key;
}

class Mechanisms : public ProviderFixture {
protected:
    // Loads with the given "mechanisms" line (none when empty).
    void start(const std::string& line) {
        writeConfig(line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
        startWithCard();
        session = openSession();
    }

    std::vector<CK_MECHANISM_TYPE> list() {
        CK_ULONG count = 0;
        EXPECT_RV(CKR_OK, p11->C_GetMechanismList(m_slot, nullptr, &count));
        std::vector<CK_MECHANISM_TYPE> types(count);
        EXPECT_RV(CKR_OK, p11->C_GetMechanismList(m_slot, types.data(), &count));
        types.resize(count);
        return types;
    }

    CK_OBJECT_HANDLE keyObject(CK_OBJECT_CLASS cls, const CryptoPP::InvertibleRSAFunction& rsa) {
        CK_KEY_TYPE type = CKK_RSA;
        CK_BBOOL token = cls == CKO_PRIVATE_KEY ? CK_TRUE : CK_FALSE;
        Bytes n = encode(rsa.GetModulus()), e = encode(rsa.GetPublicExponent()),
              d = encode(rsa.GetPrivateExponent());
        unsigned char id[] = {0x18};
        std::vector<CK_ATTRIBUTE> t = {
            {CKA_CLASS, &cls, sizeof cls},
            {CKA_KEY_TYPE, &type, sizeof type},
            {CKA_TOKEN, &token, sizeof token},
            {CKA_ID, id, sizeof id},
            {CKA_MODULUS, n.data(), static_cast<CK_ULONG>(n.size())},
            {CKA_PUBLIC_EXPONENT, e.data(), static_cast<CK_ULONG>(e.size())}};
        if (cls == CKO_PRIVATE_KEY)
            t.push_back({CKA_PRIVATE_EXPONENT, d.data(), static_cast<CK_ULONG>(d.size())});
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t.data(), t.size(), &h));
        return h;
    }

    CK_OBJECT_HANDLE aesKey(const Bytes& value) {
        CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
        CK_KEY_TYPE type = CKK_AES;
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

    CK_RV sign(CK_MECHANISM m, CK_OBJECT_HANDLE key, const Bytes& data, Bytes& sig) {
        CK_RV rv = p11->C_SignInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        CK_ULONG len = 0;
        rv = p11->C_Sign(session, const_cast<unsigned char*>(data.data()), data.size(), nullptr,
                         &len);
        if (rv != CKR_OK) return rv;
        sig.assign(len, 0);
        rv = p11->C_Sign(session, const_cast<unsigned char*>(data.data()), data.size(), sig.data(),
                         &len);
        sig.resize(rv == CKR_OK ? len : 0);
        return rv;
    }

    CK_RV verify(CK_MECHANISM m, CK_OBJECT_HANDLE key, const Bytes& data, const Bytes& sig) {
        CK_RV rv = p11->C_VerifyInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        return p11->C_Verify(session, const_cast<unsigned char*>(data.data()), data.size(),
                             const_cast<unsigned char*>(sig.data()), sig.size());
    }

    // Encrypt or decrypt in one call, output sized by a length query first.
    CK_RV crypt(bool encrypt, CK_MECHANISM m, CK_OBJECT_HANDLE key, const Bytes& in, Bytes& out) {
        CK_RV rv =
            encrypt ? p11->C_EncryptInit(session, &m, key) : p11->C_DecryptInit(session, &m, key);
        if (rv != CKR_OK) return rv;
        auto call = encrypt ? p11->C_Encrypt : p11->C_Decrypt;
        CK_ULONG len = 0;
        rv = call(session, const_cast<unsigned char*>(in.data()), in.size(), nullptr, &len);
        if (rv != CKR_OK) return rv;
        out.assign(len, 0);
        rv = call(session, const_cast<unsigned char*>(in.data()), in.size(), out.data(), &len);
        out.resize(rv == CKR_OK ? len : 0);
        return rv;
    }

    CK_SESSION_HANDLE session = 0;
};

TEST_F(Mechanisms, WithoutTheKeyTheListIsExactlyTheClassicOne) {
    for (const char* line : {"", "mechanisms=classic", "mechanisms=Extended", "mechanisms="}) {
        start(line);
        EXPECT_EQ(list(), std::vector<CK_MECHANISM_TYPE>(kClassic, kClassic + 19)) << line;
        CK_MECHANISM_INFO info = {};
        for (CK_MECHANISM_TYPE t : kExtended)
            EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_GetMechanismInfo(m_slot, t, &info)) << t;
        ASSERT_RV(CKR_OK, p11->C_GetMechanismInfo(m_slot, CKM_RSA_X_509, &info));
        EXPECT_EQ(info.flags & CKF_SIGN, 0u);

        // In use too: the new mechanisms are unknown.
        login(session);
        CK_OBJECT_HANDLE priv = keyObject(CKO_PRIVATE_KEY, rsa2048());
        CK_MECHANISM sha256 = {CKM_SHA256, nullptr, 0};
        EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_DigestInit(session, &sha256));
        CK_MECHANISM raw = {CKM_RSA_X_509, nullptr, 0};
        EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_SignInit(session, &raw, priv));
        unsigned char iv[16] = {};
        CK_MECHANISM pad = {CKM_AES_CBC_PAD, iv, sizeof iv};
        EXPECT_RV(CKR_MECHANISM_INVALID, p11->C_EncryptInit(session, &pad, aesKey(Bytes(16, 1))));
        unloadProvider();
    }
}

TEST_F(Mechanisms, ExtendedListsTheNewOnesAfterTheClassic19) {
    start("mechanisms=extended");
    std::vector<CK_MECHANISM_TYPE> want(kClassic, kClassic + 19);
    want.insert(want.end(), std::begin(kExtended), std::end(kExtended));
    EXPECT_EQ(list(), want);
    CK_ULONG short_ = 19;
    std::vector<CK_MECHANISM_TYPE> some(19);
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, p11->C_GetMechanismList(m_slot, some.data(), &short_));
    EXPECT_EQ(short_, want.size());

    struct {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    } rows[] = {
        {CKM_SHA256, 0, 0, CKF_DIGEST},
        {CKM_SHA256_RSA_PKCS_PSS, 1024, 4096, CKF_HW | CKF_SIGN | CKF_VERIFY},
        {CKM_RSA_PKCS_OAEP, 1024, 4096, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP},
        {CKM_AES_CBC_PAD, 16, 32, CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP},
    };
    for (const auto& r : rows) {
        CK_MECHANISM_INFO info = {};
        ASSERT_RV(CKR_OK, p11->C_GetMechanismInfo(m_slot, r.type, &info));
        EXPECT_EQ(info.ulMinKeySize, r.min) << r.type;
        EXPECT_EQ(info.ulMaxKeySize, r.max) << r.type;
        EXPECT_EQ(info.flags, r.flags) << r.type;
    }
    CK_MECHANISM_INFO raw = {};
    ASSERT_RV(CKR_OK, p11->C_GetMechanismInfo(m_slot, CKM_RSA_X_509, &raw));
    EXPECT_EQ(raw.flags & (CKF_SIGN | CKF_VERIFY | CKF_DECRYPT),
              CKF_SIGN | CKF_VERIFY | CKF_DECRYPT);
}

TEST_F(Mechanisms, Sha2DigestsThroughTheProvider) {
    start("mechanisms=extended");
    struct {
        CK_MECHANISM_TYPE type;
        const char* hash;
    } cases[] = {
        {CKM_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {CKM_SHA384,
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca13"
         "4c8"
         "25a7"},
    };
    for (const auto& c : cases) {
        CK_MECHANISM m = {c.type, nullptr, 0};
        ASSERT_RV(CKR_OK, p11->C_DigestInit(session, &m));
        CK_ULONG len = 0;
        Bytes abc = bytesOf("abc");
        ASSERT_RV(CKR_OK, p11->C_Digest(session, abc.data(), 3, nullptr, &len));
        Bytes out(len);
        ASSERT_RV(CKR_OK, p11->C_Digest(session, abc.data(), 3, out.data(), &len));
        EXPECT_EQ(hex::text(out.data(), len), c.hash);
    }
}

TEST_F(Mechanisms, Sha256Pkcs1AndPssSignaturesVerifyWithCryptopp) {
    start("mechanisms=extended");
    login(session);
    const auto& rsa = rsa2048();
    CK_OBJECT_HANDLE priv = keyObject(CKO_PRIVATE_KEY, rsa), pub = keyObject(CKO_PUBLIC_KEY, rsa);
    const Bytes data = bytesOf("TLS 1.3 signs with PSS");

    Bytes sig;
    CK_MECHANISM pkcs = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, sign(pkcs, priv, data, sig));
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA256>::Verifier v15(rsa);
    EXPECT_TRUE(v15.VerifyMessage(data.data(), data.size(), sig.data(), sig.size()));
    EXPECT_RV(CKR_OK, verify(pkcs, pub, data, sig));

    CK_RSA_PKCS_PSS_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_MECHANISM pss = {CKM_SHA256_RSA_PKCS_PSS, &params, sizeof params};
    ASSERT_RV(CKR_OK, sign(pss, priv, data, sig));
    ASSERT_EQ(sig.size(), 256u);
#ifndef _WIN32
    // The Windows build's Crypto++ leaves out its PSS (pssr.cpp): this
    // cross-check runs on Linux.
    CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Verifier vPss(rsa);
    EXPECT_TRUE(vPss.VerifyMessage(data.data(), data.size(), sig.data(), sig.size()));
#endif
    EXPECT_RV(CKR_OK, verify(pss, pub, data, sig));
    Bytes bad = sig;
    bad[100] ^= 4;
    EXPECT_RV(CKR_SIGNATURE_INVALID, verify(pss, pub, data, bad));

    // Over a prepared hash: the same signature scheme.
    CK_MECHANISM prepared = {CKM_RSA_PKCS_PSS, &params, sizeof params};
    Bytes hash(32);
    CryptoPP::SHA256().CalculateDigest(hash.data(), data.data(), data.size());
    ASSERT_RV(CKR_OK, sign(prepared, priv, hash, sig));
    EXPECT_RV(CKR_OK, verify(pss, pub, data, sig));
#ifndef _WIN32
    EXPECT_TRUE(vPss.VerifyMessage(data.data(), data.size(), sig.data(), sig.size()));
    // Crypto++'s signature verifies here.
    CryptoPP::AutoSeededRandomPool rng;
    CryptoPP::RSASS<CryptoPP::PSS, CryptoPP::SHA256>::Signer signer(rsa);
    Bytes theirs(signer.MaxSignatureLength());
    theirs.resize(signer.SignMessage(rng, data.data(), data.size(), theirs.data()));
    EXPECT_RV(CKR_OK, verify(prepared, pub, hash, theirs));
#endif
}

TEST_F(Mechanisms, BadParametersAreParamInvalid) {
    start("mechanisms=extended");
    login(session);
    const auto& rsa = rsa2048();
    CK_OBJECT_HANDLE priv = keyObject(CKO_PRIVATE_KEY, rsa), pub = keyObject(CKO_PUBLIC_KEY, rsa);
    CK_RSA_PKCS_PSS_PARAMS wrongSalt = {CKM_SHA256, CKG_MGF1_SHA256, 256 - 32 - 1};
    CK_RSA_PKCS_PSS_PARAMS mismatched = {CKM_SHA384, CKG_MGF1_SHA384, 48};
    CK_RSA_PKCS_PSS_PARAMS good = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_RSA_PKCS_OAEP_PARAMS oaepGood = {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0};
    CK_RSA_PKCS_OAEP_PARAMS oaepLabel = {CKM_SHA_1, CKG_MGF1_SHA1, 7, nullptr, 0};
    struct {
        const char* what;
        CK_MECHANISM m;
        bool sign;
    } cases[] = {
        {"salt too long for the key",
         {CKM_SHA256_RSA_PKCS_PSS, &wrongSalt, sizeof wrongSalt},
         true},
        {"hash other than the mechanism's",
         {CKM_SHA256_RSA_PKCS_PSS, &mismatched, sizeof mismatched},
         true},
        {"short PSS structure", {CKM_SHA256_RSA_PKCS_PSS, &good, sizeof good - 1}, true},
        {"no PSS structure", {CKM_RSA_PKCS_PSS, nullptr, 0}, true},
        {"short OAEP structure", {CKM_RSA_PKCS_OAEP, &oaepGood, sizeof oaepGood - 1}, false},
        {"OAEP label source we do not support",
         {CKM_RSA_PKCS_OAEP, &oaepLabel, sizeof oaepLabel},
         false},
    };
    for (auto& c : cases) {
        if (c.sign) {
            EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, p11->C_SignInit(session, &c.m, priv)) << c.what;
            EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, p11->C_VerifyInit(session, &c.m, pub)) << c.what;
        } else {
            EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, p11->C_EncryptInit(session, &c.m, pub))
                << c.what;
            EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, p11->C_DecryptInit(session, &c.m, priv))
                << c.what;
        }
    }
    // Nothing was left running.
    CK_MECHANISM ok = {CKM_SHA256_RSA_PKCS_PSS, &good, sizeof good};
    EXPECT_RV(CKR_OK, p11->C_SignInit(session, &ok, priv));
}

TEST_F(Mechanisms, OaepBothWaysWithCryptoppAndOneErrorForBadCiphertexts) {
    start("mechanisms=extended");
    login(session);
    const auto& rsa = rsa2048();
    CK_OBJECT_HANDLE priv = keyObject(CKO_PRIVATE_KEY, rsa), pub = keyObject(CKO_PUBLIC_KEY, rsa);
    CK_RSA_PKCS_OAEP_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, nullptr, 0};
    CK_MECHANISM oaep = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
    const Bytes secret = bytesOf("an AES key, say");
    CryptoPP::AutoSeededRandomPool rng;

    Bytes c;
    ASSERT_RV(CKR_OK, crypt(true, oaep, pub, secret, c));
    ASSERT_EQ(c.size(), 256u);
    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA256>>::Decryptor theirDecryptor(rsa);
    Bytes plain(theirDecryptor.MaxPlaintextLength(c.size()));
    CryptoPP::DecodingResult r = theirDecryptor.Decrypt(rng, c.data(), c.size(), plain.data());
    ASSERT_TRUE(r.isValidCoding);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + r.messageLength), secret);

    CryptoPP::RSAES<CryptoPP::OAEP<CryptoPP::SHA256>>::Encryptor theirEncryptor(rsa);
    Bytes theirs(theirEncryptor.CiphertextLength(secret.size()));
    theirEncryptor.Encrypt(rng, secret.data(), secret.size(), theirs.data());
    Bytes back;
    ASSERT_RV(CKR_OK, crypt(false, oaep, priv, theirs, back));
    EXPECT_EQ(back, secret);

    for (size_t i : {size_t(0), size_t(1), size_t(128), size_t(255)}) {
        Bytes bad = theirs;
        bad[i] ^= 0x10;
        EXPECT_RV(CKR_ENCRYPTED_DATA_INVALID, crypt(false, oaep, priv, bad, back)) << i;
    }
    // SHA-1 OAEP with a label: what we encrypt we decrypt, another label fails.
    unsigned char label[] = {'q', 'l'};
    CK_RSA_PKCS_OAEP_PARAMS labelled = {CKM_SHA_1, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, label, 2};
    CK_MECHANISM withLabel = {CKM_RSA_PKCS_OAEP, &labelled, sizeof labelled};
    ASSERT_RV(CKR_OK, crypt(true, withLabel, pub, secret, c));
    ASSERT_RV(CKR_OK, crypt(false, withLabel, priv, c, back));
    EXPECT_EQ(back, secret);
    label[0] = 'Q';
    EXPECT_RV(CKR_ENCRYPTED_DATA_INVALID, crypt(false, withLabel, priv, c, back));

    // An AES key wrapped under the public key comes back under the private key.
    CK_OBJECT_HANDLE aes = aesKey(Bytes(32, 0x3C));
    CK_ULONG wrappedLen = 0;
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &oaep, pub, aes, nullptr, &wrappedLen));
    Bytes wrapped(wrappedLen);
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &oaep, pub, aes, wrapped.data(), &wrappedLen));
    EXPECT_EQ(wrappedLen, 256u);
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_AES;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_KEY_TYPE, &type, sizeof type},
                        {CKA_TOKEN, &no, sizeof no}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_RV(CKR_OK,
              p11->C_UnwrapKey(session, &oaep, priv, wrapped.data(), wrappedLen, t, 3, &unwrapped));
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    Bytes viaOriginal, viaUnwrapped;
    ASSERT_RV(CKR_OK, crypt(true, ecb, aes, Bytes(16, 0x77), viaOriginal));
    ASSERT_RV(CKR_OK, crypt(true, ecb, unwrapped, Bytes(16, 0x77), viaUnwrapped));
    EXPECT_EQ(viaUnwrapped, viaOriginal);
}

TEST_F(Mechanisms, RawRsaSigningLeftPadsShortInput) {
    start("mechanisms=extended");
    login(session);
    const auto& rsa = rsa2048();
    CK_OBJECT_HANDLE priv = keyObject(CKO_PRIVATE_KEY, rsa), pub = keyObject(CKO_PUBLIC_KEY, rsa);
    CK_MECHANISM raw = {CKM_RSA_X_509, nullptr, 0};
    Bytes data = {0x01, 0x02, 0x03}, sig;
    ASSERT_RV(CKR_OK, sign(raw, priv, data, sig));
    ASSERT_EQ(sig.size(), 256u);
    CryptoPP::Integer m = rsa.ApplyFunction(CryptoPP::Integer(sig.data(), sig.size()));
    EXPECT_EQ(m, CryptoPP::Integer(0x010203));
    EXPECT_RV(CKR_OK, verify(raw, pub, data, sig));
    Bytes padded(253, 0);
    padded.insert(padded.end(), data.begin(), data.end());
    EXPECT_RV(CKR_OK, verify(raw, pub, padded, sig));
    EXPECT_RV(CKR_SIGNATURE_INVALID, verify(raw, pub, bytesOf("xyz"), sig));
    // Longer than the modulus, or a number not below it.
    EXPECT_RV(CKR_DATA_LEN_RANGE, sign(raw, priv, Bytes(257, 1), sig));
    EXPECT_RV(CKR_DATA_INVALID, sign(raw, priv, Bytes(256, 0xFF), sig));
}

TEST_F(Mechanisms, AesCbcPadInPartsAndForWrapping) {
    start("mechanisms=extended");
    const Bytes key16 = hex::bytes("000102030405060708090a0b0c0d0e0f");
    CK_OBJECT_HANDLE aes = aesKey(key16);
    unsigned char iv[16] = {};
    CK_MECHANISM pad = {CKM_AES_CBC_PAD, iv, sizeof iv};
    Bytes c;
    ASSERT_RV(CKR_OK, crypt(true, pad, aes, bytesOf("abc"), c));
    EXPECT_EQ(hex::text(c), "b08b1f809a035064420d1d754022ab55");  // openssl enc -aes-128-cbc

    // 40 bytes in parts of 7: whole blocks come out as they fill.
    Bytes plain(40);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i);
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(session, &pad, aes));
    Bytes parts;
    for (size_t at = 0; at < plain.size(); at += 7) {
        CK_ULONG n = std::min<size_t>(7, plain.size() - at), len = 64;
        Bytes out(len);
        ASSERT_RV(CKR_OK, p11->C_EncryptUpdate(session, plain.data() + at, n, out.data(), &len));
        parts.insert(parts.end(), out.begin(), out.begin() + len);
    }
    CK_ULONG len = 64;
    Bytes last(len);
    ASSERT_RV(CKR_OK, p11->C_EncryptFinal(session, last.data(), &len));
    EXPECT_EQ(len, 16u);
    parts.insert(parts.end(), last.begin(), last.begin() + len);
    ASSERT_EQ(parts.size(), 48u);
    Bytes back;
    ASSERT_RV(CKR_OK, crypt(false, pad, aes, parts, back));
    EXPECT_EQ(back, plain);
    parts.back() ^= 1;
    EXPECT_RV(CKR_ENCRYPTED_DATA_INVALID, crypt(false, pad, aes, parts, back));

    // A 24-byte AES key wrapped takes two blocks and comes back whole.
    const Bytes key24(24, 0x5C);
    CK_OBJECT_HANDLE inner = aesKey(key24);
    CK_ULONG wrappedLen = 0;
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &pad, aes, inner, nullptr, &wrappedLen));
    Bytes wrapped(wrappedLen);
    ASSERT_RV(CKR_OK, p11->C_WrapKey(session, &pad, aes, inner, wrapped.data(), &wrappedLen));
    EXPECT_EQ(wrappedLen, 32u);
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_AES;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_KEY_TYPE, &type, sizeof type},
                        {CKA_TOKEN, &no, sizeof no}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_RV(CKR_OK,
              p11->C_UnwrapKey(session, &pad, aes, wrapped.data(), wrappedLen, t, 3, &unwrapped));
    // The same key: it encrypts as the original does.
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    Bytes viaOriginal, viaUnwrapped;
    ASSERT_RV(CKR_OK, crypt(true, ecb, inner, Bytes(16, 0x77), viaOriginal));
    ASSERT_RV(CKR_OK, crypt(true, ecb, unwrapped, Bytes(16, 0x77), viaUnwrapped));
    EXPECT_EQ(viaUnwrapped, viaOriginal);
}

}  // namespace

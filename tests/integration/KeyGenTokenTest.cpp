// RSA key pairs generated on the virtual token: modulus lengths, the token
// flag, key IDs and container names from the key path, the default
// container, and a signature checked with Crypto++ outside the provider.
#if defined(ZT_LIBRARY_PATH) && defined(ZT_ADMIN_PATH)

#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <cstdlib>
#include <string>

#include "ObjectTestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;
const char* kZtReader = "KeyGen Reader";

class KeyGenToken : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        m_home = scratch("zt-home");
        setenv("ZT_HOME", m_home.c_str(), 1);
        admin("reader add '" + std::string(kZtReader) + "'");
        admin("card new '" + std::string(kZtReader) + "' --user-pin 1234 --so-pin 87654321");
        writeConfig({std::string("zt=") + ZT_LIBRARY_PATH});
        loadProvider();
        ASSERT_NE(p11, nullptr);
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        m_slot = slotIdOf(kZtReader);
        session = openSession();
        login(session);
    }
    void TearDown() override {
        ProviderFixture::TearDown();
        unsetenv("ZT_HOME");
    }
    void admin(const std::string& args) {
        std::string cmd = std::string(ZT_ADMIN_PATH) + " --home '" + m_home + "' " + args;
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    }

    CK_RV generate(Tmpl pub, Tmpl priv, CK_OBJECT_HANDLE* hPub, CK_OBJECT_HANDLE* hPriv) {
        CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return p11->C_GenerateKeyPair(session, &m, pub.get(), pub.count(), priv.get(), priv.count(),
                                      hPub, hPriv);
    }
    Bytes value(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
        Bytes buffer(1024);
        CK_ATTRIBUTE a = {type, buffer.data(), buffer.size()};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(session, h, &a, 1));
        buffer.resize(a.ulValueLen == static_cast<CK_ULONG>(-1) ? 0 : a.ulValueLen);
        return buffer;
    }
    bool isDefault(CK_OBJECT_HANDLE h) { return value(h, CKA_CONTAINER_DEFAULT).at(0) == 1; }

    std::string m_home;
    CK_SESSION_HANDLE session = 0;
};

Tmpl with(CK_ATTRIBUTE_TYPE type, bool flag) {
    Tmpl t;
    t.flag(type, flag);
    return t;
}

TEST_F(KeyGenToken, PairsFromTheTokenWithIdsContainersAndWorkingKeys) {
    // The token flag in the public template only; no modulus length given.
    CK_OBJECT_HANDLE pub1 = 0, priv1 = 0;
    ASSERT_RV(CKR_OK, generate(with(CKA_TOKEN, true), with(CKA_SIGN, true), &pub1, &priv1));
    EXPECT_EQ(value(priv1, CKA_TOKEN).at(0), CK_TRUE);
    EXPECT_EQ(value(pub1, CKA_MODULUS).size(), 128u);
    Bytes id = value(priv1, CKA_ID);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(value(pub1, CKA_ID), id);
    Bytes name = value(priv1, CKA_CONTAINER_NAME);
    EXPECT_EQ(std::string(name.begin(), name.end()),
              "Container" + std::string(id.begin(), id.end()));
    EXPECT_TRUE(isDefault(priv1));

    // Now in the private template only: the newest pair is the only default.
    CK_OBJECT_HANDLE pub2 = 0, priv2 = 0;
    Tmpl bits;
    bits.ulong(CKA_MODULUS_BITS, 2048);
    ASSERT_RV(CKR_OK, generate(bits, with(CKA_TOKEN, true), &pub2, &priv2));
    EXPECT_EQ(value(pub2, CKA_TOKEN).at(0), CK_TRUE);
    EXPECT_NE(value(priv2, CKA_ID), id);
    EXPECT_TRUE(isDefault(priv2) && isDefault(pub2));
    EXPECT_FALSE(isDefault(priv1) || isDefault(pub1));

    // The private key answers the token's modulus; a signature made with it
    // verifies with the public values alone.
    Bytes n = value(priv2, CKA_MODULUS);
    EXPECT_EQ(n, value(pub2, CKA_MODULUS));
    EXPECT_EQ(n.size(), 256u);
    Bytes e = value(pub2, CKA_PUBLIC_EXPONENT);
    const std::string message = "generated on the token";
    CK_MECHANISM sign = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_SignInit(session, &sign, priv2));
    Bytes signature(512);
    CK_ULONG length = signature.size();
    ASSERT_RV(CKR_OK, p11->C_Sign(session, (CK_BYTE_PTR)message.data(), message.size(),
                                  signature.data(), &length));
    signature.resize(length);
    CryptoPP::RSA::PublicKey key;
    key.Initialize(CryptoPP::Integer(n.data(), n.size()), CryptoPP::Integer(e.data(), e.size()));
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier verifier(key);
    EXPECT_TRUE(verifier.VerifyMessage(reinterpret_cast<const CryptoPP::byte*>(message.data()),
                                       message.size(), signature.data(), signature.size()));

    // Neither template asks for the token: no session pairs.
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT,
              generate(with(CKA_TOKEN, false), with(CKA_SIGN, true), &pub2, &priv2));
}

TEST_F(KeyGenToken, ModulusOf4096BitsIsTheLargest) {
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Tmpl tooLong = with(CKA_TOKEN, true);
    tooLong.ulong(CKA_MODULUS_BITS, 4097);
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, generate(tooLong, with(CKA_SIGN, true), &pub, &priv));
    Tmpl longest = with(CKA_TOKEN, true);
    longest.ulong(CKA_MODULUS_BITS, 4096);
    ASSERT_RV(CKR_OK, generate(longest, with(CKA_SIGN, true), &pub, &priv));
    EXPECT_EQ(value(priv, CKA_MODULUS).size(), 512u);
}

}  // namespace

#endif

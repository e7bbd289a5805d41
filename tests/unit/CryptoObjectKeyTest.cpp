// Token objects seen as keys by the cryptographic operations.
#include <gtest/gtest.h>

#include <vector>

#include "C11Data.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "ObjectKey.h"

namespace {

constexpr ZT_HANDLE kConnection = 0x4242;

CK_RV apply(C11Object& object, std::vector<CK_ATTRIBUTE> attributes) {
    CAttributeVector v;
    for (CK_ATTRIBUTE& a : attributes) v.addElement(&a);
    return object.setAttributes(CK_TRUE, v);
}

TEST(CryptoObjectKey, SecretKeyClassTypeFlagsAndValue) {
    C11SecretKey secret(kConnection);
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE type = CKK_AES;
    CK_BBOOL no = CK_FALSE;
    unsigned char value[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(apply(secret, {{CKA_CLASS, &cls, sizeof cls},
                             {CKA_KEY_TYPE, &type, sizeof type},
                             {CKA_ENCRYPT, &no, sizeof no},
                             {CKA_VALUE, value, sizeof value}}),
              CKR_OK);
    CObjectKey key(secret);
    EXPECT_EQ(key.keyClass(), static_cast<CK_OBJECT_CLASS>(CKO_SECRET_KEY));
    EXPECT_EQ(key.keyType(), static_cast<CK_KEY_TYPE>(CKK_AES));
    EXPECT_FALSE(key.allowsEncrypt());
    EXPECT_TRUE(key.allowsDecrypt());  // the default
    OrlByteArray out;
    ASSERT_EQ(key.getValue(out), CKR_OK);
    EXPECT_EQ(out, OrlByteArray(value, sizeof value));
    OrlByteArray none;
    EXPECT_EQ(key.getModulus(none), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(key.getPublicExponent(none), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(none.getLength(), 0u);
}

TEST(CryptoObjectKey, RsaPublicKeyMaterial) {
    C11RSAPublicKey pub(kConnection);
    CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
    unsigned char n[] = {0xC1, 0x02, 0x03, 0x05}, e[] = {0x01, 0x00, 0x01};
    ASSERT_EQ(apply(pub, {{CKA_CLASS, &cls, sizeof cls},
                          {CKA_MODULUS, n, sizeof n},
                          {CKA_PUBLIC_EXPONENT, e, sizeof e}}),
              CKR_OK);
    CObjectKey key(pub);
    EXPECT_EQ(key.keyClass(), static_cast<CK_OBJECT_CLASS>(CKO_PUBLIC_KEY));
    EXPECT_EQ(key.keyType(), static_cast<CK_KEY_TYPE>(CKK_RSA));
    EXPECT_TRUE(key.allowsEncrypt());
    OrlByteArray modulus, exponent, value;
    ASSERT_EQ(key.getModulus(modulus), CKR_OK);
    ASSERT_EQ(key.getPublicExponent(exponent), CKR_OK);
    EXPECT_EQ(modulus, OrlByteArray(n, sizeof n));
    EXPECT_EQ(exponent, OrlByteArray(e, sizeof e));
    EXPECT_EQ(key.getValue(value), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_STREQ(key.path(), "");  // a session key has no place on the token
}

TEST(CryptoObjectKey, AnObjectThatIsNoKey) {
    C11Data data(kConnection);
    CK_OBJECT_CLASS cls = CKO_DATA;
    ASSERT_EQ(apply(data, {{CKA_CLASS, &cls, sizeof cls}}), CKR_OK);
    CObjectKey key(data);
    EXPECT_EQ(key.keyType(), CK_UNAVAILABLE_INFORMATION);
    EXPECT_FALSE(key.allowsEncrypt());
    EXPECT_FALSE(key.allowsDecrypt());
}

}  // namespace

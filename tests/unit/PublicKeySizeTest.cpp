// CKA_MODULUS_BITS of an RSA public key read back from the card. Clients size
// signatures and raw RSA blocks by it (pkcs11-tool lists "RSA 1024 bits" and
// rejects 256-byte signatures when a 2048-bit key answers 1024).

#include <gtest/gtest.h>

#include <cryptopp/integer.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>

#include <vector>

#include "C11RSAPublicKey.h"
#include "ObjectDirectory.h"
#include "ObjectTestCard.h"

namespace {

typedef std::vector<unsigned char> Bytes;
constexpr ZT_HANDLE kConnection = 0x5150;

Bytes publicKeyDer(size_t modulusBytes) {
    Bytes modulus(modulusBytes, 0xC3);
    modulus.back() = 0xC5;
    CryptoPP::RSA::PublicKey key;
    key.Initialize(CryptoPP::Integer(modulus.data(), modulus.size()), CryptoPP::Integer(65537));
    CryptoPP::ByteQueue queue;
    key.DEREncode(queue);
    Bytes der(queue.MaxRetrievable());
    queue.Get(der.data(), der.size());
    return der;
}

CK_ULONG modulusBits(C11Object& key, CK_RV* rv = nullptr) {
    CK_ULONG bits = 0;
    CK_ATTRIBUTE a{CKA_MODULUS_BITS, &bits, sizeof(bits)};
    CAttributeVector v;
    v.addElement(&a);
    CK_RV r = key.getAttributes(v);
    if (rv) *rv = r;
    return bits;
}

// A 2048-bit token public key written to the directory and read back.
C11Object* reloadedPublicKey(CObjectTable& table) {
    C11RSAPublicKey* key = new C11RSAPublicKey(kConnection);
    TemplateBuilder t;
    t.flag(CKA_TOKEN, true).bytes(CKA_ID, {1}).bytes(CKA_MODULUS, Bytes(256, 0xC3));
    EXPECT_EQ(applyTemplate(*key, t), CKR_OK);
    EXPECT_EQ(modulusBits(*key), 2048u);
    key->setPath("12");
    unsigned long number = key->getHandle();
    table.put(number, key);
    EXPECT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    table.removeTokenObjects();
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    C11Object* read = nullptr;
    table.get(number, read);
    return read;
}

TEST(PublicKeySize, ReloadedKeyAnswersTheSizeOfTheTokensModulus) {
    ObjectTestCard card;
    card.publicKeyDer = publicKeyDer(256);
    CObjectTable table;
    C11Object* read = reloadedPublicKey(table);
    ASSERT_NE(read, nullptr);
    CK_RV rv = 0;
    EXPECT_EQ(modulusBits(*read, &rv), 2048u);
    EXPECT_EQ(rv, CKR_OK);
    EXPECT_EQ(card.count("getPublicKey"), 1u);
    EXPECT_EQ(card.calls.back().path, "12");
    // Loaded once: the modulus is kept.
    EXPECT_EQ(modulusBits(*read), 2048u);
    EXPECT_EQ(card.count("getPublicKey"), 1u);
}

TEST(PublicKeySize, ModulusLoadedFirstSetsTheSize) {
    ObjectTestCard card;
    card.publicKeyDer = publicKeyDer(384);
    CObjectTable table;
    C11Object* read = reloadedPublicKey(table);
    ASSERT_NE(read, nullptr);
    OrlByteArray modulus;
    ASSERT_EQ(static_cast<C11RSAPublicKey*>(read)->getModulus(modulus), CKR_OK);
    EXPECT_EQ(modulus.getLength(), 384u);
    EXPECT_EQ(modulusBits(*read), 3072u);
}

TEST(PublicKeySize, LengthQueryAndUnreadableKeyLeaveTheCardAlone) {
    ObjectTestCard card;
    card.publicKeyDer = publicKeyDer(256);
    CObjectTable table;
    C11Object* read = reloadedPublicKey(table);
    ASSERT_NE(read, nullptr);
    CK_ATTRIBUTE query{CKA_MODULUS_BITS, nullptr, 0};
    CAttributeVector v;
    v.addElement(&query);
    EXPECT_EQ(read->getAttributes(v), CKR_OK);
    EXPECT_EQ(query.ulValueLen, sizeof(CK_ULONG));
    EXPECT_EQ(card.count("getPublicKey"), 0u);

    // The card cannot give the key: the answer falls back to the stored size.
    card.publicKeyStatus = 0x6A82;
    CK_RV rv = 0;
    EXPECT_EQ(modulusBits(*read, &rv), 1024u);
    EXPECT_EQ(rv, CKR_OK);
}

}  // namespace

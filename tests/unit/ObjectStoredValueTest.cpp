// The stored-value protocol through an in-process card table: access classes,
// adding once, replacing after a change, statuses 7 and 9, fetch failures, and
// the public values of RSA keys fetched with ZT_getPublicKey.
#include <gtest/gtest.h>

#include <cryptopp/integer.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>

#include <vector>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "ObjectDirectory.h"
#include "ObjectTestCard.h"

namespace {

typedef std::vector<unsigned char> Bytes;
constexpr ZT_HANDLE kConnection = 0x9090;

Bytes valueOf(C11Object& object, CK_RV* rv = nullptr) {
    Bytes buffer(4096);
    CK_ATTRIBUTE a{CKA_VALUE, buffer.data(), static_cast<CK_ULONG>(buffer.size())};
    CAttributeVector v;
    v.addElement(&a);
    CK_RV r = object.getAttributes(v);
    if (rv) *rv = r;
    if (r != CKR_OK) return Bytes();
    buffer.resize(a.ulValueLen);
    return buffer;
}

template <typename T>
T* makeObject(CObjectTable& table, TemplateBuilder& t) {
    T* object = new T(kConnection);
    EXPECT_EQ(applyTemplate(*object, t), CKR_OK);
    putObject(table, object);
    return object;
}

C11Object* reloadedObject(ObjectTestCard& card, CObjectTable& table, unsigned long number) {
    table.removeTokenObjects();
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    C11Object* object = nullptr;
    table.get(number, object);
    (void)card;
    return object;
}

TEST(ObjectStoredValue, AccessClassesOfEveryClassWithAStoredValue) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder pub, priv, cert, secret;
    pub.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {1});
    priv.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).flag(CKA_PRIVATE, true);
    priv.bytes(CKA_VALUE, {2});
    cert.ulong(CKA_CLASS, CKO_CERTIFICATE).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {3});
    secret.ulong(CKA_CLASS, CKO_SECRET_KEY).flag(CKA_TOKEN, true).flag(CKA_SENSITIVE, false);
    secret.bytes(CKA_VALUE, {4});
    C11Object* objects[] = {makeObject<C11Data>(table, pub), makeObject<C11Data>(table, priv),
                            makeObject<C11X509>(table, cert),
                            makeObject<C11SecretKey>(table, secret)};
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    const uint32_t expected[] = {kAccessPublicData, kAccessPrivateData, kAccessCertificate,
                                 kAccessSecretKey};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(objects[i]->getPath(), nullptr);
        std::vector<const CardCall*> adds;
        for (const CardCall& c : card.calls) {
            if (c.name == "addObj" && (c.path == objects[i]->getPath() || c.path.empty()) &&
                c.accessClass == expected[i]) {
                adds.push_back(&c);
            }
        }
        EXPECT_GE(adds.size(), 2u) << "object " << i;
        EXPECT_EQ(card.values[objects[i]->getPath()], Bytes({static_cast<unsigned char>(i + 1)}));
    }
    EXPECT_EQ(card.count("addObj"), 8u);

    // Read back after a reload with the same access classes.
    card.calls.clear();
    std::vector<unsigned long> numbers;
    for (C11Object* o : objects) numbers.push_back(o->getHandle());
    for (int i = 0; i < 4; ++i) {
        C11Object* read = reloadedObject(card, table, numbers[i]);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(valueOf(*read), Bytes({static_cast<unsigned char>(i + 1)}));
        EXPECT_EQ(card.calls.back().name, "readObj");
        EXPECT_EQ(card.calls.back().accessClass, expected[i]);
    }
}

TEST(ObjectStoredValue, AddedOnceThenReplacedOnlyAfterAChange) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {1, 2, 3});
    C11Data* data = makeObject<C11Data>(table, t);
    EXPECT_TRUE(data->isJustCreated());
    EXPECT_TRUE(data->isDataModified());
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(card.count("addObj"), 2u);
    EXPECT_EQ(card.calls[0].data, Bytes());           // first: allocate, get the path
    EXPECT_EQ(card.calls[1].data, Bytes({1, 2, 3}));  // second: the value
    EXPECT_FALSE(data->isJustCreated());
    EXPECT_FALSE(data->isDataModified());

    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(card.count("addObj"), 2u);
    EXPECT_EQ(card.count("writeObj"), 0u);

    // A changed value goes to a new stored value; the old one is retired, for
    // the token store to free once the directory naming the new one is stored.
    std::string oldPath = data->getPath();
    TemplateBuilder change;
    change.bytes(CKA_VALUE, {9, 9});
    ASSERT_EQ(applyTemplate(*data, change, CK_FALSE), CKR_OK);
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(card.count("addObj"), 4u);
    EXPECT_EQ(card.count("writeObj"), 0u);
    EXPECT_NE(oldPath, data->getPath());
    EXPECT_EQ(card.values[data->getPath()], Bytes({9, 9}));
    EXPECT_EQ(card.values[oldPath], Bytes({1, 2, 3}));
    ASSERT_NE(data->getRetiredPath(), nullptr);
    EXPECT_EQ(oldPath, data->getRetiredPath());
    EXPECT_TRUE(data->hasFreshPath());
    EXPECT_EQ(card.count("putObjectTbl"), 3u);
}

// A zero-length value is allocated and never filled: ZT_addObj with no data
// would allocate a second, orphaned value.
TEST(ObjectStoredValue, EmptyValueIsAllocatedOnceAndReadsBackEmpty) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {});
    unsigned long number = makeObject<C11Data>(table, t)->getHandle();
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(card.count("addObj"), 1u);
    C11Object* data = reloadedObject(card, table, number);
    ASSERT_NE(data, nullptr);
    CK_RV rv = CKR_GENERAL_ERROR;
    EXPECT_EQ(valueOf(*data, &rv), Bytes());
    EXPECT_EQ(rv, CKR_OK);
}

// Exactly 7 ("allocated, never written") is the empty value for every class.
TEST(ObjectStoredValue, StatusSevenIsTheEmptyValue) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true);
    unsigned long number = makeObject<C11Data>(table, t)->getHandle();
    TemplateBuilder c;
    c.ulong(CKA_CLASS, CKO_CERTIFICATE).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {0x30});
    C11X509* cert = makeObject<C11X509>(table, c);
    unsigned long certNumber = cert->getHandle();
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    card.values[cert->getPath()].clear();  // the card answers 7 for it now

    C11Object* data = reloadedObject(card, table, number);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(valueOf(*data), Bytes());
    CK_ULONG size = 9;
    CK_ATTRIBUTE a{CKA_VALUE_SIZE, &size, sizeof(size)};
    CAttributeVector v;
    v.addElement(&a);
    EXPECT_EQ(data->getAttributes(v), CKR_OK);
    EXPECT_EQ(size, 0u);

    C11Object* reloadedCert = nullptr;
    ASSERT_TRUE(table.get(certNumber, reloadedCert));
    CK_RV rv = CKR_GENERAL_ERROR;
    EXPECT_EQ(valueOf(*reloadedCert, &rv), Bytes());
    EXPECT_EQ(rv, CKR_OK);
}

// A status that merely ends in 7 is a failure, and nothing is cached.
TEST(ObjectStoredValue, OnlyExactlySevenMeansNeverWritten) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {4});
    unsigned long number = makeObject<C11Data>(table, t)->getHandle();
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    C11Object* data = reloadedObject(card, table, number);
    ASSERT_NE(data, nullptr);
    for (uint32_t status : {0x6A07u, 0x00030007u, 0x80100007u}) {
        card.readStatus = status;
        CK_RV rv = CKR_OK;
        valueOf(*data, &rv);
        EXPECT_EQ(rv, CKR_DEVICE_ERROR) << status;
    }
    card.readStatus = 0;
    EXPECT_EQ(valueOf(*data), Bytes({4}));
}

TEST(ObjectStoredValue, FetchFailuresAreDeviceErrorsAndCacheNothing) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).flag(CKA_TOKEN, true).flag(CKA_SENSITIVE, false);
    t.bytes(CKA_VALUE, Bytes(8, 0x11));
    unsigned long number = makeObject<C11SecretKey>(table, t)->getHandle();
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    C11Object* key = reloadedObject(card, table, number);
    ASSERT_NE(key, nullptr);

    card.readStatus = 0x6F00;
    Bytes buffer(16);
    CK_BBOOL sign = 0xEE;
    CK_ATTRIBUTE t2[] = {{CKA_VALUE, buffer.data(), 16}, {CKA_SIGN, &sign, 1}};
    CAttributeVector v;
    v.addElement(&t2[0]);
    v.addElement(&t2[1]);
    EXPECT_EQ(key->getAttributes(v), CKR_DEVICE_ERROR);
    EXPECT_EQ(t2[0].ulValueLen, static_cast<CK_ULONG>(-1));
    EXPECT_EQ(sign, 0xEE);  // the call ended at the failed fetch
    EXPECT_FALSE(key->isComplete());

    size_t reads = card.count("readObj");
    TemplateBuilder m;
    m.bytes(CKA_VALUE, Bytes(8, 0x11));
    CAttributeVector mv;
    mv.addElement(&m.get()[0]);
    EXPECT_FALSE(key->match(mv));
    EXPECT_EQ(card.count("readObj"), reads + 1);

    card.readStatus = 0;
    EXPECT_EQ(valueOf(*key), Bytes(8, 0x11));
    EXPECT_TRUE(key->isComplete());
    valueOf(*key);
    EXPECT_EQ(card.count("readObj"), reads + 2);  // cached after the first success
}

TEST(ObjectStoredValue, FailedAddsAndDirectoryWrites) {
    ObjectTestCard card;
    CObjectTable table;
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).bytes(CKA_VALUE, {5});
    C11Data* data = makeObject<C11Data>(table, t);

    card.firstAddStatus = 0x6A84;
    EXPECT_EQ(writeObjectDirectory(kConnection, table), CKR_DEVICE_ERROR);
    EXPECT_TRUE(data->isJustCreated());
    EXPECT_EQ(card.count("putObjectTbl"), 0u);

    card.firstAddStatus = 0;
    card.secondAddStatus = 0x6A84;
    EXPECT_EQ(writeObjectDirectory(kConnection, table), CKR_DEVICE_ERROR);
    EXPECT_FALSE(data->isJustCreated());  // serialised and flags cleared all the same
    EXPECT_EQ(card.count("putObjectTbl"), 0u);

    card.secondAddStatus = 0;
    card.putTblStatus = 0x6581;
    EXPECT_EQ(writeObjectDirectory(kConnection, table), CKR_DEVICE_ERROR);

    CardFunctions* table2 = cardFunctions();
    table2->ZT_addObj = nullptr;
    TemplateBuilder change;
    change.bytes(CKA_VALUE, {6});
    ASSERT_EQ(applyTemplate(*data, change, CK_FALSE), CKR_OK);
    card.putTblStatus = 0;
    EXPECT_EQ(writeObjectDirectory(kConnection, table), CKR_FUNCTION_NOT_SUPPORTED);
}

Bytes rsaPublicKeyDer(const Bytes& modulus, unsigned long exponent) {
    CryptoPP::RSA::PublicKey key;
    key.Initialize(CryptoPP::Integer(modulus.data(), modulus.size()), CryptoPP::Integer(exponent));
    CryptoPP::ByteQueue queue;
    key.DEREncode(queue);
    Bytes der(queue.MaxRetrievable());
    queue.Get(der.data(), der.size());
    return der;
}

TEST(ObjectStoredValue, RsaPublicValuesAreFetchedFromTheToken) {
    ObjectTestCard card;
    Bytes modulus(128, 0xA5);
    modulus[127] = 0xA7;
    card.publicKeyDer = rsaPublicKeyDer(modulus, 65537);
    CObjectTable table;
    TemplateBuilder t;
    t.flag(CKA_TOKEN, true).text(CKA_CONTAINER_NAME, "Container1").ulong(CKA_CONTAINER_INDEX, 1);
    C11RSAPrivateKey* key = makeObject<C11RSAPrivateKey>(table, t);
    key->setPath("1");
    unsigned long number = key->getHandle();
    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    C11Object* read = reloadedObject(card, table, number);
    ASSERT_NE(read, nullptr);

    Bytes m(200), e(8);
    CK_ATTRIBUTE q[] = {{CKA_MODULUS, m.data(), 200},
                        {CKA_PUBLIC_EXPONENT, e.data(), 8},
                        {CKA_PRIVATE_EXPONENT, e.data(), 8}};
    CAttributeVector v;
    for (auto& a : q) v.addElement(&a);
    EXPECT_EQ(read->getAttributes(v), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(q[0].ulValueLen, 128u);
    EXPECT_EQ(Bytes(m.begin(), m.begin() + 128), modulus);
    EXPECT_EQ(q[1].ulValueLen, 3u);
    EXPECT_EQ(q[2].ulValueLen, static_cast<CK_ULONG>(-1));
    EXPECT_EQ(card.count("getPublicKey"), 1u);
    EXPECT_EQ(card.calls.back().path, "1");
    EXPECT_FALSE(read->isComplete());  // a key held on the token is never complete

    // The public half: padded exponent, and the modulus length in bits left alone.
    C11RSAPublicKey pub(kConnection);
    pub.setPath("1");
    OrlByteArray exponent;
    EXPECT_EQ(pub.getPublicExponent(exponent), CKR_OK);
    EXPECT_EQ(exponent.getLength(), 3u);
    Bytes bits(sizeof(CK_ULONG)), padded(4);
    CK_ATTRIBUTE p[] = {{CKA_MODULUS_BITS, bits.data(), sizeof(CK_ULONG)},
                        {CKA_PUBLIC_EXPONENT, padded.data(), 4}};
    CAttributeVector pv;
    for (auto& a : p) pv.addElement(&a);
    EXPECT_EQ(pub.getAttributes(pv), CKR_OK);
    EXPECT_EQ(padded, Bytes({0, 1, 0, 1}));

    card.publicKeyStatus = 0x6A82;
    C11RSAPublicKey failing(kConnection);
    failing.setPath("2");
    OrlByteArray out;
    EXPECT_EQ(failing.getModulus(out), CKR_DEVICE_ERROR);
    EXPECT_EQ(failing.modulus(), nullptr);

    card.publicKeyStatus = 0;
    card.publicKeyDer = {0x30, 0x03, 0x02, 0x01};  // cut short
    EXPECT_NE(failing.getModulus(out), CKR_OK);
    EXPECT_EQ(failing.modulus(), nullptr);
}

}  // namespace

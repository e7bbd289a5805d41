// The directory's byte layout: the worked example, one hand-written golden
// record per class, and round trips with every field set.
#include <gtest/gtest.h>

#include <vector>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "CObjectTable.h"
#include "ObjectDirectory.h"
#include "ObjectTestCard.h"

namespace {

typedef std::vector<unsigned char> Bytes;

constexpr ZT_HANDLE kConnection = 0x5151;

Bytes serialized(C11Object& object) {
    OrlBufferedWriter writer;
    object.serialize(writer);
    OrlByteArray out;
    writer.getContent(out);
    return Bytes(out.getContent(), out.getContent() + out.getLength());
}

Bytes directoryOf(CObjectTable& table) {
    OrlByteArray out;
    EXPECT_EQ(buildObjectDirectory(table, out), CKR_OK);
    return Bytes(out.getContent(), out.getContent() + out.getLength());
}

Bytes ascii(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Answers one attribute into a fresh buffer of `size` bytes.
Bytes query(C11Object& object, CK_ATTRIBUTE_TYPE type, CK_RV* rv = nullptr, size_t size = 512) {
    Bytes buffer(size);
    CK_ATTRIBUTE a{type, buffer.data(), static_cast<CK_ULONG>(size)};
    CAttributeVector v;
    v.addElement(&a);
    CK_RV r = object.getAttributes(v);
    if (rv) *rv = r;
    if (a.ulValueLen == static_cast<CK_ULONG>(-1)) return Bytes();
    buffer.resize(a.ulValueLen < size ? a.ulValueLen : size);
    return buffer;
}

CK_ULONG queryUlong(C11Object& object, CK_ATTRIBUTE_TYPE type) {
    Bytes b = query(object, type, nullptr, sizeof(CK_ULONG));
    CK_ULONG v = 0;
    if (b.size() == sizeof(CK_ULONG)) std::memcpy(&v, b.data(), sizeof(CK_ULONG));
    return v;
}

// The worked example of the directory format: one data object, counter 2.
const Bytes kWorkedExample = {0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x05, 0x03, 0x61, 0x62,
                              0x63, 0x02, 0x64, 0x31, 0x00, 0x00, 0x03, 0x61, 0x70, 0x70};

TEST(DirectoryFormat, WorkedExampleIsWrittenExactly) {
    ObjectTestCard card;
    CObjectTable table;
    C11Data* data = new C11Data(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).flag(CKA_PRIVATE, false);
    t.text(CKA_LABEL, "abc").text(CKA_APPLICATION, "app");
    ASSERT_EQ(applyTemplate(*data, t, CK_FALSE), CKR_OK);
    data->setPath("d1");
    EXPECT_EQ(table.insertTokenObject(data), 1u);
    EXPECT_EQ(data->getHandle(), 1u);
    EXPECT_EQ(table.nextNumber(), 2u);
    EXPECT_EQ(directoryOf(table), kWorkedExample);
}

TEST(DirectoryFormat, WorkedExampleReadsBackIntoTheSameObject) {
    ObjectTestCard card;
    CObjectTable table;
    parseObjectDirectory(OrlByteArray(kWorkedExample.data(), kWorkedExample.size()), kConnection,
                         table);
    EXPECT_EQ(table.nextNumber(), 2u);
    EXPECT_FALSE(table.needsReload());
    ASSERT_EQ(table.size(), 1u);
    unsigned long key = 1;
    C11Object* object = nullptr;
    ASSERT_TRUE(table.get(key, object));
    EXPECT_EQ(object->getClass(), CKO_DATA);
    EXPECT_TRUE(object->isToken());
    EXPECT_FALSE(object->isPrivate());
    EXPECT_TRUE(object->isModifiable());
    EXPECT_STREQ(object->getLabel(), "abc");
    EXPECT_STREQ(object->getPath(), "d1");
    EXPECT_EQ(object->getObjectId(), nullptr);
    EXPECT_EQ(query(*object, CKA_APPLICATION), ascii("app"));
    EXPECT_FALSE(object->isJustCreated());
    EXPECT_EQ(directoryOf(table), kWorkedExample);
}

// Golden records, one per class, written by hand from the layout tables.

TEST(DirectoryFormat, DataRecordGolden) {
    C11Data data(kConnection);
    data.setObjNumber(0x0102);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).flag(CKA_PRIVATE, true);
    t.text(CKA_LABEL, "L").bytes(CKA_OBJECT_ID, {0xAA, 0xBB}).text(CKA_APPLICATION, "ap");
    ASSERT_EQ(applyTemplate(data, t), CKR_OK);
    data.setPath("p");
    const Bytes golden = {0x01, 0x02,              // object number
                          0x00,                    // class
                          0x07,                    // token | private | modifiable
                          0x01, 'L',               // label
                          0x01, 'p',               // path
                          0x00, 0x02, 0xAA, 0xBB,  // object id
                          0x02, 'a',  'p'};        // application
    EXPECT_EQ(serialized(data), golden);
}

TEST(DirectoryFormat, CertificateRecordGolden) {
    C11X509 cert(kConnection);
    cert.setObjNumber(3);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_CERTIFICATE).flag(CKA_TOKEN, true).flag(CKA_MODIFIABLE, false);
    t.bytes(CKA_SUBJECT, {'S', 'S'}).bytes(CKA_ID, {'I'}).bytes(CKA_ISSUER, {'J'});
    t.bytes(CKA_SERIAL_NUMBER, {1, 2, 3});
    ASSERT_EQ(applyTemplate(cert, t), CKR_OK);
    cert.setPath("c1");
    const Bytes golden = {0x00, 0x03, 0x01, 0x04,         // number, class, token only
                          0x00,                           // no label
                          0x02, 'c',  '1',                // path
                          0x00, 0x00,                     // no object id
                          0x00,                           // certificate type X.509
                          0x00, 0x02, 'S',  'S',          // subject
                          0x00, 0x01, 'I',                // id
                          0x00, 0x01, 'J',                // issuer
                          0x00, 0x03, 0x01, 0x02, 0x03};  // serial number
    EXPECT_EQ(serialized(cert), golden);
}

TEST(DirectoryFormat, PublicKeyRecordGolden) {
    C11RSAPublicKey key(kConnection);
    key.setObjNumber(4);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).flag(CKA_TOKEN, true).text(CKA_LABEL, "pk");
    t.bytes(CKA_ID, {1, 2}).text(CKA_START_DATE, "20240131").flag(CKA_WRAP, true);
    t.text(CKA_CONTAINER_NAME, "Cx").ulong(CKA_CONTAINER_INDEX, 5);
    t.bytes(CKA_CONTAINER_DEFAULT, {1});
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    key.setPath("7");
    const Bytes golden = cat({{0x00, 0x04, 0x02, 0x05},  // number, class, token | modifiable
                              {0x02, 'p', 'k'},          // label
                              {0x01, '7'},               // path
                              {0x00, 0x00},              // no object id
                              {0x00},                    // key type RSA
                              {0x00, 0x02, 0x01, 0x02},  // id
                              {0x08},
                              ascii("20240131"),               // start date
                              {0x00},                          // no end date
                              {0x01},                          // local
                              {0x00, 0x00},                    // no subject
                              {0x0D},                          // encrypt | verify | wrap
                              {0x02, 'C', 'x', 0x05, 0x01}});  // container
    EXPECT_EQ(serialized(key), golden);
}

TEST(DirectoryFormat, PrivateKeyRecordGolden) {
    C11RSAPrivateKey key(kConnection);
    key.setObjNumber(5);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).flag(CKA_TOKEN, true).flag(CKA_PRIVATE, false);
    t.bytes(CKA_ID, {9}).text(CKA_END_DATE, "20301231").flag(CKA_DERIVE, true);
    t.bytes(CKA_SUBJECT, {'U'}).flag(CKA_UNWRAP, true);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    key.setPath("8");
    const Bytes golden = cat({{0x00, 0x05, 0x03, 0x06},  // number, class, token | private
                              {0x00},                    // no label
                              {0x01, '8'},               // path
                              {0x00, 0x00},              // no object id
                              {0x00},                    // key type RSA
                              {0x00, 0x01, 0x09},        // id
                              {0x00},                    // no start date
                              {0x08},
                              ascii("20301231"),  // end date
                              {0x03},             // derive | local
                              {0x00, 0x01, 'U'},  // subject
                              {0xEB},  // sensitive decrypt sign unwrap always-sens never-extr
                              {0x00, 0xFF, 0x00}});  // no container
    EXPECT_EQ(serialized(key), golden);
}

TEST(DirectoryFormat, SecretKeyRecordGolden) {
    C11SecretKey key(kConnection);
    key.setObjNumber(6);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES).flag(CKA_TOKEN, true);
    t.text(CKA_LABEL, "s").flag(CKA_WRAP, true);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    key.setPath("9");
    const Bytes golden = {0x00, 0x06, 0x04, 0x05,  // number, class, token | modifiable
                          0x01, 's',  0x01, '9',   // label, path
                          0x00, 0x00,              // no object id
                          0x1F,                    // key type AES
                          0x00, 0x00,              // no id
                          0x00, 0x00,              // no dates
                          0x01,                    // local
                          0xF5,   // sensitive encrypt decrypt sign wrap extractable
                          0x80};  // always sensitive
    EXPECT_EQ(serialized(key), golden);
}

// Round trips with every field set: written, read back, written again.

template <typename T>
std::unique_ptr<T> reread(C11Object& original, unsigned char tag) {
    Bytes body = serialized(original);
    body.insert(body.begin(), tag);
    CBufferedReader reader(body.data(), static_cast<uint32_t>(body.size()));
    unsigned char readTag = 0;
    reader.read(&readTag, 1);
    std::unique_ptr<T> copy(new T(kConnection, reader));
    EXPECT_EQ(reader.remaining(), 0u);
    return copy;
}

TEST(DirectoryFormat, DataRoundTripKeepsEveryField) {
    C11Data data(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).flag(CKA_PRIVATE, true);
    t.flag(CKA_MODIFIABLE, false).text(CKA_LABEL, "label").bytes(CKA_OBJECT_ID, {1, 2, 3});
    t.text(CKA_APPLICATION, "application");
    ASSERT_EQ(applyTemplate(data, t), CKR_OK);
    data.setPath("3F00");
    auto copy = reread<C11Data>(data, 0);
    EXPECT_EQ(serialized(*copy), serialized(data));
    EXPECT_EQ(copy->getHandle(), data.getObjNumber());
    EXPECT_TRUE(copy->isPrivate());
    EXPECT_FALSE(copy->isModifiable());
    EXPECT_EQ(query(*copy, CKA_OBJECT_ID), Bytes({1, 2, 3}));
    EXPECT_EQ(query(*copy, CKA_APPLICATION), ascii("application"));
}

TEST(DirectoryFormat, CertificateRoundTripKeepsEveryField) {
    C11X509 cert(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_CERTIFICATE).flag(CKA_TOKEN, true).text(CKA_LABEL, "cert");
    t.bytes(CKA_SUBJECT, Bytes(300, 0x53)).bytes(CKA_ID, {7}).bytes(CKA_ISSUER, {8, 8});
    t.bytes(CKA_SERIAL_NUMBER, {9, 9, 9}).bytes(CKA_OBJECT_ID, {4});
    ASSERT_EQ(applyTemplate(cert, t), CKR_OK);
    cert.setPath("c");
    auto copy = reread<C11X509>(cert, 1);
    EXPECT_EQ(serialized(*copy), serialized(cert));
    EXPECT_EQ(query(*copy, CKA_SUBJECT), Bytes(300, 0x53));
    EXPECT_EQ(query(*copy, CKA_SERIAL_NUMBER), Bytes({9, 9, 9}));
    EXPECT_EQ(queryUlong(*copy, CKA_CERTIFICATE_TYPE), CKC_X_509);
}

TEST(DirectoryFormat, PublicKeyRoundTripKeepsEveryField) {
    C11RSAPublicKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).flag(CKA_TOKEN, true).text(CKA_LABEL, "pub");
    t.bytes(CKA_ID, {1, 2, 3}).text(CKA_START_DATE, "20200101").text(CKA_END_DATE, "20291231");
    t.flag(CKA_DERIVE, true).bytes(CKA_SUBJECT, {5, 5}).flag(CKA_ENCRYPT, false);
    t.flag(CKA_VERIFY_RECOVER, true).text(CKA_CONTAINER_NAME, "Container7");
    t.ulong(CKA_CONTAINER_INDEX, 7).bytes(CKA_CONTAINER_DEFAULT, {1});
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    key.setPath("7");
    auto copy = reread<C11RSAPublicKey>(key, 2);
    EXPECT_EQ(serialized(*copy), serialized(key));
    EXPECT_EQ(query(*copy, CKA_END_DATE, nullptr, 8), ascii("20291231"));
    EXPECT_EQ(query(*copy, CKA_CONTAINER_NAME), ascii("Container7"));
    EXPECT_EQ(copy->getContainerIndex(), 7u);
    EXPECT_EQ(queryUlong(*copy, CKA_MODULUS_BITS), 1024u);
    EXPECT_EQ(query(*copy, CKA_TRUSTED, nullptr, 1), Bytes({1}));
}

TEST(DirectoryFormat, PrivateKeyRoundTripKeepsEveryField) {
    C11RSAPrivateKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).flag(CKA_TOKEN, true).text(CKA_LABEL, "priv");
    t.bytes(CKA_ID, {1}).text(CKA_START_DATE, "20200101").bytes(CKA_SUBJECT, {6});
    t.flag(CKA_SIGN_RECOVER, true).flag(CKA_DECRYPT, false).text(CKA_CONTAINER_NAME, "C");
    t.ulong(CKA_CONTAINER_INDEX, 2).bytes(CKA_OBJECT_ID, {'2'});
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    key.setPath("2");
    auto copy = reread<C11RSAPrivateKey>(key, 3);
    EXPECT_EQ(serialized(*copy), serialized(key));
    EXPECT_EQ(query(*copy, CKA_SIGN_RECOVER, nullptr, 1), Bytes({1}));
    EXPECT_EQ(query(*copy, CKA_DECRYPT, nullptr, 1), Bytes({0}));
    EXPECT_EQ(query(*copy, CKA_SECONDARY_AUTH, nullptr, 1), Bytes({0}));
    EXPECT_EQ(copy->getContainerIndex(), 2u);
}

TEST(DirectoryFormat, SecretKeyRoundTripKeepsEveryField) {
    C11SecretKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_DES3).flag(CKA_TOKEN, true);
    t.bytes(CKA_ID, {4, 4}).text(CKA_END_DATE, "20991231").flag(CKA_VERIFY, true);
    t.flag(CKA_UNWRAP, true).flag(CKA_SIGN, false).flag(CKA_NEVER_EXTRACTABLE, true);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    key.setPath("k");
    auto copy = reread<C11SecretKey>(key, 4);
    EXPECT_EQ(serialized(*copy), serialized(key));
    EXPECT_EQ(copy->getKeyType(), CKK_DES3);
    EXPECT_EQ(query(*copy, CKA_NEVER_EXTRACTABLE, nullptr, 1), Bytes({1}));
    EXPECT_EQ(query(*copy, CKA_SIGN, nullptr, 1), Bytes({0}));
}

// Directory-wide rules.

TEST(DirectoryFormat, EmptyTableWritesZeroOne) {
    CObjectTable table;
    table.setNextNumber(77);
    EXPECT_EQ(directoryOf(table), Bytes({0x00, 0x01}));
}

TEST(DirectoryFormat, SessionObjectsAreNeverWritten) {
    CObjectTable table;
    C11Data* session = new C11Data(kConnection);
    table.setNextNumber(0x0204);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, false);
    ASSERT_EQ(applyTemplate(*session, t), CKR_OK);
    table.insertSessionObject(session);
    EXPECT_EQ(directoryOf(table), Bytes({0x02, 0x04}));
}

TEST(DirectoryFormat, TextsLongerThanALengthByteAreRefusedNotTruncated) {
    C11Data data(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).text(CKA_LABEL, std::string(300, 'x'));
    EXPECT_EQ(applyTemplate(data, t), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(data.getLabel(), nullptr);
    TemplateBuilder ok;
    ok.ulong(CKA_CLASS, CKO_DATA).text(CKA_LABEL, std::string(255, 'x'));
    ok.text(CKA_APPLICATION, std::string(256, 'a'));
    EXPECT_EQ(applyTemplate(data, ok), CKR_ATTRIBUTE_VALUE_INVALID);
    ASSERT_NE(data.getLabel(), nullptr);
    Bytes body = serialized(data);
    ASSERT_GT(body.size(), 5u + 255u);
    EXPECT_EQ(body[4], 255);      // label length byte agrees with the 255 bytes after it
    EXPECT_EQ(body[5 + 255], 0);  // no path

    C11X509 cert(kConnection);
    TemplateBuilder big;
    big.ulong(CKA_CLASS, CKO_CERTIFICATE).bytes(CKA_SUBJECT, Bytes(65536, 1));
    EXPECT_EQ(applyTemplate(cert, big), CKR_ATTRIBUTE_VALUE_INVALID);
    TemplateBuilder name;
    C11RSAPublicKey key(kConnection);
    name.text(CKA_CONTAINER_NAME, std::string(256, 'c'));
    EXPECT_EQ(applyTemplate(key, name), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(key.getContainerName(), nullptr);
}

// The index is stored in one byte: 300 would read back as 44, so it is refused.
TEST(DirectoryFormat, ContainerIndexAboveOneByteIsRefused) {
    C11RSAPublicKey key(kConnection);
    TemplateBuilder wide;
    wide.ulong(CKA_CONTAINER_INDEX, 300);
    EXPECT_EQ(applyTemplate(key, wide), CKR_ATTRIBUTE_VALUE_INVALID);
    TemplateBuilder t;
    t.ulong(CKA_CONTAINER_INDEX, 255);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    Bytes body = serialized(key);
    EXPECT_EQ(body[body.size() - 2], 255);
    auto copy = reread<C11RSAPublicKey>(key, 2);
    EXPECT_EQ(copy->getContainerIndex(), 255u);
}

TEST(DirectoryFormat, ReloadedValuesTheRecordDoesNotCarry) {
    ObjectTestCard card;
    CObjectTable table;
    C11RSAPublicKey* key = new C11RSAPublicKey(kConnection);
    key->setObjNumber(10);
    TemplateBuilder t;
    t.flag(CKA_TOKEN, true).bytes(CKA_MODULUS, Bytes(64, 0xC1)).ulong(CKA_KEY_GEN_MECHANISM, 9);
    ASSERT_EQ(applyTemplate(*key, t), CKR_OK);
    EXPECT_EQ(queryUlong(*key, CKA_MODULUS_BITS), 512u);
    key->setPath("1");
    putObject(table, key);
    Bytes dir = directoryOf(table);
    CObjectTable other;
    parseObjectDirectory(OrlByteArray(dir.data(), dir.size()), kConnection, other);
    unsigned long number = 10;
    C11Object* read = nullptr;
    ASSERT_TRUE(other.get(number, read));
    EXPECT_EQ(queryUlong(*read, CKA_MODULUS_BITS), 1024u);
    EXPECT_FALSE(read->isJustCreated());
    EXPECT_FALSE(read->isDataModified());
}

}  // namespace

// The attribute protocol of the object classes: reply forms, the walk, the
// irreversible flags, forced flags, the vendor attributes and the refusal of
// values too short to read.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "ObjectDirectory.h"
#include "Log.h"
#include "ObjectTestCard.h"
#include "OrlLoggerAdv.h"

namespace {

typedef std::vector<unsigned char> Bytes;
constexpr ZT_HANDLE kConnection = 0x3131;
constexpr CK_ULONG kInvalid = static_cast<CK_ULONG>(-1);

struct Answer {
    CK_RV rv;
    CK_ULONG length;
    Bytes value;
};

// One-entry getAttributes with a buffer of `size` bytes (null when size < 0).
Answer ask(C11Object& object, CK_ATTRIBUTE_TYPE type, long size) {
    Bytes buffer(size > 0 ? size + 1 : 1, 0xEE);
    CK_ATTRIBUTE a{type, size >= 0 ? buffer.data() : nullptr,
                   static_cast<CK_ULONG>(size < 0 ? 0 : size)};
    CAttributeVector v;
    v.addElement(&a);
    CK_RV rv = object.getAttributes(v);
    EXPECT_EQ(buffer.back(), 0xEE) << "written past the buffer";
    buffer.resize(size > 0 ? size : 0);
    return {rv, a.ulValueLen, buffer};
}

CK_ULONG asUlong(const Bytes& b) {
    CK_ULONG v = 0;
    std::memcpy(&v, b.data(), sizeof(CK_ULONG));
    return v;
}

bool matches(C11Object& object, TemplateBuilder& t) {
    CAttributeVector v;
    CK_ATTRIBUTE* p = t.get();
    for (CK_ULONG i = 0; i < t.size(); ++i) v.addElement(&p[i]);
    return object.match(v) && v.isEmpty();
}

std::unique_ptr<C11Data> dataObject(const Bytes& value = {1, 2, 3, 4, 5}) {
    std::unique_ptr<C11Data> data(new C11Data(kConnection));
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).bytes(CKA_VALUE, value);
    EXPECT_EQ(applyTemplate(*data, t), CKR_OK);
    return data;
}

TEST(ObjectAttributes, ThreeReplyFormsPerKind) {
    auto data = dataObject();
    const long ul = sizeof(CK_ULONG);
    Answer a = ask(*data, CKA_CLASS, -1);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, sizeof(CK_ULONG));
    a = ask(*data, CKA_CLASS, ul + 4);  // room to spare: the exact length comes back
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, sizeof(CK_ULONG));
    EXPECT_EQ(asUlong(a.value), CKO_DATA);
    a = ask(*data, CKA_CLASS, 2);
    EXPECT_EQ(a.rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.length, kInvalid);

    a = ask(*data, CKA_TOKEN, -1);
    EXPECT_EQ(a.length, 1u);
    a = ask(*data, CKA_MODIFIABLE, 4);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, 1u);
    EXPECT_EQ(a.value, Bytes({1, 0, 0, 0}));
    a = ask(*data, CKA_TOKEN, 0);
    EXPECT_EQ(a.rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.length, kInvalid);

    a = ask(*data, CKA_VALUE, -1);
    EXPECT_EQ(a.length, 5u);
    a = ask(*data, CKA_VALUE, 8);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, 5u);
    EXPECT_EQ(Bytes(a.value.begin(), a.value.begin() + 5), Bytes({1, 2, 3, 4, 5}));
    a = ask(*data, CKA_VALUE, 4);
    EXPECT_EQ(a.rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.length, kInvalid);

    a = ask(*data, CKA_LABEL, 10);  // no label: length 0, no error
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, 0u);
    // No application reads as the empty one: the directory cannot tell them apart.
    a = ask(*data, CKA_APPLICATION, 10);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, 0u);
}

TEST(ObjectAttributes, WalkAnswersEveryEntryAndTheLastErrorWins) {
    C11RSAPublicKey key(kConnection);
    CK_ULONG index = 0;
    char name[8];
    CK_ATTRIBUTE t1[] = {{CKA_CONTAINER_NAME, name, sizeof(name)},
                         {CKA_CONTAINER_INDEX, &index, 2},
                         {CKA_VENDOR_DEFINED + 0x77, name, 1}};
    CAttributeVector v;
    for (auto& a : t1) v.addElement(&a);
    EXPECT_EQ(key.getAttributes(v), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(t1[0].ulValueLen, 0u);  // no name reads as the empty one
    EXPECT_EQ(t1[1].ulValueLen, kInvalid);
    ASSERT_EQ(v.size(), 1u);  // the unknown type is left for the caller
    EXPECT_EQ(v.elementAt(0), &t1[2]);

    C11RSAPrivateKey privateKey(kConnection);
    CK_ATTRIBUTE t2[] = {{CKA_CONTAINER_INDEX, &index, 2}, {CKA_PRIME_1, name, sizeof(name)}};
    CAttributeVector w;
    for (auto& a : t2) w.addElement(&a);
    // Both entries are answered; the call gives one of their errors.
    CK_RV rv = privateKey.getAttributes(w);
    EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_BUFFER_TOO_SMALL) << rv;
    EXPECT_EQ(t2[0].ulValueLen, kInvalid);
    EXPECT_TRUE(w.isEmpty());
}

TEST(ObjectAttributes, ATemplateWithTheSameAttributeTwiceTakesTheLast) {
    C11Data data(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, true).flag(CKA_TOKEN, false);
    EXPECT_EQ(applyTemplate(data, t), CKR_OK);
    EXPECT_FALSE(data.isToken());
}

TEST(ObjectAttributes, ValuesTooShortToReadAreRefused) {
    C11SecretKey key(kConnection);
    TemplateBuilder shortClass;
    shortClass.bytes(CKA_KEY_TYPE, {0x1F, 0});
    EXPECT_EQ(applyTemplate(key, shortClass), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(key.getKeyType(), 255u);
    CK_ATTRIBUTE emptyBool{CKA_ENCRYPT, nullptr, 0};
    CAttributeVector v;
    v.addElement(&emptyBool);
    EXPECT_EQ(key.setAttributes(CK_FALSE, v), CKR_ATTRIBUTE_VALUE_INVALID);
    TemplateBuilder shortDate;
    shortDate.text(CKA_START_DATE, "2024013");
    EXPECT_EQ(applyTemplate(key, shortDate), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ask(key, CKA_START_DATE, 8).length, 0u);
    TemplateBuilder goodDate;
    goodDate.text(CKA_START_DATE, "20240131");
    EXPECT_EQ(applyTemplate(key, goodDate), CKR_OK);
    EXPECT_EQ(ask(key, CKA_START_DATE, 12).length, sizeof(CK_DATE));
    // The class entry of a template, as the provider builds it, is never refused.
    C11Data data(kConnection);
    TemplateBuilder ok;
    ok.ulong(CKA_CLASS, CKO_DATA);
    EXPECT_EQ(applyTemplate(data, ok), CKR_OK);
    TemplateBuilder noClass;
    C11Data unset(kConnection);
    noClass.flag(CKA_TOKEN, false);
    EXPECT_EQ(applyTemplate(unset, noClass), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(ObjectAttributes, ClassFromTemplate) {
    TemplateBuilder t;
    t.flag(CKA_TOKEN, true).ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_CLASS, CKO_DATA);
    EXPECT_EQ(classFromTemplate(t.get(), t.size()), CKO_SECRET_KEY);
    TemplateBuilder none;
    none.flag(CKA_TOKEN, true);
    EXPECT_EQ(classFromTemplate(none.get(), none.size()), 255u);
    EXPECT_EQ(printTemplate(t.get(), t.size()), CKR_OK);
}

TEST(ObjectAttributes, IrreversibleFlags) {
    C11RSAPrivateKey extractable(kConnection);
    TemplateBuilder t1;
    t1.flag(CKA_EXTRACTABLE, true).flag(CKA_SIGN, false);
    EXPECT_EQ(applyTemplate(extractable, t1), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(ask(extractable, CKA_EXTRACTABLE, 1).value, Bytes({0}));
    EXPECT_EQ(ask(extractable, CKA_SIGN, 1).value, Bytes({0}));  // other entries still taken

    // CKA_SENSITIVE: chosen at creation, then only ever turned on.
    C11SecretKey secret(kConnection);
    TemplateBuilder t2;
    t2.flag(CKA_SENSITIVE, false);
    EXPECT_EQ(applyTemplate(secret, t2), CKR_OK);
    EXPECT_EQ(ask(secret, CKA_SENSITIVE, 1).value, Bytes({0}));
    EXPECT_EQ(ask(secret, CKA_ALWAYS_SENSITIVE, 1).value, Bytes({0}));
    TemplateBuilder on, off;
    on.flag(CKA_SENSITIVE, true);
    off.flag(CKA_SENSITIVE, false);
    EXPECT_EQ(applyTemplate(secret, on, CK_FALSE), CKR_OK);
    EXPECT_EQ(ask(secret, CKA_SENSITIVE, 1).value, Bytes({1}));
    EXPECT_EQ(ask(secret, CKA_ALWAYS_SENSITIVE, 1).value, Bytes({0}));
    EXPECT_EQ(applyTemplate(secret, off, CK_FALSE), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(ask(secret, CKA_SENSITIVE, 1).value, Bytes({1}));
    C11SecretKey byDefault(kConnection);
    TemplateBuilder plain;
    plain.ulong(CKA_KEY_TYPE, CKK_AES);
    EXPECT_EQ(applyTemplate(byDefault, plain), CKR_OK);
    EXPECT_EQ(ask(byDefault, CKA_SENSITIVE, 1).value, Bytes({1}));
    EXPECT_EQ(applyTemplate(byDefault, off, CK_FALSE), CKR_TEMPLATE_INCONSISTENT);
    TemplateBuilder t3;
    t3.flag(CKA_EXTRACTABLE, false);
    EXPECT_EQ(applyTemplate(secret, t3), CKR_OK);
    TemplateBuilder t4;
    t4.flag(CKA_EXTRACTABLE, true);
    EXPECT_EQ(applyTemplate(secret, t4), CKR_TEMPLATE_INCONSISTENT);

    C11RSAPublicKey pub(kConnection);
    TemplateBuilder t5;
    t5.flag(CKA_LOCAL, false);
    EXPECT_EQ(applyTemplate(pub, t5), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_TRUE(pub.isLocal());

    C11RSAPrivateKey priv(kConnection);
    TemplateBuilder t6;
    t6.flag(CKA_SECONDARY_AUTH, false);
    EXPECT_EQ(applyTemplate(priv, t6), CKR_TEMPLATE_INCONSISTENT);
}

TEST(ObjectAttributes, TokenPrivateKeyHasItsFlagsForced) {
    C11RSAPrivateKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).flag(CKA_TOKEN, true).flag(CKA_PRIVATE, false);
    t.flag(CKA_MODIFIABLE, true).flag(CKA_EXTRACTABLE, false);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    EXPECT_EQ(ask(key, CKA_SENSITIVE, 1).value, Bytes({1}));
    EXPECT_EQ(ask(key, CKA_ALWAYS_SENSITIVE, 1).value, Bytes({1}));
    EXPECT_EQ(ask(key, CKA_NEVER_EXTRACTABLE, 1).value, Bytes({1}));
    EXPECT_EQ(ask(key, CKA_EXTRACTABLE, 1).value, Bytes({0}));
    EXPECT_FALSE(key.isModifiable());
    EXPECT_TRUE(key.isPrivate());

    C11RSAPublicKey pub(kConnection);
    TemplateBuilder p;
    p.flag(CKA_PRIVATE, true);
    ASSERT_EQ(applyTemplate(pub, p), CKR_OK);
    EXPECT_FALSE(pub.isPrivate());
}

TEST(ObjectAttributes, PublicExponentIsPaddedToFourBytes) {
    C11RSAPublicKey key(kConnection);
    TemplateBuilder t;
    t.bytes(CKA_PUBLIC_EXPONENT, {0x01, 0x00, 0x01}).bytes(CKA_MODULUS, Bytes(128, 0xB7));
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    EXPECT_EQ(ask(key, CKA_PUBLIC_EXPONENT, -1).length, 4u);
    Answer a = ask(key, CKA_PUBLIC_EXPONENT, 4);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, 4u);
    EXPECT_EQ(a.value, Bytes({0x00, 0x01, 0x00, 0x01}));
    EXPECT_EQ(ask(key, CKA_PUBLIC_EXPONENT, 3).rv, CKR_BUFFER_TOO_SMALL);
    TemplateBuilder unpadded;
    unpadded.bytes(CKA_PUBLIC_EXPONENT, {0x01, 0x00, 0x01});
    EXPECT_TRUE(matches(key, unpadded));
    EXPECT_EQ(asUlong(ask(key, CKA_MODULUS_BITS, sizeof(CK_ULONG)).value), 1024u);
    EXPECT_EQ(asUlong(ask(key, CKA_VALUE_SIZE, sizeof(CK_ULONG)).value), 256u);
}

TEST(ObjectAttributes, KeyGenMechanismReadsZeroWhileLocal) {
    C11SecretKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_KEY_GEN_MECHANISM, CKM_DES_KEY_GEN);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    EXPECT_EQ(asUlong(ask(key, CKA_KEY_GEN_MECHANISM, sizeof(CK_ULONG)).value), 0u);
    key.setLocal(false);
    EXPECT_EQ(asUlong(ask(key, CKA_KEY_GEN_MECHANISM, sizeof(CK_ULONG)).value),
              CK_UNAVAILABLE_INFORMATION);
    TemplateBuilder m;
    m.ulong(CKA_KEY_GEN_MECHANISM, CKM_DES_KEY_GEN);
    EXPECT_TRUE(matches(key, m));
}

TEST(ObjectAttributes, ValueSizeOfDataCertificatesAndRsaKeys) {
    auto data = dataObject();
    EXPECT_EQ(asUlong(ask(*data, CKA_VALUE_SIZE, sizeof(CK_ULONG)).value), 5u);
    EXPECT_EQ(ask(*data, CKA_VALUE_SIZE, -1).length, sizeof(CK_ULONG));
    EXPECT_EQ(ask(*data, CKA_VALUE_SIZE, 2).rv, CKR_BUFFER_TOO_SMALL);

    C11X509 cert(kConnection);
    TemplateBuilder c;
    c.ulong(CKA_CLASS, CKO_CERTIFICATE).bytes(CKA_VALUE, Bytes(700, 0x30));
    ASSERT_EQ(applyTemplate(cert, c), CKR_OK);
    EXPECT_EQ(asUlong(ask(cert, CKA_VALUE_SIZE, sizeof(CK_ULONG)).value), 700u);

    C11RSAPrivateKey priv(kConnection);
    TemplateBuilder k;
    k.bytes(CKA_MODULUS, Bytes(256, 0xC3));
    ASSERT_EQ(applyTemplate(priv, k), CKR_OK);
    EXPECT_EQ(asUlong(ask(priv, CKA_VALUE_SIZE, sizeof(CK_ULONG)).value), 512u);
    C11RSAPrivateKey none(kConnection);  // a session key without modulus
    EXPECT_EQ(asUlong(ask(none, CKA_VALUE_SIZE, sizeof(CK_ULONG)).value), 0u);
    EXPECT_EQ(ask(*data, CKA_VALUE_LEN, sizeof(CK_ULONG)).rv, CKR_OK);
    // CKA_VALUE_SIZE is not something a secret key knows
    CAttributeVector v;
    CK_ULONG size = 0;
    CK_ATTRIBUTE a{CKA_VALUE_SIZE, &size, sizeof(size)};
    v.addElement(&a);
    C11SecretKey secret(kConnection);
    EXPECT_EQ(secret.getAttributes(v), CKR_OK);
    EXPECT_EQ(v.size(), 1u);
}

TEST(ObjectAttributes, ContainerDefaultByteTwoIsKeptUntilAReload) {
    ObjectTestCard card;
    CObjectTable table;
    C11RSAPublicKey* key = new C11RSAPublicKey(kConnection);
    key->setObjNumber(30);
    TemplateBuilder t;
    t.flag(CKA_TOKEN, true).bytes(CKA_CONTAINER_DEFAULT, {2});
    ASSERT_EQ(applyTemplate(*key, t), CKR_OK);
    EXPECT_EQ(key->getDefaultContainer(), 2);
    TemplateBuilder two, one;
    two.bytes(CKA_CONTAINER_DEFAULT, {2});
    one.bytes(CKA_CONTAINER_DEFAULT, {1});
    EXPECT_TRUE(matches(*key, two));
    EXPECT_FALSE(matches(*key, one));
    Answer a = ask(*key, CKA_CONTAINER_DEFAULT, sizeof(CK_ULONG));
    EXPECT_EQ(a.value[0], 2);
    putObject(table, key);

    ASSERT_EQ(writeObjectDirectory(kConnection, table), CKR_OK);
    table.removeTokenObjects();
    ASSERT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    unsigned long number = 30;
    C11Object* read = nullptr;
    ASSERT_TRUE(table.get(number, read));
    a = ask(*read, CKA_CONTAINER_DEFAULT, sizeof(CK_ULONG));
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, sizeof(CK_ULONG));
    EXPECT_EQ(asUlong(a.value), 1u);
    EXPECT_TRUE(matches(*read, one));
}

TEST(ObjectAttributes, VendorContainerAttributes) {
    C11RSAPrivateKey key(kConnection);
    Answer a = ask(key, CKA_CONTAINER_NAME, 16);  // none: the empty name
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.length, 0u);
    EXPECT_EQ(asUlong(ask(key, CKA_CONTAINER_INDEX, sizeof(CK_ULONG)).value), 255u);
    a = ask(key, CKA_CONTAINER_DEFAULT, 1);
    EXPECT_EQ(a.rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.length, kInvalid);
    EXPECT_EQ(ask(key, CKA_CONTAINER_DEFAULT, -1).length, sizeof(CK_ULONG));
    EXPECT_FALSE(key.CCSPContainer::isComplete());

    TemplateBuilder t;
    t.text(CKA_CONTAINER_NAME, "Container12").ulong(CKA_CONTAINER_INDEX, 12);
    ASSERT_EQ(applyTemplate(key, t, CK_FALSE), CKR_OK);
    EXPECT_EQ(ask(key, CKA_CONTAINER_NAME, -1).length, 11u);
    a = ask(key, CKA_CONTAINER_NAME, 11);
    EXPECT_EQ(a.value, Bytes({'C', 'o', 'n', 't', 'a', 'i', 'n', 'e', 'r', '1', '2'}));
    EXPECT_EQ(ask(key, CKA_CONTAINER_NAME, 10).rv, CKR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(key.CCSPContainer::isComplete());
    TemplateBuilder m;
    m.text(CKA_CONTAINER_NAME, "Container12").ulong(CKA_CONTAINER_INDEX, 12);
    EXPECT_TRUE(matches(key, m));
    CCSPContainer& asContainer = key;  // through the second base the whole key answers
    CAttributeVector v;
    CK_BBOOL sign = 0;
    CK_ATTRIBUTE s{CKA_SIGN, &sign, 1};
    v.addElement(&s);
    EXPECT_EQ(asContainer.getAttributes(v), CKR_OK);
    EXPECT_TRUE(v.isEmpty());
    EXPECT_EQ(sign, 1);
}

TEST(ObjectAttributes, SecretValueIsRefusedOnceNeverExtractable) {
    C11SecretKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_KEY_TYPE, CKK_AES).flag(CKA_SENSITIVE, false).bytes(CKA_VALUE, Bytes(16, 0x42));
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    Answer a = ask(key, CKA_VALUE, 16);
    EXPECT_EQ(a.rv, CKR_OK);
    EXPECT_EQ(a.value, Bytes(16, 0x42));
    EXPECT_EQ(asUlong(ask(key, CKA_VALUE_LEN, sizeof(CK_ULONG)).value), 16u);
    TemplateBuilder never;
    never.flag(CKA_NEVER_EXTRACTABLE, true);
    ASSERT_EQ(applyTemplate(key, never, CK_FALSE), CKR_OK);
    a = ask(key, CKA_VALUE, 16);
    EXPECT_EQ(a.rv, CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(a.length, static_cast<CK_ULONG>(-1));
    TemplateBuilder back;
    back.flag(CKA_NEVER_EXTRACTABLE, false);
    EXPECT_EQ(applyTemplate(key, back, CK_FALSE), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(ask(key, CKA_VALUE, 16).rv, CKR_ATTRIBUTE_SENSITIVE);
}

TEST(ObjectAttributes, CertificateTypeAndTrusted) {
    C11X509 cert(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509_ATTR_CERT);
    ASSERT_EQ(applyTemplate(cert, t), CKR_OK);
    EXPECT_EQ(asUlong(ask(cert, CKA_CERTIFICATE_TYPE, sizeof(CK_ULONG)).value), CKC_X_509);
    EXPECT_EQ(ask(cert, CKA_SUBJECT, 8).length, 0u);
    EXPECT_EQ(ask(cert, CKA_TRUSTED, 1).value, Bytes({1}));
    TemplateBuilder trusted;
    trusted.flag(CKA_TRUSTED, false).bytes(CKA_ID, {1});
    EXPECT_EQ(applyTemplate(cert, trusted), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(ask(cert, CKA_ID, 1).value, Bytes({1}));  // the walk went on
}

TEST(ObjectAttributes, MatchRules) {
    C11SecretKey key(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_KEY_TYPE, CKK_DES).text(CKA_START_DATE, "20240229").flag(CKA_TOKEN, true);
    ASSERT_EQ(applyTemplate(key, t), CKR_OK);
    TemplateBuilder same, otherDay, byteTwo, labelled;
    same.text(CKA_START_DATE, "20240229").ulong(CKA_KEY_TYPE, CKK_DES);
    otherDay.text(CKA_START_DATE, "20240228");
    byteTwo.bytes(CKA_TOKEN, {2});
    labelled.text(CKA_LABEL, "");
    EXPECT_TRUE(matches(key, same));
    EXPECT_FALSE(matches(key, otherDay));
    EXPECT_FALSE(matches(key, byteTwo));
    EXPECT_TRUE(matches(key, labelled));  // no label reads, and matches, as the empty one

    // The walk stops at the first mismatch and leaves the later entries.
    TemplateBuilder stop;
    stop.flag(CKA_TOKEN, false).ulong(CKA_KEY_TYPE, CKK_DES);
    CAttributeVector v;
    CK_ATTRIBUTE* p = stop.get();
    v.addElement(&p[0]);
    v.addElement(&p[1]);
    EXPECT_FALSE(key.match(v));
    EXPECT_EQ(v.size(), 2u);
}

}  // namespace

namespace {

TEST(ObjectTemplateLog, LoggingOffLeavesTheTemplateUntouched) {
    g_logLevel = 0;
    // Unreadable pointers: reading any of them would crash.
    CK_ATTRIBUTE bad[] = {{CKA_LABEL, reinterpret_cast<void*>(16), 5},
                          {CKA_CLASS, reinterpret_cast<void*>(32), sizeof(CK_ULONG)}};
    EXPECT_EQ(printTemplate(bad, 2), CKR_OK);
}

TEST(ObjectTemplateLog, EntriesAreLoggedByKindWithinTheirLength) {
    std::string path = ::testing::TempDir() + "object_template_log.txt";
    std::remove(path.c_str());
    logger().setLogFile(path.c_str());
    g_logLevel = 1;
    CK_ULONG cls = CKO_SECRET_KEY;
    char label[3] = {'a', 'b', 'c'};  // not terminated
    unsigned char id[20] = {0xAB};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_LABEL, label, 3},
                        {CKA_ID, id, 20},
                        {CKA_VALUE, id, static_cast<CK_ULONG>(-1)},
                        {CKA_TOKEN, nullptr, 1},
                        {0x7654, id, 2}};
    EXPECT_EQ(printTemplate(t, 6), CKR_OK);
    closeLog();
    std::ifstream in(path);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("Template count: 6"), std::string::npos);
    EXPECT_NE(
        log.find("type: CKA_CLASS valuelen: (" + std::to_string(sizeof(CK_ULONG)) + "), value: 4"),
        std::string::npos);
    EXPECT_NE(log.find("type: CKA_LABEL valuelen: (3), value: abc"), std::string::npos);
    EXPECT_NE(log.find("value: NULL"), std::string::npos);
    EXPECT_NE(log.find("type: UNKNOWN (7654)"), std::string::npos);
    std::remove(path.c_str());
}

}  // namespace

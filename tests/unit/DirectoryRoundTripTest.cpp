// Writer and reader agree: for every class and every attribute the record
// carries, with empty, maximal and odd values, an object written, read back
// and written again gives the same record, and reads back the values given
// (an empty value and an absent one answer alike: the format cannot tell).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "CObjectTable.h"
#include "ObjectTestCard.h"

namespace {

typedef std::vector<unsigned char> Bytes;
constexpr ZT_HANDLE kConnection = 0x77;

enum class Kind { Text8, Bytes16, Bool, Byte, Date };

struct Field {
    CK_ATTRIBUTE_TYPE type;
    Kind kind;
};

// The attributes each record carries (flags a class computes itself left out).
const Field kHeader[] = {{CKA_LABEL, Kind::Text8}, {CKA_OBJECT_ID, Kind::Bytes16}};
const Field kKey[] = {{CKA_KEY_TYPE, Kind::Byte},
                      {CKA_ID, Kind::Bytes16},
                      {CKA_START_DATE, Kind::Date},
                      {CKA_END_DATE, Kind::Date},
                      {CKA_DERIVE, Kind::Bool}};
const Field kContainer[] = {{CKA_CONTAINER_NAME, Kind::Text8}};

std::vector<Field> fieldsOf(CK_OBJECT_CLASS cls) {
    std::vector<Field> f(std::begin(kHeader), std::end(kHeader));
    auto add = [&](std::initializer_list<Field> more) { f.insert(f.end(), more); };
    switch (cls) {
        case CKO_DATA:
            add({{CKA_APPLICATION, Kind::Text8}});
            break;
        case CKO_CERTIFICATE:
            add({{CKA_SUBJECT, Kind::Bytes16},
                 {CKA_ID, Kind::Bytes16},
                 {CKA_ISSUER, Kind::Bytes16},
                 {CKA_SERIAL_NUMBER, Kind::Bytes16}});
            break;
        case CKO_PUBLIC_KEY:
            f.insert(f.end(), std::begin(kKey), std::end(kKey));
            add({{CKA_SUBJECT, Kind::Bytes16},
                 {CKA_ENCRYPT, Kind::Bool},
                 {CKA_VERIFY, Kind::Bool},
                 {CKA_VERIFY_RECOVER, Kind::Bool},
                 {CKA_WRAP, Kind::Bool}});
            f.insert(f.end(), std::begin(kContainer), std::end(kContainer));
            break;
        case CKO_PRIVATE_KEY:
            f.insert(f.end(), std::begin(kKey), std::end(kKey));
            add({{CKA_SUBJECT, Kind::Bytes16},
                 {CKA_DECRYPT, Kind::Bool},
                 {CKA_SIGN, Kind::Bool},
                 {CKA_SIGN_RECOVER, Kind::Bool},
                 {CKA_UNWRAP, Kind::Bool}});
            f.insert(f.end(), std::begin(kContainer), std::end(kContainer));
            break;
        case CKO_SECRET_KEY:
            f.insert(f.end(), std::begin(kKey), std::end(kKey));
            add({{CKA_ENCRYPT, Kind::Bool},
                 {CKA_DECRYPT, Kind::Bool},
                 {CKA_SIGN, Kind::Bool},
                 {CKA_VERIFY, Kind::Bool},
                 {CKA_WRAP, Kind::Bool},
                 {CKA_UNWRAP, Kind::Bool}});
            break;
    }
    return f;
}

C11Object* make(CK_OBJECT_CLASS cls) {
    switch (cls) {
        case CKO_DATA:
            return new C11Data(kConnection);
        case CKO_CERTIFICATE:
            return new C11X509(kConnection);
        case CKO_PUBLIC_KEY:
            return new C11RSAPublicKey(kConnection);
        case CKO_PRIVATE_KEY:
            return new C11RSAPrivateKey(kConnection);
        default:
            return new C11SecretKey(kConnection);
    }
}

enum class Variant { Empty, Maximal, Odd, Random };

// A value of the field's kind: empty, as long as the record allows, made of
// bytes that look like lengths and terminators, or random.
Bytes valueFor(const Field& f, Variant v, bool secretKey, std::mt19937& random) {
    size_t length = 0;
    switch (f.kind) {
        case Kind::Bool:
            return {static_cast<unsigned char>(v == Variant::Random ? random() % 2
                                                                    : v != Variant::Empty)};
        case Kind::Byte: {
            // The key types the classes take; the record keeps one byte of it.
            const CK_ULONG secretTypes[] = {CKK_DES, CKK_DES3, CKK_AES, CKK_GENERIC_SECRET};
            CK_ULONG value = secretTypes[v == Variant::Random ? random() % 4 : static_cast<int>(v)];
            if (!secretKey) value = CKK_RSA;
            Bytes b(sizeof(CK_ULONG));
            std::memcpy(b.data(), &value, sizeof(value));
            return b;
        }
        case Kind::Date:
            if (v == Variant::Empty) return {};
            return Bytes({'1', '9', '9', '9', '1', '2',
                          static_cast<unsigned char>(v == Variant::Odd ? '0' : '3'), '1'});
        case Kind::Text8:
            length = v == Variant::Maximal ? 255 : v == Variant::Odd ? 9 : random() % 256;
            break;
        case Kind::Bytes16:
            length = v == Variant::Maximal ? 65535 : v == Variant::Odd ? 9 : random() % 300;
            break;
    }
    if (v == Variant::Empty) length = 0;
    Bytes b(length);
    const unsigned char odd[] = {0x00, 0xFF, 0x01, 0x08, 0x0A, 0x00, 0x04, 0x05, 0xFF};
    for (size_t i = 0; i < length; ++i) {
        b[i] = v == Variant::Odd ? odd[i % sizeof(odd)] : static_cast<unsigned char>(random());
    }
    if (f.kind == Kind::Text8 && v == Variant::Maximal) std::fill(b.begin(), b.end(), 'x');
    return b;
}

Bytes record(C11Object& object) {
    OrlBufferedWriter writer;
    object.serialize(writer);
    OrlByteArray out;
    writer.getContent(out);
    return Bytes(out.getContent(), out.getContent() + out.getLength());
}

// The two-call form: the length first, then the value in a buffer of it.
Bytes answer(C11Object& object, CK_ATTRIBUTE_TYPE type, CK_RV* rv) {
    CK_ATTRIBUTE a{type, nullptr, 0};
    CAttributeVector v;
    v.addElement(&a);
    *rv = object.getAttributes(v);
    if (*rv != CKR_OK || a.ulValueLen == static_cast<CK_ULONG>(-1)) return Bytes();
    Bytes buffer(a.ulValueLen);
    a.pValue = buffer.empty() ? nullptr : buffer.data();
    v.addElement(&a);
    *rv = object.getAttributes(v);
    return *rv == CKR_OK && a.ulValueLen == buffer.size() ? buffer : Bytes();
}

// One object of the class with every field given: write, read, write.
void roundTrip(CK_OBJECT_CLASS cls, Variant variant, std::mt19937& random) {
    std::unique_ptr<C11Object> object(make(cls));
    TemplateBuilder t;
    t.ulong(CKA_CLASS, cls).flag(CKA_TOKEN, true);
    if (variant != Variant::Empty)
        t.flag(CKA_PRIVATE, random() % 2).flag(CKA_MODIFIABLE, random() % 2);
    std::vector<Field> fields = fieldsOf(cls);
    std::vector<Bytes> given;
    for (const Field& f : fields) {
        given.push_back(valueFor(f, variant, cls == CKO_SECRET_KEY, random));
        // An empty date is refused when set (it is no CK_DATE); absent it stays.
        if (f.kind != Kind::Date || !given.back().empty()) t.bytes(f.type, given.back());
    }
    ASSERT_EQ(applyTemplate(*object, t), CKR_OK) << "class " << cls;
    object->setObjNumber(static_cast<uint16_t>(random() % 0xFFFF + 1));
    object->setPath(variant == Variant::Empty ? "" : "p/1");
    Bytes first = record(*object);

    Bytes tagged = {static_cast<unsigned char>(cls)};
    tagged.insert(tagged.end(), first.begin(), first.end());
    CBufferedReader reader(tagged.data(), static_cast<uint32_t>(tagged.size()));
    CObjectTable table;
    table.reload(kConnection, reader);
    C11Object* read = table.find(object->getObjNumber());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(record(*read), first) << "class " << cls;
    EXPECT_TRUE(read->isToken());
    EXPECT_EQ(read->isPrivate(), object->isPrivate());
    EXPECT_EQ(read->isModifiable(), object->isModifiable());
    for (size_t i = 0; i < fields.size(); ++i) {
        CK_RV rv = CKR_OK;
        Bytes back = answer(*read, fields[i].type, &rv);
        EXPECT_EQ(rv, CKR_OK) << std::hex << fields[i].type;
        if (fields[i].kind == Kind::Byte) {
            CK_ULONG want = 0, got = 0;
            std::memcpy(&want, given[i].data(), sizeof(want));
            if (back.size() == sizeof(got)) std::memcpy(&got, back.data(), sizeof(got));
            EXPECT_EQ(got, want) << std::hex << fields[i].type;
        } else if (fields[i].kind == Kind::Bool) {
            EXPECT_EQ(back, Bytes({static_cast<unsigned char>(given[i][0] ? 1 : 0)}))
                << std::hex << fields[i].type;
        } else {
            EXPECT_EQ(back, given[i]) << std::hex << fields[i].type << " class " << cls;
        }
    }
}

const CK_OBJECT_CLASS kClasses[] = {CKO_DATA, CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY,
                                    CKO_SECRET_KEY};

TEST(DirectoryRoundTrip, EmptyMaximalAndOddValuesOfEveryClass) {
    ObjectTestCard card;
    std::mt19937 random(1);
    for (CK_OBJECT_CLASS cls : kClasses) {
        for (Variant v : {Variant::Empty, Variant::Maximal, Variant::Odd}) {
            SCOPED_TRACE(static_cast<int>(v));
            roundTrip(cls, v, random);
        }
    }
}

TEST(DirectoryRoundTrip, RandomValuesOfEveryClass) {
    ObjectTestCard card;
    std::mt19937 random(std::random_device{}());
    for (int i = 0; i < 200 && !::testing::Test::HasFailure(); ++i) {
        for (CK_OBJECT_CLASS cls : kClasses) roundTrip(cls, Variant::Random, random);
    }
}

// Values the record cannot hold are refused when set, never written
// differently from what was given.
TEST(DirectoryRoundTrip, ValuesTheRecordCannotHoldAreRefused) {
    TemplateBuilder wideKeyType, longLabel, longId;
    wideKeyType.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, 0x1F);
    wideKeyType.ulong(CKA_KEY_TYPE, 0x11F);
    longLabel.ulong(CKA_CLASS, CKO_DATA).text(CKA_LABEL, std::string(256, 'l'));
    longId.ulong(CKA_CLASS, CKO_SECRET_KEY).bytes(CKA_ID, Bytes(65536, 1));
    C11SecretKey key(kConnection);
    EXPECT_EQ(applyTemplate(key, wideKeyType), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(key.getKeyType(), 0x1Fu);
    C11Data data(kConnection);
    EXPECT_EQ(applyTemplate(data, longLabel), CKR_ATTRIBUTE_VALUE_INVALID);
    C11SecretKey other(kConnection);
    EXPECT_EQ(applyTemplate(other, longId), CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace

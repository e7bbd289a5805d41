// Directories the fuzzer found whose round trip (read, write, read) changed
// an object: each must now read back as it was written.
#include <gtest/gtest.h>

#include <vector>

#include "C11Object.h"
#include "CObjectTable.h"
#include "ObjectDirectory.h"
#include "ObjectTestCard.h"

namespace {

typedef std::vector<unsigned char> Bytes;
constexpr ZT_HANDLE kConnection = 0x6161;

Bytes write(CObjectTable& table) {
    OrlByteArray out;
    EXPECT_EQ(buildObjectDirectory(table, out), CKR_OK);
    return Bytes(out.getContent(), out.getContent() + out.getLength());
}

// The answer to one attribute asked alone with a buffer of 64 bytes.
struct Answer {
    CK_RV rv;
    Bytes value;
};
Answer ask(CObjectTable& table, unsigned long number, CK_ATTRIBUTE_TYPE type) {
    C11Object* object = nullptr;
    EXPECT_TRUE(table.get(number, object));
    if (!object) return {CKR_OBJECT_HANDLE_INVALID, {}};
    unsigned char buffer[64];
    CK_ATTRIBUTE a = {type, buffer, sizeof buffer};
    CAttributeVector v;
    v.addElement(&a);
    CK_RV rv = object->getAttributes(v);
    Bytes value;
    if (rv == CKR_OK) value.assign(buffer, buffer + a.ulValueLen);
    return {rv, value};
}

TEST(DirectoryCutField, TextCutOffBeforeItsFirstByteReadsAsNone) {
    ObjectTestCard card;
    // A token data object whose application claims 2 bytes and has none.
    const Bytes cut = {0x6B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x02};
    CObjectTable first;
    parseObjectDirectory(OrlByteArray(cut.data(), cut.size()), kConnection, first);
    Bytes written = write(first);
    EXPECT_EQ(written,
              (Bytes{0x6B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}));
    CObjectTable second;
    parseObjectDirectory(OrlByteArray(written.data(), written.size()), kConnection, second);
    Answer before = ask(first, 0, CKA_APPLICATION), after = ask(second, 0, CKA_APPLICATION);
    EXPECT_EQ(before.rv, after.rv);
    EXPECT_EQ(before.value, after.value);
}

}  // namespace

// The utility library's byte array: appends from its own buffer, growth that
// cannot wrap, and wiping.
#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "OrlByteArray.h"

namespace {

std::vector<unsigned char> bytesOf(const OrlByteArray& a) {
    return std::vector<unsigned char>(a.getContent(), a.getContent() + a.getLength());
}

TEST(ByteArray, AppendFromItsOwnBufferWhileGrowing) {
    // Sixteen bytes fill the first allocation exactly: the append must grow,
    // which frees the buffer the source pointer points into.
    OrlByteArray a;
    for (unsigned char i = 0; i < 16; ++i) a.append(i);
    a.append(a.getContent() + 4, 8);
    std::vector<unsigned char> expected;
    for (unsigned char i = 0; i < 16; ++i) expected.push_back(i);
    for (unsigned char i = 4; i < 12; ++i) expected.push_back(i);
    EXPECT_EQ(bytesOf(a), expected);

    a.append(a);  // the whole array onto itself
    ASSERT_EQ(a.getLength(), 48u);
    EXPECT_EQ(std::vector<unsigned char>(a.getContent() + 24, a.getContent() + 48), expected);
}

TEST(ByteArray, GrowingPastTheLimitThrowsAndChangesNothing) {
    OrlByteArray a(reinterpret_cast<const unsigned char*>("abc"), 3);
    // With a 32-bit unsigned long the old growth loop wrapped and never ended here.
    EXPECT_THROW(a.setLength(0xFFFFFFFFul), std::bad_alloc);
    EXPECT_THROW(a.ensureCapacity(OrlByteArray::kMaxLength + 1ul), std::bad_alloc);
    EXPECT_EQ(a.getLength(), 3u);
    EXPECT_EQ(a.getContent()[2], 'c');
    // A length that, added to the current one, would pass the limit.
    unsigned char byte = 1;
    EXPECT_THROW(a.append(&byte, 0xFFFFFFFFu), std::bad_alloc);
    EXPECT_EQ(a.getLength(), 3u);
}

TEST(ByteArray, WipeZeroesAllTheRoomAndEmpties) {
    OrlByteArray a;
    a.ensureCapacity(64);
    for (int i = 0; i < 40; ++i) a.append(static_cast<unsigned char>(0xA0 + i));
    unsigned char* p = a.getContent();
    a.removeAll();
    EXPECT_EQ(p[5], 0xA5);  // removeAll only forgets
    a.wipe();
    EXPECT_EQ(a.getLength(), 0u);
    EXPECT_EQ(a.getContent(), p);  // the room stays
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0) << i;
}

}  // namespace

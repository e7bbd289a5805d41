// The per-slot object table and object numbers.
#include <gtest/gtest.h>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "CObjectTable.h"
#include "ObjectDirectory.h"
#include "ObjectTestCard.h"

namespace {

constexpr ZT_HANDLE kSlotA = 0xA;
constexpr ZT_HANDLE kSlotB = 0xB;

C11Data* dataObject(ZT_HANDLE h, bool token, bool isPrivate) {
    C11Data* data = new C11Data(h);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, token).flag(CKA_PRIVATE, isPrivate);
    EXPECT_EQ(applyTemplate(*data, t), CKR_OK);
    return data;
}

// A table bound to a slot's connection, as after the slot's first directory read.
void bind(CObjectTable& table, ZT_HANDLE h) {
    CBufferedReader empty(nullptr, 0);
    table.reload(h, empty);
}

TEST(ObjectTable, RemovalsDeleteTheirObjectsAndMarkForReload) {
    CObjectTable table;
    bind(table, kSlotA);
    EXPECT_FALSE(table.needsReload());
    C11Data* objects[] = {dataObject(kSlotA, true, true), dataObject(kSlotA, true, false),
                          dataObject(kSlotA, false, true), dataObject(kSlotA, false, false)};
    for (C11Data* o : objects) putObject(table, o);

    EXPECT_FALSE(table.removeObject(0xFFFF0));
    EXPECT_TRUE(table.removeObject(objects[3]->getHandle()));
    EXPECT_EQ(table.size(), 3u);

    table.removePrivateObjects();
    EXPECT_TRUE(table.needsReload());
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.containsKey(objects[1]->getHandle()));

    bind(table, kSlotA);
    EXPECT_EQ(table.size(), 0u);  // a reload drops the token objects
    table.put(100, dataObject(kSlotA, false, false));
    table.clear();
    EXPECT_TRUE(table.needsReload());
    EXPECT_EQ(table.size(), 0u);
    table.put(101, dataObject(kSlotA, true, false));  // the destructor deletes it
}

TEST(ObjectTable, CounterGivesNumbersInOrderAndStoresTheNext) {
    CObjectTable table;
    table.setNextNumber(20);
    C11Data* a = dataObject(kSlotA, true, false);
    C11Data* b = dataObject(kSlotA, true, false);
    EXPECT_EQ(a->getObjNumber(), 0u);  // numbered only when it enters the table
    EXPECT_EQ(table.insertTokenObject(a), 20u);
    EXPECT_EQ(table.insertTokenObject(b), 21u);
    EXPECT_EQ(b->getHandle(), 21u);
    EXPECT_EQ(table.nextNumber(), 22u);
}

TEST(ObjectTable, NewObjectsNeverTakeANumberTheTableAlreadyHas) {
    ObjectTestCard card;
    // The slot's directory says the counter is 5 while objects 5 and 6 exist.
    card.directory = {0x00, 0x05, 0x00, 0x00, 0x05, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x06, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00};
    CObjectTable slotA;
    ASSERT_EQ(readObjectDirectory(kSlotA, slotA), CKR_OK);
    ASSERT_EQ(slotA.size(), 2u);
    EXPECT_EQ(slotA.nextNumber(), 5u);
    EXPECT_EQ(slotA.insertTokenObject(dataObject(kSlotA, true, false)), 7u);
    EXPECT_EQ(slotA.nextNumber(), 8u);
    EXPECT_EQ(slotA.size(), 3u);
}

TEST(ObjectTable, CounterWrapsPastZero) {
    CObjectTable table;
    table.setNextNumber(65535);
    EXPECT_EQ(table.insertTokenObject(dataObject(kSlotA, true, false)), 65535u);
    EXPECT_EQ(table.insertTokenObject(dataObject(kSlotA, true, false)), 1u);  // 0 is invalid
    EXPECT_EQ(table.nextNumber(), 2u);
}

// Session objects live above every object number: no record can take their handle.
TEST(ObjectTable, SessionObjectsNeverShareAHandleWithARecord) {
    ObjectTestCard card;
    CObjectTable table;
    C11Data* session = dataObject(kSlotA, false, false);
    CK_OBJECT_HANDLE handle = table.insertSessionObject(session);
    EXPECT_GE(handle, CObjectTable::kFirstSessionHandle);
    EXPECT_NE(table.insertSessionObject(dataObject(kSlotA, false, false)), handle);
    // A directory naming every low number leaves the session objects alone.
    card.directory = {0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(readObjectDirectory(kSlotA, table), CKR_OK);
    EXPECT_EQ(table.find(handle), session);
    EXPECT_EQ(table.size(), 3u);
}

// What a re-read keeps: an unchanged record keeps its object (and so its
// cached value); a changed record replaces it; a missing one removes it.
TEST(ObjectTable, ReloadKeepsUnchangedObjectsAndDropsDestroyedOnes) {
    ObjectTestCard card;
    // Objects 1 ("a", path "p1") and 2 ("b", path "p2"), counter 3.
    const std::vector<unsigned char> one = {0x00, 0x00, 0x01, 0x00, 0x05, 0x01, 'a',
                                            0x02, 'p',  '1',  0x00, 0x00, 0x00};
    const std::vector<unsigned char> two = {0x00, 0x00, 0x02, 0x00, 0x05, 0x01, 'b',
                                            0x02, 'p',  '2',  0x00, 0x00, 0x00};
    card.directory = {0x00, 0x03};
    card.directory.insert(card.directory.end(), one.begin(), one.end());
    card.directory.insert(card.directory.end(), two.begin(), two.end());
    CObjectTable table;
    ASSERT_EQ(readObjectDirectory(kSlotA, table), CKR_OK);
    C11Object* first = table.find(1);
    C11Object* second = table.find(2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    // Elsewhere: object 2 renamed to "c", object 1 destroyed, object 3 made.
    std::vector<unsigned char> renamed = two;
    renamed[6] = 'c';
    std::vector<unsigned char> three = one;
    three[2] = 0x03;
    card.directory = {0x00, 0x04};
    card.directory.insert(card.directory.end(), renamed.begin(), renamed.end());
    card.directory.insert(card.directory.end(), three.begin(), three.end());
    table.markForReload();
    ASSERT_EQ(readObjectDirectory(kSlotA, table), CKR_OK);
    EXPECT_EQ(table.find(1), nullptr);
    ASSERT_NE(table.find(2), nullptr);
    EXPECT_STREQ(table.find(2)->getLabel(), "c");
    ASSERT_NE(table.find(3), nullptr);
    C11Object* kept = table.find(3);
    table.markForReload();
    ASSERT_EQ(readObjectDirectory(kSlotA, table), CKR_OK);
    EXPECT_EQ(table.find(3), kept);  // unchanged: the same object
}

TEST(ObjectTable, ReaderNeverReadsPastTheEnd) {
    unsigned char bytes[] = {1, 2, 3};
    CBufferedReader reader(bytes, 3);
    unsigned char out[8] = {0};
    EXPECT_EQ(reader.read(out, 2), 2u);
    EXPECT_EQ(reader.read(out, 5), 1u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(reader.read(out, 1), 0u);
    OrlByteArray empty;
    CBufferedReader none(empty);
    EXPECT_EQ(none.read(out, 1), 0u);
}

}  // namespace

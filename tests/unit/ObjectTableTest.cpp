// The per-slot object table and object numbers.
#include <gtest/gtest.h>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "CObjectTable.h"
#include "ObjectDirectory.h"
#include "ObjectNumbers.h"
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
    for (C11Data* o : objects) table.put(o->getObjNumber(), o);

    EXPECT_FALSE(table.removeObject(0xFFFF0));
    EXPECT_TRUE(table.removeObject(objects[3]->getObjNumber()));
    EXPECT_EQ(table.size(), 3u);

    table.removePrivateObjects();
    EXPECT_TRUE(table.needsReload());
    ASSERT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.containsKey(objects[1]->getObjNumber()));

    bind(table, kSlotA);
    EXPECT_EQ(table.size(), 0u);  // a reload drops the token objects
    table.put(100, dataObject(kSlotA, false, false));
    table.clear();
    EXPECT_TRUE(table.needsReload());
    EXPECT_EQ(table.size(), 0u);
    table.put(101, dataObject(kSlotA, true, false));  // the destructor deletes it
}

TEST(ObjectTable, CounterGivesNumbersInOrderAndStoresTheNext) {
    g_usNextObjNumber = 20;
    C11Data a(kSlotA), b(kSlotA);
    EXPECT_EQ(a.getObjNumber(), 20u);
    EXPECT_EQ(b.getObjNumber(), 21u);
    EXPECT_EQ(g_usNextObjNumber, 22u);
}

TEST(ObjectTable, NewObjectsNeverTakeANumberTheirSlotAlreadyHas) {
    ObjectTestCard card;
    // The slot's directory says the counter is 5 while objects 5 and 6 exist.
    card.directory = {0x00, 0x05, 0x00, 0x00, 0x05, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x06, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00};
    CObjectTable slotA, slotB;
    ASSERT_EQ(readObjectDirectory(kSlotA, slotA), CKR_OK);
    ASSERT_EQ(slotA.size(), 2u);
    bind(slotB, kSlotB);
    EXPECT_EQ(g_usNextObjNumber, 5u);

    C11Data* fresh = dataObject(kSlotA, true, false);
    EXPECT_EQ(fresh->getObjNumber(), 7u);
    EXPECT_EQ(g_usNextObjNumber, 8u);
    slotA.put(fresh->getObjNumber(), fresh);
    EXPECT_EQ(slotA.size(), 3u);

    g_usNextObjNumber = 5;  // another slot's objects do not get in the way
    C11Data other(kSlotB);
    EXPECT_EQ(other.getObjNumber(), 5u);
}

TEST(ObjectTable, CounterWrapsPastZero) {
    CObjectTable table;
    bind(table, kSlotA);
    g_usNextObjNumber = 65535;
    C11Data last(kSlotA), first(kSlotA);
    EXPECT_EQ(last.getObjNumber(), 65535u);
    EXPECT_EQ(first.getObjNumber(), 1u);  // 0 is the invalid handle
    EXPECT_EQ(g_usNextObjNumber, 2u);
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

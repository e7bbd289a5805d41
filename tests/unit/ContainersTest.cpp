#include <gtest/gtest.h>

#include <vector>

#include "OrlHashtable.h"
#include "OrlVector.h"

namespace {

template <typename K, typename V>
std::vector<K> walkKeys(OrlHashtable<K, V>& table) {
    std::vector<K> keys;
    K key;
    V value;
    for (auto* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, value);
        keys.push_back(key);
    }
    return keys;
}

TEST(OrlHashtable, GrowsOnThe76thKeyAndKeepsEveryEntry) {
    OrlHashtable<int, int> table;
    for (int i = 0; i < 75; ++i) table.put(i * 7, i);
    EXPECT_EQ(table.capacity(), 100u);
    table.put(75 * 7, 75);
    EXPECT_EQ(table.capacity(), 175u);
    EXPECT_EQ(table.size(), 76u);
    for (int i = 0; i < 76; ++i) {
        int key = i * 7, value = -1;
        ASSERT_TRUE(table.get(key, value)) << key;
        EXPECT_EQ(value, i);
    }
    for (int i = 76; i < 132; ++i) table.put(i * 7, i);
    EXPECT_EQ(table.capacity(), 306u);
}

TEST(OrlHashtable, PutReplacesWithoutGrowing) {
    OrlHashtable<int, int> table;
    table.put(4, 1);
    table.put(4, 2);
    int key = 4, value = 0;
    EXPECT_EQ(table.size(), 1u);
    ASSERT_TRUE(table.get(key, value));
    EXPECT_EQ(value, 2);
}

TEST(OrlHashtable, WalksHighestBucketFirstAndNewestFirstInAChain) {
    OrlHashtable<int, int> table;
    EXPECT_TRUE(walkKeys(table).empty());
    table.put(1, 0);
    table.put(2, 0);
    table.put(3, 0);
    EXPECT_EQ(walkKeys(table), (std::vector<int>{3, 2, 1}));

    OrlHashtable<int, int> chained;
    chained.put(5, 0);
    chained.put(105, 0);
    EXPECT_EQ(walkKeys(chained), (std::vector<int>{105, 5}));
}

TEST(OrlHashtable, RemovingAChainHeadKeepsTheRestFindable) {
    OrlHashtable<int, int> table;
    for (int k : {5, 105, 205}) table.put(k, k);
    EXPECT_TRUE(table.remove(5));
    EXPECT_FALSE(table.remove(5));
    EXPECT_TRUE(table.containsKey(105));
    EXPECT_TRUE(table.containsKey(205));
    EXPECT_EQ(table.size(), 2u);
    EXPECT_TRUE(table.remove(205));  // middle and tail unlink too
    EXPECT_EQ(walkKeys(table), (std::vector<int>{105}));
}

TEST(OrlHashtable, RehashReversesChainsInTheSpecifiedOrder) {
    // Keys 0 and 100 share bucket 0 at capacity 100 (100 walked first); after
    // growth to 175 they land in buckets 0 and 100.
    OrlHashtable<int, int> table;
    for (int i = 0; i < 76; ++i) table.put(i == 1 ? 100 : i, i);
    std::vector<int> keys = walkKeys(table);
    ASSERT_EQ(keys.size(), 76u);
    EXPECT_EQ(keys.front(), 100);  // highest non-empty bucket of 175
    EXPECT_EQ(keys.back(), 0);
}

TEST(OrlHashtable, PointerKeysHashByTheirLow32Bits) {
    OrlHashtable<int*, int*> table;
    int a = 0, b = 0;
    table.put(&a, &a);
    table.put(&b, &b);
    int* key = &b;
    int* value = nullptr;
    ASSERT_TRUE(table.get(key, value));
    EXPECT_EQ(value, &b);
}

TEST(OrlVector, GrowsByExactlyOnePastFifty) {
    OrlVector<unsigned long> v;
    for (unsigned long i = 0; i < 50; ++i) v.addElement(i);
    EXPECT_EQ(v.capacity(), 50u);
    v.addElement(50);
    EXPECT_EQ(v.capacity(), 51u);
    v.addElement(51);
    EXPECT_EQ(v.capacity(), 52u);
    EXPECT_EQ(v.elementAt(51), 51u);
}

TEST(OrlVector, BadIndexesRaiseTheErrorCodeAndChangeNothing) {
    OrlVector<int> v;
    v.addElement(1);
    try {
        v.elementAt(1);
        FAIL() << "no exception";
    } catch (const OrlIndexError& e) {
        EXPECT_EQ(e.code, 0xC0001001u);
    }
    EXPECT_THROW(v.setElementAt(3, 1), OrlIndexError);
    EXPECT_THROW(v.removeElementAt(1), OrlIndexError);
    EXPECT_THROW(v.insertElementAt(3, 2), OrlIndexError);
    EXPECT_EQ(v.size(), 1u);
    EXPECT_EQ(v.elementAt(0), 1);
}

TEST(OrlVector, RemoveElementTakesOnlyTheFirstOccurrence) {
    OrlVector<int> v;
    for (int x : {7, 8, 7}) v.addElement(x);
    EXPECT_TRUE(v.removeElement(7));
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v.elementAt(0), 8);
    EXPECT_EQ(v.elementAt(1), 7);
    EXPECT_EQ(v.indexOf(7, 0), 1);
    EXPECT_EQ(v.indexOf(9, 0), -1);
    EXPECT_FALSE(v.removeElement(9));
    v.insertElementAt(5, 0);
    EXPECT_EQ(v.elementAt(0), 5);
}

}  // namespace

// Reading directories: empty and missing ones, unknown class tags, short and
// garbled data. A bad directory must never crash, hang or read out of bounds
// (run under the address sanitizer).
#include <gtest/gtest.h>

#include <vector>

#include "C11Data.h"
#include "C11SecretKey.h"
#include "CObjectTable.h"
#include "ObjectDirectory.h"
#include "ObjectTestCard.h"

namespace {

typedef std::vector<unsigned char> Bytes;
constexpr ZT_HANDLE kConnection = 0x7777;

const Bytes kDataRecordOne = {0x00, 0x00, 0x01, 0x00, 0x05, 0x03, 'a', 'b', 'c',
                              0x02, 'd',  '1',  0x00, 0x00, 0x03, 'a', 'p', 'p'};
const Bytes kSecretRecordTwo = {0x04, 0x00, 0x02, 0x04, 0x05, 0x00, 0x01, 'k',  0x00, 0x00,
                                0x1F, 0x00, 0x01, 0x42, 0x00, 0x00, 0x01, 0xF5, 0x80};

Bytes directory(std::initializer_list<Bytes> records) {
    Bytes out = {0x00, 0x09};
    for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
    return out;
}

C11Object* lookup(CObjectTable& table, unsigned long number) {
    C11Object* object = nullptr;
    return table.get(number, object) ? object : nullptr;
}

TEST(DirectoryRead, ZeroOneSetsTheCounterToOneAndYieldsNothing) {
    ObjectTestCard card;
    card.directory = {0x00, 0x01};
    CObjectTable table;
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(table.nextNumber(), 1u);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_FALSE(table.needsReload());
}

TEST(DirectoryRead, ZeroLengthAndStatusNineMeanAnEmptyDirectory) {
    ObjectTestCard card;
    CObjectTable table;
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(table.nextNumber(), 1u);

    card.directory = directory({kDataRecordOne});
    card.getTblStatus = kStatusNoDirectory;  // exactly 9: nothing stored yet
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(table.nextNumber(), 1u);
    EXPECT_EQ(table.size(), 0u);
}

// Only the library's own code means "no directory": a status that merely
// ends in 9 (PC/SC's 0x80100009) is a failure, and the table stays marked.
TEST(DirectoryRead, StatusesEndingInNineAreFailures) {
    ObjectTestCard card;
    for (uint32_t status : {0x80100009u, 0x00010009u, 0x6A89u}) {
        CObjectTable table;
        card.getTblStatus = status;
        EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_DEVICE_ERROR) << status;
        EXPECT_TRUE(table.needsReload());
    }
}

TEST(DirectoryRead, OtherStatusesAreDeviceErrorsAndLeaveTheTable) {
    ObjectTestCard card;
    card.directory = directory({kDataRecordOne});
    CObjectTable table;
    ASSERT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    card.getTblStatus = 0x6A82;
    table.removePrivateObjects();
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_DEVICE_ERROR);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_TRUE(table.needsReload());
}

TEST(DirectoryRead, UnknownClassTagAfterTwoGoodRecordsKeepsThemAndStaysMarked) {
    ObjectTestCard card;
    card.directory = directory({kDataRecordOne, kSecretRecordTwo, {0x07, 0x00, 0x03}});
    CObjectTable table;
    EXPECT_EQ(readObjectDirectory(kConnection, table), CKR_GENERAL_ERROR);
    EXPECT_EQ(table.size(), 2u);
    ASSERT_NE(lookup(table, 1), nullptr);
    ASSERT_NE(lookup(table, 2), nullptr);
    EXPECT_EQ(lookup(table, 2)->getClass(), CKO_SECRET_KEY);
    EXPECT_TRUE(table.needsReload());

    CBufferedReader reader(Bytes{0x05}.data(), 1);
    try {
        table.reload(kConnection, reader);
        ADD_FAILURE() << "a tag of 5 must be refused";
    } catch (const CUnknownObjectClass& e) {
        EXPECT_EQ(e.tag, 5u);
    }
}

TEST(DirectoryRead, ShortDataInARecordKeepsWhatWasRead) {
    CObjectTable table;
    // A data record cut inside its label: the label is what arrived.
    Bytes cut = {0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x07, 0x05, 'a', 'b'};
    parseObjectDirectory(OrlByteArray(cut.data(), cut.size()), kConnection, table);
    EXPECT_EQ(table.nextNumber(), 5u);
    C11Object* object = lookup(table, 0);
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->getLabel(), "ab");
    EXPECT_STREQ(object->getPath(), "");
    EXPECT_EQ(object->getClass(), CKO_DATA);
    EXPECT_FALSE(table.needsReload());

    // An object id whose bytes do not all arrive is left out.
    Bytes shortId = {0x00, 0x05, 0x00, 0x00, 0x09, 0x00, 0x05, 0x00, 0x00, 0x00, 0x04, 0xAA};
    parseObjectDirectory(OrlByteArray(shortId.data(), shortId.size()), kConnection, table);
    object = lookup(table, 9);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->getObjectId(), nullptr);
}

TEST(DirectoryRead, ARecordsClassIsItsTagNotItsClassByte) {
    CObjectTable table;
    // A data record whose class byte claims a private key.
    Bytes dir = {0x00, 0x05, 0x00, 0x00, 0x03, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    parseObjectDirectory(OrlByteArray(dir.data(), dir.size()), kConnection, table);
    ASSERT_NE(lookup(table, 3), nullptr);
    EXPECT_EQ(lookup(table, 3)->getClass(), CKO_DATA);
}

TEST(DirectoryRead, SessionObjectsSurviveAReload) {
    ObjectTestCard card;
    card.directory = directory({kDataRecordOne});
    CObjectTable table;
    ASSERT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    C11Data* session = new C11Data(kConnection);
    TemplateBuilder t;
    t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, false).bytes(CKA_VALUE, {1});
    ASSERT_EQ(applyTemplate(*session, t), CKR_OK);
    putObject(table, session);

    table.removePrivateObjects();
    ASSERT_EQ(readObjectDirectory(kConnection, table), CKR_OK);
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(lookup(table, session->getHandle()), session);
    OrlByteArray written;
    ASSERT_EQ(buildObjectDirectory(table, written), CKR_OK);
    EXPECT_EQ(written.getLength(), 2u + kDataRecordOne.size());
}

TEST(DirectoryRead, DuplicateNumbersInADirectoryReplaceWithoutLeaking) {
    CObjectTable table;
    Bytes dir = directory({kDataRecordOne, kDataRecordOne});
    parseObjectDirectory(OrlByteArray(dir.data(), dir.size()), kConnection, table);
    EXPECT_EQ(table.size(), 1u);  // the sanitizer reports the first copy if it leaked
}

// Every prefix of a real directory, and many garbled copies, parse to an end.
TEST(DirectoryRead, TruncatedAndGarbledDirectoriesNeverCrashOrHang) {
    Bytes full = directory({kDataRecordOne, kSecretRecordTwo});
    Bytes more = {0x01, 0x00, 0x04, 0x01, 0x04, 0x00, 0x01, 'c',  0x00, 0x00, 0x00, 0x00, 0x01,
                  'S',  0x00, 0x01, 'I',  0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x05, 0x02, 0x05,
                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, '2',  '0',  '2',  '4',  '0',
                  '1',  '0',  '1',  0x00, 0x01, 0x00, 0x00, 0x0C, 0x02, 'C',  'x',  0x01, 0x01,
                  0x03, 0x00, 0x06, 0x03, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                  0x00, 0x01, 0x00, 0x00, 0xEB, 0x00, 0xFF, 0x00};
    full.insert(full.end(), more.begin(), more.end());
    {
        CObjectTable table;
        parseObjectDirectory(OrlByteArray(full.data(), full.size()), kConnection, table);
        EXPECT_EQ(table.size(), 5u);
    }
    for (size_t n = 0; n <= full.size(); ++n) {
        CObjectTable table;
        parseObjectDirectory(OrlByteArray(full.data(), n), kConnection, table);
        EXPECT_FALSE(table.needsReload()) << "prefix " << n;
    }
    uint32_t seed = 12345;
    auto next = [&seed]() { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 2000; ++round) {
        Bytes garbled = full;
        int flips = 1 + static_cast<int>(next() % 6);
        for (int i = 0; i < flips; ++i) garbled[next() % garbled.size()] = next() >> 16;
        garbled.resize(2 + next() % (garbled.size() - 1));
        CObjectTable table;
        try {
            parseObjectDirectory(OrlByteArray(garbled.data(), garbled.size()), kConnection, table);
        } catch (const CUnknownObjectClass& e) {
            EXPECT_GE(e.tag, 5u);
            EXPECT_TRUE(table.needsReload());
        }
    }
}

}  // namespace

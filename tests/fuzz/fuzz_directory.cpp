// The directory reader and writer. Any byte string may come from the card:
// reading it must never crash or read out of bounds, and the round trip must
// hold: whatever the reader accepts, writing it and reading that back gives
// the same token objects with the same attribute values, and writing those
// again gives the same bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "C11Object.h"
#include "CObjectTable.h"
#include "CardLibrary.h"
#include "FuzzCalls.h"
#include "ObjectDirectory.h"

namespace {

using fuzz::Bytes;
constexpr ZT_HANDLE kConnection = 0x4242;

// Stored values for the objects' CKA_VALUE: a value that depends on the path
// only, so both readings see the same one. Public keys are never there.
ZT_STATUS readObj(ZT_HANDLE, const char* path, uint32_t, OrlByteArray& out) {
    std::string value = std::string("value of ") + (path ? path : "");
    out.append(reinterpret_cast<const unsigned char*>(value.data()),
               static_cast<unsigned>(value.size()));
    return 0;
}
ZT_STATUS noPublicKey(ZT_HANDLE, const char*, OrlByteArray&) {
    return 0x6A88;
}

CardFunctions s_card = [] {
    CardFunctions t = {};
    t.ZT_readObj = readObj;
    t.ZT_getPublicKey = noPublicKey;
    return t;
}();

struct Answer {
    CK_RV rv;
    CK_ULONG length;
    Bytes value;
    bool operator==(const Answer& o) const {
        return rv == o.rv && length == o.length && value == o.value;
    }
};
typedef std::map<CK_ATTRIBUTE_TYPE, Answer> Answers;

// Every attribute of the object, each asked alone: length, then value.
Answers answersOf(C11Object& object) {
    Answers out;
    for (CK_ATTRIBUTE_TYPE type : fuzz::attributeTypes()) {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        CAttributeVector v;
        v.addElement(&a);
        Answer answer{object.getAttributes(v), a.ulValueLen, {}};
        if (answer.rv == CKR_OK && a.ulValueLen != static_cast<CK_ULONG>(-1) &&
            a.ulValueLen < (1u << 20)) {
            answer.value.resize(a.ulValueLen + 1);
            a.pValue = answer.value.data();
            CAttributeVector again;
            again.addElement(&a);
            answer.rv = object.getAttributes(again);
            answer.value.resize(a.ulValueLen <= answer.value.size() ? a.ulValueLen : 0);
        }
        out[type] = answer;
    }
    return out;
}

std::map<unsigned long, Answers> tokenObjects(CObjectTable& table) {
    std::map<unsigned long, Answers> out;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (object && object->isToken()) out[key] = answersOf(*object);
    }
    return out;
}

[[noreturn]] void broken(const char* what, unsigned long number) {
    std::fprintf(stderr, "directory round trip broken: %s (object %lu)\n", what, number);
    std::abort();
}

// Each token object's record (class tag and body), by object number.
std::map<unsigned long, Bytes> records(CObjectTable& table) {
    std::map<unsigned long, Bytes> out;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (!object || !object->isToken()) continue;
        OrlBufferedWriter writer;
        writer.write(static_cast<unsigned char>(object->getClass() & 0xFF));
        if (object->write(writer) != CKR_OK) broken("a record read cannot be written", key);
        OrlByteArray bytes;
        writer.getContent(bytes);
        out[key] = Bytes(bytes.getContent(), bytes.getContent() + bytes.getLength());
    }
    return out;
}

[[noreturn]] void broken(const char* what, OrlByteArray& written, OrlByteArray* rewritten) {
    std::fprintf(stderr, "directory round trip broken: %s\nwritten:   %s\n", what,
                 written.toHexString());
    if (rewritten) std::fprintf(stderr, "rewritten: %s\n", rewritten->toHexString());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    publishCardFunctions(&s_card);
    OrlByteArray directory(data, static_cast<unsigned long>(size));
    CObjectTable first;
    try {
        parseObjectDirectory(directory, kConnection, first);
    } catch (const CUnknownObjectClass&) {
        return 0;  // refused: nothing to round-trip
    }
    OrlByteArray written;
    if (buildObjectDirectory(first, written) != CKR_OK) return 0;

    CObjectTable second;
    try {
        parseObjectDirectory(written, kConnection, second);
    } catch (const CUnknownObjectClass&) {
        broken("the reader refuses what the writer wrote", written, nullptr);
    }
    OrlByteArray rewritten;
    if (buildObjectDirectory(second, rewritten) != CKR_OK)
        broken("second write failed", written, nullptr);
    // Records come in table order, which a table's history may change: the
    // records are compared by object number. An empty table writes the counter
    // as 00 01 (handles start over at 1), so the counter survives only where
    // records follow it.
    if (written.getLength() < 2 || rewritten.getLength() < 2)
        broken("no counter", written, &rewritten);
    bool counterKept = written.getLength() == 2 ||
                       std::memcmp(written.getContent(), rewritten.getContent(), 2) == 0;
    if (!counterKept || written.getLength() != rewritten.getLength() ||
        records(first) != records(second))
        broken("writing what was read back changes the bytes", written, &rewritten);
    if (tokenObjects(first) != tokenObjects(second))
        broken("objects read back differ from those written", written, &rewritten);
    return 0;
}

#include "CObjectTable.h"

#include <cstring>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "Log.h"
#include "OrlVector.h"

namespace {

// Handles of session objects, process-wide so that they differ between slots too.
unsigned long s_nextSessionHandle = CObjectTable::kFirstSessionHandle;
constexpr unsigned long kLastSessionHandle = 0xFFFFFFFFUL;

C11Object* readRecord(unsigned char tag, ZT_HANDLE hConnection, CBufferedReader& reader) {
    switch (tag) {
        case CKO_DATA:
            return new C11Data(hConnection, reader);
        case CKO_CERTIFICATE:
            return new C11X509(hConnection, reader);
        case CKO_PUBLIC_KEY:
            return new C11RSAPublicKey(hConnection, reader);
        case CKO_PRIVATE_KEY:
            return new C11RSAPrivateKey(hConnection, reader);
        case CKO_SECRET_KEY:
            return new C11SecretKey(hConnection, reader);
        default:
            throw CUnknownObjectClass{tag};
    }
}

// Whether `kept` would write exactly the record body just read.
bool writesSameRecord(C11Object& kept, C11Object& read, const unsigned char* body,
                      uint32_t length) {
    // An object with changes not yet stored is not what the card holds.
    if (kept.isJustCreated() || kept.isDataModified()) return false;
    if (kept.getClass() != read.getClass()) return false;
    const char* a = kept.getPath();
    const char* b = read.getPath();
    if (!a || !b || std::strcmp(a, b) != 0) return false;
    OrlBufferedWriter writer;
    kept.serialize(writer);
    OrlByteArray bytes;
    writer.getContent(bytes);
    return bytes.getLength() == length && std::memcmp(bytes.getContent(), body, length) == 0;
}

}  // namespace

CObjectTable::CObjectTable() = default;

CObjectTable::~CObjectTable() {
    clear();
}

void CObjectTable::removeAll() {
    removeWhere([](C11Object*) { return true; });
}

void CObjectTable::clear() {
    removeAll();
    m_bReloadNeeded = true;
}

C11Object* CObjectTable::find(CK_OBJECT_HANDLE hObject) {
    unsigned long key = hObject;
    C11Object* object = nullptr;
    if (!get(key, object)) return nullptr;
    return object;
}

bool CObjectTable::removeObject(CK_OBJECT_HANDLE hObject) {
    unsigned long key = hObject;
    C11Object* object = nullptr;
    if (!get(key, object)) return false;
    remove(key);
    delete object;
    return true;
}

template <typename Predicate>
void CObjectTable::removeWhere(Predicate&& predicate) {
    OrlVector<unsigned long> numbers;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (Entry* e = getFirstEntry(); e;) {
        e = getNextEntry(e, key, object);
        if (object && predicate(object)) {
            numbers.addElement(key);
            delete object;
        }
    }
    for (uint32_t i = 0; i < numbers.size(); ++i) remove(numbers.elementAt(i));
}

void CObjectTable::removePrivateObjects() {
    removeWhere([](C11Object* o) { return o->isPrivate(); });
    m_bReloadNeeded = true;
}

void CObjectTable::removeTokenObjects() {
    removeWhere([](C11Object* o) { return o->isToken(); });
    m_bReloadNeeded = true;
}

void CObjectTable::rebind(ZT_HANDLE hConnection) {
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (Entry* e = getFirstEntry(); e;) {
        e = getNextEntry(e, key, object);
        if (object) object->setConnection(hConnection);
    }
}

void CObjectTable::reload(ZT_HANDLE hConnection, CBufferedReader& reader) {
    logMessage("-> reload");
    m_bReloadNeeded = true;
    // The token objects named by the directory read so far, by number.
    OrlHashtable<unsigned long, C11Object*> named;
    struct Cleanup {
        CObjectTable& table;
        OrlHashtable<unsigned long, C11Object*>& named;
        // Token objects no record names were destroyed elsewhere. Runs also
        // when an unknown tag ends the reading, as the old reload did.
        ~Cleanup() {
            table.removeWhere(
                [&](C11Object* o) { return o->isToken() && !named.containsKey(o->getHandle()); });
        }
    } cleanup{*this, named};

    unsigned char tag = 0;
    while (true) {
        uint32_t start = reader.position();
        if (reader.read(&tag, 1) != 1) break;
        logMessage("CLASS %d", tag);
        C11Object* read = readRecord(tag, hConnection, reader);
        unsigned long key = read->getHandle();
        C11Object* current = nullptr;
        if (get(key, current) && current && current->isToken() &&
            writesSameRecord(*current, *read, reader.data() + start + 1,
                             reader.position() - start - 1)) {
            delete read;
        } else {
            if (current) delete current;
            put(key, read);
            current = read;
        }
        named.put(key, current);
    }
    m_bReloadNeeded = false;
}

CK_OBJECT_HANDLE CObjectTable::insertTokenObject(C11Object* object) {
    for (uint32_t tries = 0; tries <= 0xFFFF; ++tries) {
        uint16_t number = m_usNextNumber++;
        if (number == 0 || containsKey(number)) continue;
        object->setObjNumber(number);
        put(number, object);
        return number;
    }
    return 0;
}

CK_OBJECT_HANDLE CObjectTable::insertSessionObject(C11Object* object) {
    while (containsKey(s_nextSessionHandle)) {
        s_nextSessionHandle = s_nextSessionHandle == kLastSessionHandle ? kFirstSessionHandle
                                                                        : s_nextSessionHandle + 1;
    }
    unsigned long handle = s_nextSessionHandle;
    s_nextSessionHandle =
        s_nextSessionHandle == kLastSessionHandle ? kFirstSessionHandle : s_nextSessionHandle + 1;
    object->setSessionHandle(handle);
    put(handle, object);
    return handle;
}

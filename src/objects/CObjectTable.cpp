#include "CObjectTable.h"

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "Log.h"
#include "OrlVector.h"

namespace {
// Head of the list of live tables; a plain pointer, so no exit-time destructor.
CObjectTable* s_firstTable = nullptr;

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
}  // namespace

CObjectTable::CObjectTable() {
    m_pNextTable = s_firstTable;
    if (s_firstTable) s_firstTable->m_pPrevTable = this;
    s_firstTable = this;
}

CObjectTable::~CObjectTable() {
    clear();
    if (m_pPrevTable) {
        m_pPrevTable->m_pNextTable = m_pNextTable;
    } else {
        s_firstTable = m_pNextTable;
    }
    if (m_pNextTable) m_pNextTable->m_pPrevTable = m_pPrevTable;
}

bool CObjectTable::isNumberTaken(ZT_HANDLE hConnection, uint16_t number) {
    for (CObjectTable* t = s_firstTable; t; t = t->m_pNextTable) {
        if (t->m_bBound && t->m_hConnection == hConnection && t->containsKey(number)) return true;
    }
    return false;
}

void CObjectTable::removeAll() {
    removeWhere([](C11Object*) { return true; });
}

void CObjectTable::clear() {
    removeAll();
    m_bReloadNeeded = true;
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
    if (m_bBound) m_hConnection = hConnection;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (Entry* e = getFirstEntry(); e;) {
        e = getNextEntry(e, key, object);
        if (object) object->setConnection(hConnection);
    }
}

void CObjectTable::reload(ZT_HANDLE hConnection, CBufferedReader& reader) {
    logMessage("-> reload");
    m_bBound = true;
    m_hConnection = hConnection;
    removeTokenObjects();
    unsigned char tag = 0;
    while (reader.read(&tag, 1) == 1) {
        logMessage("CLASS %d", tag);
        C11Object* object = readRecord(tag, hConnection, reader);
        unsigned long key = object->getObjNumber();
        C11Object* displaced = nullptr;
        if (get(key, displaced) && displaced != object) delete displaced;
        put(key, object);
    }
    m_bReloadNeeded = false;
}

#include "C11Object.h"

#include <cstring>

#include "DirectoryCodec.h"
#include "Log.h"

namespace {
constexpr unsigned char kFlagToken = 0x04;
constexpr unsigned char kFlagPrivate = 0x02;
constexpr unsigned char kFlagModifiable = 0x01;
// Identities of objects; under the global lock.
uint64_t s_nextIdentity = 1;
}  // namespace

C11Object::C11Object(ZT_HANDLE hConnection)
    : m_ullIdentity(s_nextIdentity++), m_hConnection(hConnection) {}

C11Object::C11Object(ZT_HANDLE hConnection, CBufferedReader& reader)
    : m_ullIdentity(s_nextIdentity++), m_hConnection(hConnection) {
    dir::getU16(reader, m_usObjNumber);
    m_ulHandle = m_usObjNumber;
    unsigned char byte = 0;
    if (dir::getU8(reader, byte)) m_ulClass = byte;
    m_bToken = true;
    unsigned char flags = 0;
    if (dir::getU8(reader, flags)) {
        m_bPrivate = (flags & kFlagPrivate) != 0;
        m_bModifiable = (flags & kFlagModifiable) != 0;
    }
    dir::getShortText(reader, m_szLabel, true);
    dir::getShortText(reader, m_szPath, false);
    if (!m_szPath) m_szPath.reset(new std::string());

    // The object id counts only when both length bytes and all its bytes came.
    uint16_t n = 0;
    if (dir::getU16(reader, n) != 2) n = 0;
    logMessage("nObjIdLen: %d", n);
    if (n == 0) {
        logMessage("m_pObjID = NULL");
        return;
    }
    OwnedBytes id(new OrlByteArray(static_cast<unsigned long>(n)));
    if (reader.read(id->getContent(), n) != n) {
        logMessage("read fails");
        return;
    }
    m_pObjID = std::move(id);
    logMessage("append OK: %d", n);
}

C11Object::~C11Object() = default;

void C11Object::setPath(const char* path) {
    if (!path) {
        m_szPath.reset();
        return;
    }
    size_t n = 0;
    while (n < kMaxShortText && path[n]) ++n;
    m_szPath.reset(new std::string(path, n));
}

void C11Object::serialize(OrlBufferedWriter& writer) {
    dir::putU16(writer, m_usObjNumber);
    dir::putU8(writer, static_cast<unsigned>(m_ulClass));
    unsigned flags = (m_bToken ? kFlagToken : 0) | (m_bPrivate ? kFlagPrivate : 0) |
                     (m_bModifiable ? kFlagModifiable : 0);
    dir::putU8(writer, flags);
    dir::putShortText(writer, m_szLabel.get());
    dir::putShortText(writer, m_szPath.get());
    dir::putLongBytes(writer, m_pObjID.get());
}

CK_RV C11Object::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11Object::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = CKR_OK;
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_CLASS:
                r = attr::replyUlong(a, m_ulClass);
                break;
            case CKA_TOKEN:
                r = attr::replyBool(a, m_bToken);
                break;
            case CKA_PRIVATE:
                r = attr::replyBool(a, m_bPrivate);
                break;
            case CKA_MODIFIABLE:
                r = attr::replyBool(a, m_bModifiable);
                break;
            case CKA_LABEL:
                r = attr::replyText(a, m_szLabel.get());
                break;
            case CKA_OBJECT_ID:
                r = attr::replyBytes(a, m_pObjID.get());
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV C11Object::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV refused = CKR_OK;
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_CLASS:
                r = attr::takeUlong(a, m_ulClass);
                break;
            case CKA_TOKEN:
                r = attr::takeBool(a, m_bToken);
                break;
            case CKA_PRIVATE:
                r = attr::takeBool(a, m_bPrivate);
                break;
            case CKA_MODIFIABLE:
                r = attr::takeBool(a, m_bModifiable);
                break;
            case CKA_LABEL:
                r = attr::takeText(a, m_szLabel);
                break;
            case CKA_OBJECT_ID:
                r = attr::takeBytes(a, m_pObjID);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) refused = r;
        return attr::Step::Taken;
    });
    m_bJustCreated = bJustCreated != CK_FALSE;
    if (refused != CKR_OK) return refused;
    return m_ulClass == kClassUnset ? CKR_ATTRIBUTE_VALUE_INVALID : CKR_OK;
}

bool C11Object::match(CAttributeVector& attributes) {
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_CLASS:
                return attr::matchUlong(a, m_ulClass);
            case CKA_TOKEN:
                return attr::matchBool(a, m_bToken);
            case CKA_PRIVATE:
                return attr::matchBool(a, m_bPrivate);
            case CKA_MODIFIABLE:
                return attr::matchBool(a, m_bModifiable);
            case CKA_LABEL:
                return attr::matchText(a, m_szLabel.get());
            case CKA_OBJECT_ID:
                return attr::matchBytes(a, m_pObjID.get());
            default:
                return -1;
        }
    });
}

bool C11Object::isComplete() {
    return m_ulClass != kClassUnset && m_szPath != nullptr;
}

void fillAttributeVector(CAttributeVector& vector, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount) {
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i) vector.addElement(&pTemplate[i]);
}

CK_ULONG classFromTemplate(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount) {
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i) {
        if (pTemplate[i].type != CKA_CLASS) continue;
        CK_ULONG value = kClassUnset;
        return attr::takeUlong(&pTemplate[i], value) == CKR_OK ? value : kClassUnset;
    }
    return kClassUnset;
}

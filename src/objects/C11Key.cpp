#include "C11Key.h"

#include "DirectoryCodec.h"

namespace {
constexpr unsigned char kFlagDerive = 0x02;
constexpr unsigned char kFlagLocal = 0x01;
}  // namespace

C11Key::C11Key(ZT_HANDLE hConnection) : C11Object(hConnection) {}

C11Key::C11Key(ZT_HANDLE hConnection, CBufferedReader& reader) : C11Object(hConnection, reader) {
    unsigned char byte = 0;
    if (dir::getU8(reader, byte)) m_ulKeyType = byte;
    dir::getLongBytes(reader, m_pblID);
    logMessage("CKA_ID len: %X", m_pblID ? static_cast<unsigned>(m_pblID->getLength()) : 0u);
    dir::getDate(reader, m_pStartDate);
    dir::getDate(reader, m_pEndDate);
    if (dir::getU8(reader, byte)) {
        m_bDerive = (byte & kFlagDerive) != 0;
        m_bLocal = (byte & kFlagLocal) != 0;
    }
}

C11Key::~C11Key() = default;

CK_KEY_TYPE C11Key::getKeyType() {
    return m_ulKeyType;
}

void C11Key::serialize(OrlBufferedWriter& writer) {
    C11Object::serialize(writer);
    dir::putU8(writer, static_cast<unsigned>(m_ulKeyType));
    dir::putLongBytes(writer, m_pblID.get());
    dir::putDate(writer, m_pStartDate.get());
    dir::putDate(writer, m_pEndDate.get());
    dir::putU8(writer, (m_bDerive ? kFlagDerive : 0) | (m_bLocal ? kFlagLocal : 0));
}

CK_RV C11Key::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11Key::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Object::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_KEY_TYPE:
                r = attr::replyUlong(a, m_ulKeyType);
                break;
            case CKA_ID:
                r = attr::replyBytes(a, m_pblID.get());
                break;
            case CKA_DERIVE:
                r = attr::replyBool(a, m_bDerive);
                break;
            case CKA_START_DATE:
                r = attr::replyDate(a, m_pStartDate.get());
                break;
            case CKA_END_DATE:
                r = attr::replyDate(a, m_pEndDate.get());
                break;
            case CKA_LOCAL:
                r = attr::replyBool(a, m_bLocal);
                break;
            case CKA_KEY_GEN_MECHANISM:
                r = attr::replyUlong(a, m_bLocal ? 0 : CK_UNAVAILABLE_INFORMATION);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV C11Key::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Object::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_KEY_TYPE:
                // The record keeps one byte of key type: a wider one would
                // read back as another type.
                r = attr::takeUlong8(a, m_ulKeyType);
                break;
            case CKA_ID:
                r = attr::takeBytes(a, m_pblID);
                break;
            case CKA_DERIVE:
                r = attr::takeBool(a, m_bDerive);
                break;
            case CKA_START_DATE:
                r = attr::takeDate(a, m_pStartDate);
                break;
            case CKA_END_DATE:
                r = attr::takeDate(a, m_pEndDate);
                break;
            case CKA_LOCAL:
                r = attr::takeOneWayBool(a, m_bLocal, true);
                break;
            case CKA_KEY_GEN_MECHANISM:
                r = attr::takeUlong(a, m_ulKeyGenMechanism);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

bool C11Key::match(CAttributeVector& attributes) {
    if (!C11Object::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_KEY_TYPE:
                return attr::matchUlong(a, m_ulKeyType);
            case CKA_ID:
                return attr::matchBytes(a, m_pblID.get());
            case CKA_DERIVE:
                return attr::matchBool(a, m_bDerive);
            case CKA_START_DATE:
                return attr::matchDate(a, m_pStartDate.get());
            case CKA_END_DATE:
                return attr::matchDate(a, m_pEndDate.get());
            case CKA_LOCAL:
                return attr::matchBool(a, m_bLocal);
            case CKA_KEY_GEN_MECHANISM:
                return attr::matchUlong(a, m_ulKeyGenMechanism);
            default:
                return -1;
        }
    });
}

bool C11Key::isComplete() {
    return C11Object::isComplete() && m_ulKeyType != kClassUnset && m_pblID != nullptr;
}

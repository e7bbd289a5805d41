#include "C11PublicKey.h"

#include "DirectoryCodec.h"

namespace {
constexpr unsigned char kFlagEncrypt = 0x08;
constexpr unsigned char kFlagVerify = 0x04;
constexpr unsigned char kFlagVerifyRecover = 0x02;
constexpr unsigned char kFlagWrap = 0x01;
}  // namespace

C11PublicKey::C11PublicKey(ZT_HANDLE hConnection) : C11Key(hConnection) {
    m_ulClass = CKO_PUBLIC_KEY;
}

C11PublicKey::C11PublicKey(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11Key(hConnection, reader) {
    m_ulClass = CKO_PUBLIC_KEY;
    dir::getLongBytes(reader, m_pblSubject);
    unsigned char flags = 0;
    if (dir::getU8(reader, flags)) {
        m_bEncrypt = (flags & kFlagEncrypt) != 0;
        m_bVerify = (flags & kFlagVerify) != 0;
        m_bVerifyRecover = (flags & kFlagVerifyRecover) != 0;
        m_bWrap = (flags & kFlagWrap) != 0;
    }
    logMessage("C11PublicKey: ID: %s", getPath() ? getPath() : "");
}

C11PublicKey::~C11PublicKey() = default;

void C11PublicKey::serialize(OrlBufferedWriter& writer) {
    C11Key::serialize(writer);
    dir::putLongBytes(writer, m_pblSubject.get());
    dir::putU8(writer, (m_bEncrypt ? kFlagEncrypt : 0) | (m_bVerify ? kFlagVerify : 0) |
                           (m_bVerifyRecover ? kFlagVerifyRecover : 0) | (m_bWrap ? kFlagWrap : 0));
}

CK_RV C11PublicKey::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11PublicKey::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Key::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_TRUSTED:
                r = attr::replyBool(a, m_bTrusted);
                break;
            case CKA_SUBJECT:
                r = attr::replyBytes(a, m_pblSubject.get());
                break;
            case CKA_ENCRYPT:
                r = attr::replyBool(a, m_bEncrypt);
                break;
            case CKA_WRAP:
                r = attr::replyBool(a, m_bWrap);
                break;
            case CKA_VERIFY:
                r = attr::replyBool(a, m_bVerify);
                break;
            case CKA_VERIFY_RECOVER:
                r = attr::replyBool(a, m_bVerifyRecover);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV C11PublicKey::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Key::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_TRUSTED:
                r = attr::takeBool(a, m_bTrusted);
                break;
            case CKA_SUBJECT:
                r = attr::takeBytes(a, m_pblSubject);
                break;
            case CKA_ENCRYPT:
                r = attr::takeBool(a, m_bEncrypt);
                break;
            case CKA_WRAP:
                r = attr::takeBool(a, m_bWrap);
                break;
            case CKA_VERIFY:
                r = attr::takeBool(a, m_bVerify);
                break;
            case CKA_VERIFY_RECOVER:
                r = attr::takeBool(a, m_bVerifyRecover);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    m_bPrivate = false;
    m_ulClass = CKO_PUBLIC_KEY;
    return rv;
}

bool C11PublicKey::match(CAttributeVector& attributes) {
    if (!C11Key::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_TRUSTED:
                return attr::matchBool(a, m_bTrusted);
            case CKA_SUBJECT:
                return attr::matchBytes(a, m_pblSubject.get());
            case CKA_ENCRYPT:
                return attr::matchBool(a, m_bEncrypt);
            case CKA_WRAP:
                return attr::matchBool(a, m_bWrap);
            case CKA_VERIFY:
                return attr::matchBool(a, m_bVerify);
            case CKA_VERIFY_RECOVER:
                return attr::matchBool(a, m_bVerifyRecover);
            default:
                return -1;
        }
    });
}

bool C11PublicKey::isComplete() {
    return C11Key::isComplete();
}

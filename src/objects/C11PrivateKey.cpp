#include "C11PrivateKey.h"

#include "DirectoryCodec.h"

namespace {
constexpr unsigned char kFlagSensitive = 0x80;
constexpr unsigned char kFlagDecrypt = 0x40;
constexpr unsigned char kFlagSign = 0x20;
constexpr unsigned char kFlagSignRecover = 0x10;
constexpr unsigned char kFlagUnwrap = 0x08;
constexpr unsigned char kFlagExtractable = 0x04;
constexpr unsigned char kFlagAlwaysSensitive = 0x02;
constexpr unsigned char kFlagNeverExtractable = 0x01;
}  // namespace

C11PrivateKey::C11PrivateKey(ZT_HANDLE hConnection) : C11Key(hConnection) {
    m_ulClass = CKO_PRIVATE_KEY;
    m_bModifiable = false;
}

C11PrivateKey::C11PrivateKey(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11Key(hConnection, reader) {
    m_ulClass = CKO_PRIVATE_KEY;
    dir::getLongBytes(reader, m_pblSubject);
    unsigned char flags = 0;
    if (dir::getU8(reader, flags)) {
        m_bSensitive = (flags & kFlagSensitive) != 0;
        m_bDecrypt = (flags & kFlagDecrypt) != 0;
        m_bSign = (flags & kFlagSign) != 0;
        m_bSignRecover = (flags & kFlagSignRecover) != 0;
        m_bUnwrap = (flags & kFlagUnwrap) != 0;
        m_bExtractable = (flags & kFlagExtractable) != 0;
        m_bAlwaysSensitive = (flags & kFlagAlwaysSensitive) != 0;
        m_bNeverExtractable = (flags & kFlagNeverExtractable) != 0;
    }
    logMessage("C11PrivateKey flags: %X, %d, %d, %d, %d, %d", flags, m_bSignRecover, m_bUnwrap,
               m_bExtractable, m_bAlwaysSensitive, m_bNeverExtractable);
}

C11PrivateKey::~C11PrivateKey() = default;

void C11PrivateKey::serialize(OrlBufferedWriter& writer) {
    C11Key::serialize(writer);
    dir::putLongBytes(writer, m_pblSubject.get());
    dir::putU8(writer, (m_bSensitive ? kFlagSensitive : 0) | (m_bDecrypt ? kFlagDecrypt : 0) |
                           (m_bSign ? kFlagSign : 0) | (m_bSignRecover ? kFlagSignRecover : 0) |
                           (m_bUnwrap ? kFlagUnwrap : 0) | (m_bExtractable ? kFlagExtractable : 0) |
                           (m_bAlwaysSensitive ? kFlagAlwaysSensitive : 0) |
                           (m_bNeverExtractable ? kFlagNeverExtractable : 0));
}

CK_RV C11PrivateKey::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11PrivateKey::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Key::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_SUBJECT:
                r = attr::replyBytes(a, m_pblSubject.get());
                break;
            case CKA_SENSITIVE:
                r = attr::replyBool(a, m_bSensitive);
                break;
            case CKA_DECRYPT:
                r = attr::replyBool(a, m_bDecrypt);
                break;
            case CKA_SIGN:
                r = attr::replyBool(a, m_bSign);
                break;
            case CKA_SIGN_RECOVER:
                r = attr::replyBool(a, m_bSignRecover);
                break;
            case CKA_UNWRAP:
                r = attr::replyBool(a, m_bUnwrap);
                break;
            case CKA_EXTRACTABLE:
                r = attr::replyBool(a, m_bExtractable);
                break;
            case CKA_ALWAYS_SENSITIVE:
                r = attr::replyBool(a, m_bAlwaysSensitive);
                break;
            case CKA_NEVER_EXTRACTABLE:
                r = attr::replyBool(a, m_bNeverExtractable);
                break;
            case CKA_SECONDARY_AUTH:
                r = attr::replyBool(a, m_bSecondaryAuth);
                break;
            case CKA_AUTH_PIN_FLAGS:
                r = attr::replyBool(a, m_bAuthPinFlags);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV C11PrivateKey::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Key::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_SUBJECT:
                r = attr::takeBytes(a, m_pblSubject);
                break;
            case CKA_DECRYPT:
                r = attr::takeBool(a, m_bDecrypt);
                break;
            case CKA_UNWRAP:
                r = attr::takeBool(a, m_bUnwrap);
                break;
            case CKA_SIGN:
                r = attr::takeBool(a, m_bSign);
                break;
            case CKA_SIGN_RECOVER:
                r = attr::takeBool(a, m_bSignRecover);
                break;
            case CKA_SENSITIVE:
                r = attr::takeOneWayBool(a, m_bSensitive, true);
                break;
            case CKA_EXTRACTABLE:
                r = attr::takeOneWayBool(a, m_bExtractable, false);
                break;
            case CKA_NEVER_EXTRACTABLE:
                r = attr::takeOneWayBool(a, m_bNeverExtractable, true);
                break;
            case CKA_ALWAYS_SENSITIVE:
                r = attr::takeOneWayBool(a, m_bAlwaysSensitive, true);
                break;
            case CKA_SECONDARY_AUTH:
            case CKA_AUTH_PIN_FLAGS:
                r = CKR_TEMPLATE_INCONSISTENT;
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    if (m_bToken) {
        m_bSensitive = true;
        m_bAlwaysSensitive = true;
        m_bNeverExtractable = true;
        m_bExtractable = false;
    }
    m_bPrivate = true;
    m_ulClass = CKO_PRIVATE_KEY;
    m_bModifiable = false;
    return rv;
}

bool C11PrivateKey::match(CAttributeVector& attributes) {
    if (!C11Key::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_SUBJECT:
                return attr::matchBytes(a, m_pblSubject.get());
            case CKA_SENSITIVE:
                return attr::matchBool(a, m_bSensitive);
            case CKA_DECRYPT:
                return attr::matchBool(a, m_bDecrypt);
            case CKA_SIGN:
                return attr::matchBool(a, m_bSign);
            case CKA_SIGN_RECOVER:
                return attr::matchBool(a, m_bSignRecover);
            case CKA_UNWRAP:
                return attr::matchBool(a, m_bUnwrap);
            case CKA_EXTRACTABLE:
                return attr::matchBool(a, m_bExtractable);
            case CKA_ALWAYS_SENSITIVE:
                return attr::matchBool(a, m_bAlwaysSensitive);
            case CKA_NEVER_EXTRACTABLE:
                return attr::matchBool(a, m_bNeverExtractable);
            case CKA_SECONDARY_AUTH:
                return attr::matchBool(a, m_bSecondaryAuth);
            case CKA_AUTH_PIN_FLAGS:
                return attr::matchBool(a, m_bAuthPinFlags);
            default:
                return -1;
        }
    });
}

bool C11PrivateKey::isComplete() {
    return C11Key::isComplete();
}

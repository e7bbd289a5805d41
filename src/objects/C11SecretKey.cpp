#include "C11SecretKey.h"

#include "DirectoryCodec.h"

namespace {
constexpr unsigned long kMatchReserve = 3000;
constexpr CK_ULONG kMaxValue = static_cast<CK_ULONG>(-2);

// Flags 1
constexpr unsigned char kFlagSensitive = 0x80;
constexpr unsigned char kFlagEncrypt = 0x40;
constexpr unsigned char kFlagDecrypt = 0x20;
constexpr unsigned char kFlagSign = 0x10;
constexpr unsigned char kFlagVerify = 0x08;
constexpr unsigned char kFlagWrap = 0x04;
constexpr unsigned char kFlagUnwrap = 0x02;
constexpr unsigned char kFlagExtractable = 0x01;
// Flags 2
constexpr unsigned char kFlagAlwaysSensitive = 0x80;
constexpr unsigned char kFlagNeverExtractable = 0x40;
}  // namespace

C11SecretKey::C11SecretKey(ZT_HANDLE hConnection) : C11Key(hConnection) {
    m_ulClass = CKO_SECRET_KEY;
}

C11SecretKey::C11SecretKey(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11Key(hConnection, reader) {
    m_ulClass = CKO_SECRET_KEY;
    unsigned char flags = 0;
    if (dir::getU8(reader, flags)) {
        m_bSensitive = (flags & kFlagSensitive) != 0;
        m_bEncrypt = (flags & kFlagEncrypt) != 0;
        m_bDecrypt = (flags & kFlagDecrypt) != 0;
        m_bSign = (flags & kFlagSign) != 0;
        m_bVerify = (flags & kFlagVerify) != 0;
        m_bWrap = (flags & kFlagWrap) != 0;
        m_bUnwrap = (flags & kFlagUnwrap) != 0;
        m_bExtractable = (flags & kFlagExtractable) != 0;
    }
    if (dir::getU8(reader, flags)) {
        m_bAlwaysSensitive = (flags & kFlagAlwaysSensitive) != 0;
        m_bNeverExtractable = (flags & kFlagNeverExtractable) != 0;
    }
}

C11SecretKey::~C11SecretKey() = default;

CK_RV C11SecretKey::loadValue() {
    if (m_pblValue) return CKR_OK;
    OrlByteArray value;
    CK_RV rv = fetchStoredValue(kAccessSecretKey, 0, FetchStyle::Data, value);
    if (rv == CKR_OK && m_szPath) m_pblValue.reset(new OrlByteArray(value));
    return rv;
}

CK_RV C11SecretKey::getValue(OrlByteArray& out) {
    CK_RV rv = loadValue();
    if (rv == CKR_OK && m_pblValue) out.append(*m_pblValue);
    return rv;
}

void C11SecretKey::setValue(const unsigned char* data, CK_ULONG length) {
    m_pblValue.reset(new OrlByteArray(data, length));
}

void C11SecretKey::serialize(OrlBufferedWriter& writer) {
    C11Key::serialize(writer);
    dir::putU8(writer, (m_bSensitive ? kFlagSensitive : 0) | (m_bEncrypt ? kFlagEncrypt : 0) |
                           (m_bDecrypt ? kFlagDecrypt : 0) | (m_bSign ? kFlagSign : 0) |
                           (m_bVerify ? kFlagVerify : 0) | (m_bWrap ? kFlagWrap : 0) |
                           (m_bUnwrap ? kFlagUnwrap : 0) | (m_bExtractable ? kFlagExtractable : 0));
    dir::putU8(writer, (m_bAlwaysSensitive ? kFlagAlwaysSensitive : 0) |
                           (m_bNeverExtractable ? kFlagNeverExtractable : 0));
}

CK_RV C11SecretKey::write(OrlBufferedWriter& writer) {
    logMessage("m_bJustCreated, %d", m_bJustCreated ? 1 : 0);
    logMessage("m_bDataModified, %d", m_bDataModified ? 1 : 0);
    return storeValue(kAccessSecretKey, "ZT_addObject", writer, [&](OrlByteArray& value) {
        if (m_pblValue) {
            value.append(*m_pblValue);
            return CKR_OK;
        }
        return fetchStoredValue(kAccessSecretKey, 0, FetchStyle::Data, value);
    });
}

CK_RV C11SecretKey::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Key::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r = CKR_OK;
        switch (a->type) {
            case CKA_VALUE:
                if (!revealable()) {
                    a->ulValueLen = attr::kInvalidLength;
                    r = CKR_ATTRIBUTE_SENSITIVE;
                    break;
                }
                r = loadValue();
                if (r != CKR_OK) {
                    a->ulValueLen = attr::kInvalidLength;
                    rv = r;
                    return attr::Step::Stop;
                }
                r = attr::replyBytes(a, m_pblValue.get());
                break;
            case CKA_VALUE_LEN:
                if (!a->pValue || a->ulValueLen < sizeof(CK_ULONG)) {
                    r = attr::replyUlong(a, 0);
                } else {
                    r = loadValue();
                    if (r == CKR_OK)
                        r = attr::replyUlong(a, m_pblValue ? m_pblValue->getLength() : 0);
                }
                break;
            case CKA_SENSITIVE:
                r = attr::replyBool(a, m_bSensitive);
                break;
            case CKA_ALWAYS_SENSITIVE:
                r = attr::replyBool(a, m_bAlwaysSensitive);
                break;
            case CKA_NEVER_EXTRACTABLE:
                r = attr::replyBool(a, m_bNeverExtractable);
                break;
            case CKA_EXTRACTABLE:
                r = attr::replyBool(a, m_bExtractable);
                break;
            case CKA_ENCRYPT:
                r = attr::replyBool(a, m_bEncrypt);
                break;
            case CKA_DECRYPT:
                r = attr::replyBool(a, m_bDecrypt);
                break;
            case CKA_WRAP:
                r = attr::replyBool(a, m_bWrap);
                break;
            case CKA_UNWRAP:
                r = attr::replyBool(a, m_bUnwrap);
                break;
            case CKA_SIGN:
                r = attr::replyBool(a, m_bSign);
                break;
            case CKA_VERIFY:
                r = attr::replyBool(a, m_bVerify);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV C11SecretKey::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Key::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_VALUE:
                r = attr::takeBytes(a, m_pblValue, kMaxValue);
                if (r == CKR_OK) m_bDataModified = true;
                break;
            case CKA_SENSITIVE:
                // Chosen freely at creation; afterwards only ever turned on.
                r = bJustCreated ? attr::takeBool(a, m_bSensitive)
                                 : attr::takeOneWayBool(a, m_bSensitive, true);
                break;
            case CKA_ALWAYS_SENSITIVE:
                r = attr::takeOneWayBool(a, m_bAlwaysSensitive, true);
                break;
            case CKA_NEVER_EXTRACTABLE:
                r = attr::takeOneWayBool(a, m_bNeverExtractable, true);
                break;
            case CKA_EXTRACTABLE:
                r = attr::takeOneWayBool(a, m_bExtractable, false);
                break;
            case CKA_ENCRYPT:
                r = attr::takeBool(a, m_bEncrypt);
                break;
            case CKA_DECRYPT:
                r = attr::takeBool(a, m_bDecrypt);
                break;
            case CKA_WRAP:
                r = attr::takeBool(a, m_bWrap);
                break;
            case CKA_UNWRAP:
                r = attr::takeBool(a, m_bUnwrap);
                break;
            case CKA_SIGN:
                r = attr::takeBool(a, m_bSign);
                break;
            case CKA_VERIFY:
                r = attr::takeBool(a, m_bVerify);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    // A key made readable was not always sensitive, whatever it becomes later.
    if (bJustCreated && !m_bSensitive) m_bAlwaysSensitive = false;
    m_ulClass = CKO_SECRET_KEY;
    return rv;
}

bool C11SecretKey::revealable() const {
    return !m_bSensitive && m_bExtractable && !m_bNeverExtractable;
}

bool C11SecretKey::match(CAttributeVector& attributes) {
    if (!C11Key::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_VALUE:
                // Else a search would tell whether a guessed value is right.
                if (!revealable()) return 0;
                if (!m_pblValue) {
                    OrlByteArray value;
                    if (fetchStoredValue(kAccessSecretKey, kMatchReserve, FetchStyle::Match,
                                         value) != CKR_OK ||
                        !m_szPath) {
                        return 0;
                    }
                    m_pblValue.reset(new OrlByteArray(value));
                }
                return attr::matchBytes(a, m_pblValue.get());
            case CKA_SENSITIVE:
                return attr::matchBool(a, m_bSensitive);
            case CKA_ALWAYS_SENSITIVE:
                return attr::matchBool(a, m_bAlwaysSensitive);
            case CKA_NEVER_EXTRACTABLE:
                return attr::matchBool(a, m_bNeverExtractable);
            case CKA_EXTRACTABLE:
                return attr::matchBool(a, m_bExtractable);
            case CKA_ENCRYPT:
                return attr::matchBool(a, m_bEncrypt);
            case CKA_DECRYPT:
                return attr::matchBool(a, m_bDecrypt);
            case CKA_WRAP:
                return attr::matchBool(a, m_bWrap);
            case CKA_UNWRAP:
                return attr::matchBool(a, m_bUnwrap);
            case CKA_SIGN:
                return attr::matchBool(a, m_bSign);
            case CKA_VERIFY:
                return attr::matchBool(a, m_bVerify);
            default:
                return -1;
        }
    });
}

bool C11SecretKey::isComplete() {
    return m_pblValue != nullptr;
}

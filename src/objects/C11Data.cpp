#include "C11Data.h"

#include "DirectoryCodec.h"

namespace {
constexpr unsigned long kDataReserve = 4000;
// Values live in stored objects, not in the directory: no directory limit.
constexpr CK_ULONG kMaxValue = static_cast<CK_ULONG>(-2);
}  // namespace

C11Data::C11Data(ZT_HANDLE hConnection) : C11Object(hConnection) {}

C11Data::C11Data(ZT_HANDLE hConnection, CBufferedReader& reader) : C11Object(hConnection, reader) {
    dir::getShortText(reader, m_szApplication, true);
    m_ulClass = CKO_DATA;
}

C11Data::~C11Data() = default;

uint32_t C11Data::accessClass() const {
    return m_bPrivate ? kAccessPrivateData : kAccessPublicData;
}

CK_RV C11Data::loadValue() {
    if (m_pblValue) return CKR_OK;
    OrlByteArray value;
    CK_RV rv = fetchStoredValue(accessClass(), kDataReserve, FetchStyle::Data, value);
    if (rv == CKR_OK && m_szPath) m_pblValue.reset(new OrlByteArray(value));
    return rv;
}

void C11Data::serialize(OrlBufferedWriter& writer) {
    C11Object::serialize(writer);
    dir::putShortText(writer, m_szApplication.get());
}

CK_RV C11Data::write(OrlBufferedWriter& writer) {
    logMessage("m_bJustCreated, %d", m_bJustCreated ? 1 : 0);
    logMessage("m_bDataModified, %d", m_bDataModified ? 1 : 0);
    return storeValue(accessClass(), "ZT_addObj", writer, [&](OrlByteArray& value) {
        if (m_pblValue) {
            value.append(*m_pblValue);
            return CKR_OK;
        }
        return fetchStoredValue(accessClass(), kDataReserve, FetchStyle::Data, value);
    });
}

CK_RV C11Data::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Object::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r = CKR_OK;
        switch (a->type) {
            case CKA_APPLICATION:
                // Absent reads as empty: the directory stores both as length 0.
                r = attr::replyText(a, m_szApplication.get());
                break;
            case CKA_VALUE:
                r = loadValue();
                if (r != CKR_OK) {
                    a->ulValueLen = attr::kInvalidLength;
                    rv = r;
                    return attr::Step::Stop;
                }
                r = attr::replyBytes(a, m_pblValue.get());
                break;
            case CKA_VALUE_SIZE:
                if (a->pValue && a->ulValueLen >= sizeof(CK_ULONG)) {
                    CK_ULONG size =
                        loadValue() == CKR_OK && m_pblValue ? m_pblValue->getLength() : 0;
                    r = attr::replyUlong(a, size);
                } else {
                    r = attr::replyUlong(a, 0);
                }
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV C11Data::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Object::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_APPLICATION:
                r = attr::takeText(a, m_szApplication);
                break;
            case CKA_VALUE:
                r = attr::takeBytes(a, m_pblValue, kMaxValue);
                if (r == CKR_OK) m_bDataModified = true;
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    m_ulClass = CKO_DATA;
    return rv;
}

bool C11Data::match(CAttributeVector& attributes) {
    if (!C11Object::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_APPLICATION:
                return attr::matchText(a, m_szApplication.get());
            case CKA_VALUE:
                if (!m_pblValue) {
                    OrlByteArray value;
                    if (fetchStoredValue(accessClass(), kDataReserve, FetchStyle::Match, value) !=
                            CKR_OK ||
                        !m_szPath) {
                        return 0;
                    }
                    m_pblValue.reset(new OrlByteArray(value));
                }
                return attr::matchBytes(a, m_pblValue.get());
            default:
                return -1;
        }
    });
}

bool C11Data::isComplete() {
    return C11Object::isComplete() && m_pblValue != nullptr;
}

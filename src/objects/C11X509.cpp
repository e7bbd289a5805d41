#include "C11X509.h"

#include "DirectoryCodec.h"

namespace {
constexpr unsigned long kCertificateReserve = 3000;
constexpr CK_ULONG kMaxValue = static_cast<CK_ULONG>(-2);
}  // namespace

C11X509::C11X509(ZT_HANDLE hConnection) : C11Certificate(hConnection) {}

C11X509::C11X509(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11Certificate(hConnection, reader) {
    dir::getLongBytes(reader, m_pblSubject);
    dir::getLongBytes(reader, m_pblID);
    dir::getLongBytes(reader, m_pblIssuer);
    dir::getLongBytes(reader, m_pblSerialNumber);
    logMessage("C11X509: ID: %s", getPath() ? getPath() : "");
}

C11X509::~C11X509() = default;

CK_RV C11X509::loadValue() {
    if (m_pblValue) return CKR_OK;
    OrlByteArray value;
    CK_RV rv =
        fetchStoredValue(kAccessCertificate, kCertificateReserve, FetchStyle::Certificate, value);
    if (rv == CKR_OK && m_szPath) m_pblValue.reset(new OrlByteArray(value));
    return rv;
}

void C11X509::serialize(OrlBufferedWriter& writer) {
    C11Certificate::serialize(writer);
    dir::putLongBytes(writer, m_pblSubject.get());
    dir::putLongBytes(writer, m_pblID.get());
    dir::putLongBytes(writer, m_pblIssuer.get());
    dir::putLongBytes(writer, m_pblSerialNumber.get());
}

CK_RV C11X509::write(OrlBufferedWriter& writer) {
    return storeValue(kAccessCertificate, "ZT_addObject", writer, [&](OrlByteArray& value) {
        if (m_pblValue) {
            value.append(*m_pblValue);
            return CKR_OK;
        }
        return fetchStoredValue(kAccessCertificate, kCertificateReserve, FetchStyle::Certificate,
                                value);
    });
}

CK_RV C11X509::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Certificate::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_SUBJECT:
                logMessage("m_pblSubject %p", static_cast<void*>(m_pblSubject.get()));
                r = attr::replyBytes(a, m_pblSubject.get());
                if (m_pblSubject && a->pValue) {
                    logMessage("attribute.pValue: %p, attribute.ulValueLen: %d", a->pValue,
                               static_cast<int>(a->ulValueLen));
                }
                break;
            case CKA_ID:
                r = attr::replyBytes(a, m_pblID.get());
                break;
            case CKA_ISSUER:
                r = attr::replyBytes(a, m_pblIssuer.get());
                break;
            case CKA_SERIAL_NUMBER:
                r = attr::replyBytes(a, m_pblSerialNumber.get());
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

CK_RV C11X509::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Certificate::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_SUBJECT:
                r = attr::takeBytes(a, m_pblSubject);
                break;
            case CKA_ID:
                r = attr::takeBytes(a, m_pblID);
                break;
            case CKA_ISSUER:
                r = attr::takeBytes(a, m_pblIssuer);
                break;
            case CKA_SERIAL_NUMBER:
                r = attr::takeBytes(a, m_pblSerialNumber);
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
    m_bJustCreated = bJustCreated != CK_FALSE;
    return rv;
}

// CKA_VALUE is fetched from the token when not cached (NSS looks certificates
// up by class and value); a value that cannot be read matches nothing.
bool C11X509::match(CAttributeVector& attributes) {
    if (!C11Certificate::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_SUBJECT:
                return attr::matchBytes(a, m_pblSubject.get());
            case CKA_ID:
                return attr::matchBytes(a, m_pblID.get());
            case CKA_ISSUER:
                return attr::matchBytes(a, m_pblIssuer.get());
            case CKA_SERIAL_NUMBER:
                return attr::matchBytes(a, m_pblSerialNumber.get());
            case CKA_VALUE:
                if (loadValue() != CKR_OK) return 0;
                return attr::matchBytes(a, m_pblValue.get());
            default:
                return -1;
        }
    });
}

bool C11X509::isComplete() {
    return C11Certificate::isComplete() && m_pblID != nullptr && m_pblValue != nullptr;
}

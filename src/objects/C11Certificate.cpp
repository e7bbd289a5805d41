#include "C11Certificate.h"

#include "DirectoryCodec.h"

C11Certificate::C11Certificate(ZT_HANDLE hConnection) : C11Object(hConnection) {}

// The stored type byte is read past: every certificate here is X.509.
C11Certificate::C11Certificate(ZT_HANDLE hConnection, CBufferedReader& reader)
    : C11Object(hConnection, reader) {
    unsigned char ignored = 0;
    dir::getU8(reader, ignored);
    m_ulCertificateType = CKC_X_509;
    m_ulClass = CKO_CERTIFICATE;
}

C11Certificate::~C11Certificate() = default;

void C11Certificate::serialize(OrlBufferedWriter& writer) {
    C11Object::serialize(writer);
    dir::putU8(writer, static_cast<unsigned>(m_ulCertificateType));
}

CK_RV C11Certificate::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}

CK_RV C11Certificate::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = C11Object::getAttributes(attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_CERTIFICATE_TYPE:
                r = attr::replyUlong(a, m_ulCertificateType);
                break;
            case CKA_TRUSTED:
                r = attr::replyBool(a, m_bTrusted);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

// CKA_CERTIFICATE_TYPE is accepted but the type stays X.509; CKA_TRUSTED can
// only be read.
CK_RV C11Certificate::setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) {
    CK_RV rv = C11Object::setAttributes(bJustCreated, attributes);
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        switch (a->type) {
            case CKA_CERTIFICATE_TYPE:
                return attr::Step::Taken;
            case CKA_TRUSTED:
                rv = CKR_ATTRIBUTE_TYPE_INVALID;
                return attr::Step::Taken;
            default:
                return attr::Step::Pass;
        }
    });
    m_ulClass = CKO_CERTIFICATE;
    return rv;
}

bool C11Certificate::match(CAttributeVector& attributes) {
    if (!C11Object::match(attributes)) return false;
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_CERTIFICATE_TYPE:
                return attr::matchUlong(a, m_ulCertificateType);
            case CKA_TRUSTED:
                return attr::matchBool(a, m_bTrusted);
            default:
                return -1;
        }
    });
}

bool C11Certificate::isComplete() {
    return C11Object::isComplete() && m_ulCertificateType != kClassUnset;
}

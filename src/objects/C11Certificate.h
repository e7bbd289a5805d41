// What every certificate has: its type (always CKC_X_509 here) and the
// read-only CKA_TRUSTED.
#ifndef QUILLON_OBJECTS_C11CERTIFICATE_H
#define QUILLON_OBJECTS_C11CERTIFICATE_H

#include "C11Object.h"

class C11Certificate : public C11Object {
public:
    explicit C11Certificate(ZT_HANDLE hConnection);
    C11Certificate(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11Certificate() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;

protected:
    CK_ULONG m_ulCertificateType = CKC_X_509;
    bool m_bTrusted = true;
};

#endif

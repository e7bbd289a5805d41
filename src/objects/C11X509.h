// An X.509 certificate. Its encoding is stored on the token as a stored value
// and answered byte for byte; subject, issuer and serial number are what the
// application gave, nothing is decoded.
#ifndef QUILLON_OBJECTS_C11X509_H
#define QUILLON_OBJECTS_C11X509_H

#include "C11Certificate.h"

class C11X509 : public C11Certificate {
public:
    explicit C11X509(ZT_HANDLE hConnection);
    C11X509(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11X509() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;

private:
    CK_RV loadValue();

    OwnedBytes m_pblSubject;
    OwnedBytes m_pblID;
    OwnedBytes m_pblIssuer;
    OwnedBytes m_pblSerialNumber;
    OwnedBytes m_pblValue;
};

#endif

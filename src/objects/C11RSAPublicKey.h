// An RSA public key. The public values of a key pair held on the token are
// fetched from the token (loadPublicKey) the first time they are needed.
#ifndef QUILLON_OBJECTS_C11RSAPUBLICKEY_H
#define QUILLON_OBJECTS_C11RSAPUBLICKEY_H

#include "C11PublicKey.h"
#include "CCSPContainer.h"

class C11RSAPublicKey : public C11PublicKey, public CCSPContainer {
public:
    explicit C11RSAPublicKey(ZT_HANDLE hConnection);
    C11RSAPublicKey(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11RSAPublicKey() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;

    CK_RV loadPublicKey();
    // Append the value, loading it first when absent; failure CKR_DEVICE_ERROR.
    CK_RV getModulus(OrlByteArray& out);
    CK_RV getPublicExponent(OrlByteArray& out);
    const OrlByteArray* modulus() const { return m_pblModulus.get(); }
    const OrlByteArray* publicExponent() const { return m_pblPublicExponent.get(); }

private:
    OwnedBytes m_pblModulus;
    OwnedBytes m_pblPublicExponent;
    CK_ULONG m_ulModulusBits = 1024;
};

#endif

// An RSA private key. For a key on the token the private components never
// leave it: the key is used through its path, and only the public values are
// fetched (loadPublicKey). An imported or session key may hold its components
// in memory until the next reload.
#ifndef QUILLON_OBJECTS_C11RSAPRIVATEKEY_H
#define QUILLON_OBJECTS_C11RSAPRIVATEKEY_H

#include "C11PrivateKey.h"
#include "CCSPContainer.h"

class C11RSAPrivateKey : public C11PrivateKey, public CCSPContainer {
public:
    explicit C11RSAPrivateKey(ZT_HANDLE hConnection);
    C11RSAPrivateKey(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11RSAPrivateKey() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    // Needs modulus, public and private exponent: a key held on the token is
    // never complete.
    bool isComplete() override;

    CK_RV loadPublicKey();
    // Appends the modulus, loading it first when absent; failure CKR_DEVICE_ERROR.
    CK_RV getModulus(OrlByteArray& out);
    // Appends the public exponent, loading it first when absent (it checks what
    // the token's private-key operation answers); failure CKR_DEVICE_ERROR.
    CK_RV getPublicExponent(OrlByteArray& out);
    const OrlByteArray* modulus() const { return m_pblModulus.get(); }
    const OrlByteArray* publicExponent() const { return m_pblPublicExponent.get(); }
    const OrlByteArray* privateExponent() const { return m_pblPrivateExponent.get(); }
    // Once the token holds the key: the private components leave memory, and the
    // key answers them as sensitive from then on.
    void dropPrivateComponents();

private:
    OwnedBytes m_pblModulus;
    OwnedBytes m_pblPublicExponent;
    OwnedBytes m_pblPrivateExponent;
    // The primes, prime exponents and coefficient are never kept: a template's
    // values for them are accepted and discarded, and they are never answered.
};

#endif

// A token object as the cryptographic operations see a key: its class and
// type, its usage flags, and its key material through the object's own
// accessors (secret value, RSA modulus and exponent, path on the token).
#ifndef QUILLON_SESSION_OBJECTKEY_H
#define QUILLON_SESSION_OBJECTKEY_H

#include "CryptoOperations.h"

class C11Object;

class CObjectKey : public CCryptoKey {
public:
    explicit CObjectKey(C11Object& object) : m_object(object) {}

    CK_OBJECT_CLASS keyClass() override;
    // CK_UNAVAILABLE_INFORMATION for an object that is no key.
    CK_KEY_TYPE keyType() override;
    bool allowsEncrypt() override;
    bool allowsDecrypt() override;
    // CKR_KEY_TYPE_INCONSISTENT when the object has no such material. A private
    // key answers its public exponent too (for checking its signatures).
    CK_RV getValue(OrlByteArray& out) override;
    CK_RV getModulus(OrlByteArray& out) override;
    CK_RV getPublicExponent(OrlByteArray& out) override;
    const char* path() override;

private:
    // A boolean attribute as the object answers it; false when it has none.
    bool flag(CK_ATTRIBUTE_TYPE type);

    C11Object& m_object;
};

#endif

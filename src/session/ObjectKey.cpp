#include "ObjectKey.h"

#include "C11Key.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"

CK_OBJECT_CLASS CObjectKey::keyClass() {
    return m_object.getClass();
}

CK_KEY_TYPE CObjectKey::keyType() {
    auto* key = dynamic_cast<C11Key*>(&m_object);
    return key ? key->getKeyType() : CK_UNAVAILABLE_INFORMATION;
}

bool CObjectKey::allowsEncrypt() {
    return flag(CKA_ENCRYPT);
}

bool CObjectKey::allowsDecrypt() {
    return flag(CKA_DECRYPT);
}

CK_RV CObjectKey::getValue(OrlByteArray& out) {
    auto* secret = dynamic_cast<C11SecretKey*>(&m_object);
    return secret ? secret->getValue(out) : CKR_KEY_TYPE_INCONSISTENT;
}

CK_RV CObjectKey::getModulus(OrlByteArray& out) {
    if (auto* pub = dynamic_cast<C11RSAPublicKey*>(&m_object)) return pub->getModulus(out);
    if (auto* priv = dynamic_cast<C11RSAPrivateKey*>(&m_object)) return priv->getModulus(out);
    return CKR_KEY_TYPE_INCONSISTENT;
}

CK_RV CObjectKey::getPublicExponent(OrlByteArray& out) {
    if (auto* pub = dynamic_cast<C11RSAPublicKey*>(&m_object)) return pub->getPublicExponent(out);
    // A private key knows its public exponent once its public values are loaded.
    if (auto* priv = dynamic_cast<C11RSAPrivateKey*>(&m_object)) {
        if (!priv->publicExponent() && priv->loadPublicKey() != CKR_OK) return CKR_DEVICE_ERROR;
        if (!priv->publicExponent()) return CKR_KEY_TYPE_INCONSISTENT;
        out.append(*priv->publicExponent());
        return CKR_OK;
    }
    return CKR_KEY_TYPE_INCONSISTENT;
}

const char* CObjectKey::path() {
    return m_object.getPath() ? m_object.getPath() : "";
}

bool CObjectKey::flag(CK_ATTRIBUTE_TYPE type) {
    CK_BBOOL value = CK_FALSE;
    CK_ATTRIBUTE attribute = {type, &value, sizeof value};
    CAttributeVector attributes;
    attributes.addElement(&attribute);
    return m_object.getAttributes(attributes) == CKR_OK && attribute.ulValueLen == sizeof value &&
           value == CK_TRUE;
}

// Key wrapping. There is no wrapping format of its own: the wrapped key is
// the ciphertext of a secret key's value under the chosen mechanism, made by
// the session's own encryption operation; unwrapping decrypts through the
// session's decryption operation and creates a secret key of the result.
#include <vector>

#include "C11SecretKey.h"
#include "CSession.h"
#include "CSessionData.h"
#include "Log.h"

namespace {

C11Object* findObject(CSessionData* data, CK_OBJECT_HANDLE hObject) {
    unsigned long key = hObject;
    C11Object* object = nullptr;
    if (!data->m_objectTable.get(key, object)) return nullptr;
    return object;
}

// Whether the secret key may leave the token wrapped.
bool isExtractable(C11Object& key) {
    CK_BBOOL extractable = CK_TRUE;
    CK_ATTRIBUTE query = {CKA_EXTRACTABLE, &extractable, sizeof(extractable)};
    CAttributeVector attributes;
    attributes.addElement(&query);
    return key.getAttributes(attributes) == CKR_OK && extractable != CK_FALSE;
}

}  // namespace

CK_RV CSession::wrapKey(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                        CK_OBJECT_HANDLE hKey, OrlByteArray& wrapped) {
    logMessage("-> wrapKey");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    C11Object* key = findObject(m_pSessionData, hKey);
    if (!key) {
        logMessage("CKR_KEY_HANDLE_INVALID : %lx", hKey);
        return CKR_KEY_HANDLE_INVALID;
    }
    rv = refusePrivateWhileLoggedOut(hKey);
    if (rv != CKR_OK) return rv;
    C11SecretKey* secretKey = dynamic_cast<C11SecretKey*>(key);
    if (key->getClass() != CKO_SECRET_KEY || !secretKey) {
        logMessage("CKR_WRAPPED_KEY_INVALID: %lx", hKey);
        return CKR_WRAPPED_KEY_INVALID;
    }
    // A key marked unextractable never leaves the token, wrapped or not.
    if (!isExtractable(*key)) {
        logMessage("CKR_KEY_UNEXTRACTABLE: %lx", hKey);
        return CKR_KEY_UNEXTRACTABLE;
    }
    OrlByteArray value;
    rv = secretKey->getValue(value);
    if (rv != CKR_OK) {
        logMessage("get value failed: %lx", rv);
        return CKR_DEVICE_ERROR;
    }
    rv = encryptInit(pMechanism, hWrappingKey);
    if (rv != CKR_OK) {
        value.wipe();
        logMessage("encryptInit failed: %lx", rv);
        return rv;
    }
    rv = encryptUpdate(value, wrapped);
    value.wipe();
    if (rv != CKR_OK) {
        // The encryption stays active, as after any failed update.
        logMessage("encryptUpdate failed: %lx", rv);
        return rv;
    }
    rv = encryptFinal(wrapped);
    if (rv != CKR_OK) {
        logMessage("encryptFinal failed: %lx", rv);
        return rv;
    }
    logMessage("<- WrapKey");
    return CKR_OK;
}

CK_RV CSession::unWrapKey(CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                          OrlByteArray wrappedKey, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                          CK_OBJECT_HANDLE* phKey) {
    logMessage("-> unWrapKey");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    if (!findObject(m_pSessionData, hUnwrappingKey)) {
        logMessage("CKR_KEY_HANDLE_INVALID : %lx", hUnwrappingKey);
        return CKR_KEY_HANDLE_INVALID;
    }
    // What is unwrapped is always a secret key: a template naming another
    // class would turn the key value into a data object or a certificate.
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        const CK_ATTRIBUTE& a = pTemplate[i];
        if (a.type == CKA_CLASS && (!a.pValue || a.ulValueLen < sizeof(CK_OBJECT_CLASS) ||
                                    *static_cast<CK_OBJECT_CLASS*>(a.pValue) != CKO_SECRET_KEY)) {
            logMessage("CKR_TEMPLATE_INCONSISTENT: class");
            return CKR_TEMPLATE_INCONSISTENT;
        }
    }
    rv = decryptInit(pMechanism, hUnwrappingKey);
    if (rv != CKR_OK) {
        logMessage("decryptInit failed: %lx", rv);
        return rv;
    }
    OrlByteArray plain;
    rv = decryptUpdate(wrappedKey, plain);
    if (rv != CKR_OK) {
        plain.wipe();
        logMessage("decryptUpdate failed: %lx", rv);
        return rv;
    }
    // For RSA the token delivers the key bytes here; symmetric ones came above.
    rv = decryptFinal(plain);
    if (rv != CKR_OK) {
        plain.wipe();
        logMessage("decryptFinal failed: %lx", rv);
        return rv;
    }

    // The caller's attributes, then the value and the class.
    CK_OBJECT_CLASS secretKeyClass = CKO_SECRET_KEY;
    std::vector<CK_ATTRIBUTE> attributes(pTemplate, pTemplate + ulCount);
    attributes.push_back({CKA_VALUE, plain.getContent(), plain.getLength()});
    attributes.push_back({CKA_CLASS, &secretKeyClass, sizeof(secretKeyClass)});
    rv = createObject(attributes.data(), static_cast<CK_ULONG>(attributes.size()), phKey);
    plain.wipe();
    if (rv != CKR_OK) {
        logMessage("createObject failed: %lx", rv);
        return rv;
    }
    logMessage("<- UnWrapKey");
    return CKR_OK;
}

// Key generation: DES, triple-DES and AES keys made in software from a fresh
// operating-system seeded generator, RSA key pairs made by the token itself.
// A generated pair is two token objects sharing one key path and one key
// container, and becomes the slot's default container.
#include <cryptopp/osrng.h>
#include <cryptopp/secblock.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "CSession.h"
#include "CardStorage.h"
#include "DefaultMarks.h"
#include "TokenStore.h"
#include "CSessionData.h"
#include "CardLibrary.h"
#include "Log.h"

namespace {

constexpr unsigned kKeyPathSize = 256;
constexpr CK_ULONG kMaxModulusBits = 4096;
// "Container" and the path, with the terminator, must fit 256 bytes.
constexpr size_t kMaxContainerPathLength = 246;

// The value lengths each generator makes; the first is made when the
// template gives no CKA_VALUE_LEN, 0 ends the list.
struct SecretKeyKind {
    CK_KEY_TYPE keyType;
    CK_MECHANISM_TYPE mechanism;
    CK_ULONG valueLengths[4];
};

const SecretKeyKind kSecretKeyKinds[] = {
    {CKK_DES, CKM_DES_KEY_GEN, {8, 0}},
    {CKK_DES3, CKM_DES3_KEY_GEN, {24, 0}},
    {CKK_AES, CKM_AES_KEY_GEN, {16, 24, 32, 0}},
};

// The value length asked for by the template's CKA_VALUE_LEN (the kind's
// default when absent); 0 when the template asks for a length the
// generator does not make, or gives no readable CK_ULONG.
CK_ULONG requestedValueLength(const SecretKeyKind& kind, const CK_ATTRIBUTE* pTemplate,
                              CK_ULONG ulCount) {
    const CK_ATTRIBUTE* given = nullptr;
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i)
        if (pTemplate[i].type == CKA_VALUE_LEN) given = &pTemplate[i];
    if (!given) return kind.valueLengths[0];
    if (!given->pValue || given->ulValueLen != sizeof(CK_ULONG)) return 0;
    CK_ULONG asked = 0;
    std::memcpy(&asked, given->pValue, sizeof(asked));
    for (CK_ULONG length : kind.valueLengths)
        if (length != 0 && length == asked) return asked;
    return 0;
}

// The key type a generator makes, for a template that names none (Java's
// SunPKCS11 gives only the class and CKA_VALUE_LEN).
const CK_KEY_TYPE* impliedKeyType(CK_MECHANISM_TYPE mechanism) {
    for (const SecretKeyKind& kind : kSecretKeyKinds) {
        if (kind.mechanism == mechanism) return &kind.keyType;
    }
    return nullptr;
}

bool templateHas(const CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_ATTRIBUTE_TYPE type) {
    for (CK_ULONG i = 0; pTemplate && i < ulCount; ++i)
        if (pTemplate[i].type == type) return true;
    return false;
}

const SecretKeyKind* findSecretKeyKind(CK_KEY_TYPE keyType, CK_MECHANISM_TYPE mechanism) {
    for (const SecretKeyKind& kind : kSecretKeyKinds) {
        if (kind.keyType == keyType && kind.mechanism == mechanism) return &kind;
    }
    return nullptr;
}

void logVector(CAttributeVector& attributes) {
    if (!loggingEnabled()) return;
    logMessage("Elements (%d)", static_cast<int>(attributes.size()));
    for (uint32_t i = 0; i < attributes.size(); ++i) {
        const CK_ATTRIBUTE* a = attributes.elementAt(i);
        logMessage("type: (%lX), value: %p, valuelen: %d", static_cast<unsigned long>(a->type),
                   a->pValue, static_cast<int>(a->ulValueLen));
    }
}

CK_ULONG modulusBitsOf(C11RSAPublicKey& publicKey) {
    CK_ULONG bits = 0;
    CK_ATTRIBUTE query = {CKA_MODULUS_BITS, &bits, sizeof(bits)};
    CAttributeVector attributes;
    attributes.addElement(&query);
    publicKey.getAttributes(attributes);
    return bits;
}

}  // namespace

CK_RV CSession::generateKey(CK_MECHANISM* pMechanism, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                            CK_OBJECT_HANDLE* phKey) {
    logMessage("-> generateKey");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    rv = printTemplate(pTemplate, ulCount);
    if (rv != CKR_OK) {
        logError("<e> printTemplate pKeyTemplate Error %lX", rv);
        return rv;
    }
    logMechanism(pMechanism);
    rv = loadObjects();
    if (rv != CKR_OK) {
        logError("<e> loadObjects %lX", rv);
        return rv;
    }

    ZT_HANDLE hConnection = m_pSessionData->m_hConnection;
    std::unique_ptr<C11SecretKey> key(new C11SecretKey(hConnection));
    CAttributeVector attributes;
    fillAttributeVector(attributes, pTemplate, ulCount);
    // No CKA_KEY_TYPE: the mechanism's, as PKCS#11 has it.
    CK_KEY_TYPE impliedType = 0;
    CK_ATTRIBUTE typeAttribute = {CKA_KEY_TYPE, &impliedType, sizeof(impliedType)};
    const CK_KEY_TYPE* implied = impliedKeyType(pMechanism->mechanism);
    if (implied && !templateHas(pTemplate, ulCount, CKA_KEY_TYPE)) {
        impliedType = *implied;
        attributes.addElement(&typeAttribute);
    }
    rv = key->setAttributes(CK_TRUE, attributes);
    if (rv != CKR_OK) {
        logError("<e> Error Key.setAttributes %lX", rv);
        return rv;
    }
    if (key->isToken() && (m_ulFlags & CKF_RW_SESSION) == 0) {
        logMessage("->e<- CKR_SESSION_READ_ONLY");
        return CKR_SESSION_READ_ONLY;
    }
    const SecretKeyKind* kind = findSecretKeyKind(key->getKeyType(), pMechanism->mechanism);
    if (!kind) {
        logError("<e> CKR_MECHANISM_INVALID: key value not set");
        return CKR_MECHANISM_INVALID;
    }
    const CK_ULONG valueLength = requestedValueLength(*kind, pTemplate, ulCount);
    if (valueLength == 0) {
        logError("<e> CKR_ATTRIBUTE_VALUE_INVALID: CKA_VALUE_LEN");
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    try {
        // A fresh generator for every key; the block wipes itself.
        CryptoPP::AutoSeededRandomPool rng;
        CryptoPP::SecByteBlock value(valueLength);
        rng.GenerateBlock(value.data(), value.size());
        key->setValue(value.data(), value.size());
    } catch (...) {
        logError("->e<- Excetion");
    }
    if (!key->isComplete()) {
        logError("<e> CKR_TEMPLATE_INCONSISTENT: key value not set");
        return CKR_TEMPLATE_INCONSISTENT;
    }

    key->setLocal(true);
    if (!key->isToken()) {
        *phKey = addSessionObject(key.release());
        return CKR_OK;
    }
    CObjectTable& table = m_pSessionData->m_objectTable;
    CTokenTransaction transaction(tokenStore(), hConnection, m_pSessionData->m_szReaderName);
    rv = transaction.begin();
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE handle = table.insertTokenObject(key.get());
    if (handle == 0) return CKR_DEVICE_MEMORY;
    key.release();
    *phKey = handle;
    rv = transaction.commit();
    if (rv != CKR_OK) {
        // The directory on the card is unchanged (the key's value left the
        // card again): the key leaves the table.
        logError("<e> Error writeObjects %lX", rv);
        table.removeObject(handle);
    }
    return rv;
}

CK_RV CSession::createKeyPairObject(CAttributeVector& publicAttributes,
                                    CAttributeVector& privateAttributes,
                                    std::unique_ptr<C11RSAPrivateKey>& privateKey,
                                    std::unique_ptr<C11RSAPublicKey>& publicKey) {
    ZT_HANDLE hConnection = m_pSessionData->m_hConnection;
    privateKey.reset(new C11RSAPrivateKey(hConnection));
    CK_RV rv = privateKey->setAttributes(CK_TRUE, privateAttributes);
    if (rv != CKR_OK) {
        logError("<e> Error PriKey.setAttributes %lX", rv);
    } else {
        publicKey.reset(new C11RSAPublicKey(hConnection));
        rv = publicKey->setAttributes(CK_TRUE, publicAttributes);
        if (rv != CKR_OK) logError("<e> Error PubKey.setAttributes %lX", rv);
    }
    if (rv == CKR_OK && privateKey->modulus() && publicKey->modulus()) {
        if (privateKey->modulus()->getLength() != publicKey->modulus()->getLength()) {
            logError("<e> Error Module Len");
            rv = CKR_ATTRIBUTE_VALUE_INVALID;
        } else if (*privateKey->modulus() != *publicKey->modulus()) {
            logError("<e> Error Module Content ");
            rv = CKR_ATTRIBUTE_VALUE_INVALID;
        }
    }
    if (rv != CKR_OK) {
        privateKey.reset();
        publicKey.reset();
    }
    return rv;
}

CK_RV CSession::generateKeyPair(CK_MECHANISM* pMechanism, CK_ATTRIBUTE* pPublicKeyTemplate,
                                CK_ULONG ulPublicKeyAttributeCount,
                                CK_ATTRIBUTE* pPrivateKeyTemplate,
                                CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE* phPublicKey,
                                CK_OBJECT_HANDLE* phPrivateKey) {
    logMessage("-> generateKeyPair");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    rv = printTemplate(pPublicKeyTemplate, ulPublicKeyAttributeCount);
    if (rv != CKR_OK) {
        logError("<e> printTemplate pPubKeyTemplate Error %lX", rv);
        return rv;
    }
    rv = printTemplate(pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
    if (rv != CKR_OK) {
        logError("<e> printTemplate pPriKeyTemplate Error %lX", rv);
        return rv;
    }
    logMechanism(pMechanism);
    rv = loadObjects();
    if (rv != CKR_OK) {
        logError("<e> loadObjects %lX", rv);
        return rv;
    }

    CAttributeVector publicAttributes;
    CAttributeVector privateAttributes;
    fillAttributeVector(publicAttributes, pPublicKeyTemplate, ulPublicKeyAttributeCount);
    fillAttributeVector(privateAttributes, pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
    std::unique_ptr<C11RSAPrivateKey> privateKey;
    std::unique_ptr<C11RSAPublicKey> publicKey;
    rv = createKeyPairObject(publicAttributes, privateAttributes, privateKey, publicKey);
    if (rv != CKR_OK) {
        logError("<e> createKeyPairObject %lX", rv);
        return rv;
    }

    // The pair lives on the token when either template says so.
    CK_BBOOL tokenTrue = CK_TRUE;
    CK_ATTRIBUTE tokenAttribute = {CKA_TOKEN, &tokenTrue, sizeof(tokenTrue)};
    CAttributeVector makeToken;
    makeToken.addElement(&tokenAttribute);
    if (privateKey->isToken() && !publicKey->isToken()) {
        publicKey->setAttributes(CK_FALSE, makeToken);
    } else if (publicKey->isToken() && !privateKey->isToken()) {
        privateKey->setAttributes(CK_FALSE, makeToken);
    } else if (!privateKey->isToken()) {
        logError("<e> CKR_TEMPLATE_INCONSISTENT: Session key pair not permitted");
        return CKR_TEMPLATE_INCONSISTENT;
    }
    if ((m_ulFlags & CKF_RW_SESSION) == 0) {
        logMessage("->e<- CKR_SESSION_READ_ONLY");
        return CKR_SESSION_READ_ONLY;
    }

    CK_ULONG modulusBits = modulusBitsOf(*publicKey);
    logMessage("Create KeyPair with ModBits = %d", static_cast<int>(modulusBits));
    if (modulusBits > kMaxModulusBits) return CKR_ATTRIBUTE_VALUE_INVALID;
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_genKeyPair) {
        logError("<e> ZT_genKeyPair NOT SUPPORTED");
        return CKR_FUNCTION_NOT_SUPPORTED;
    }

    ZT_HANDLE hConnection = m_pSessionData->m_hConnection;
    CObjectTable& table = m_pSessionData->m_objectTable;

    char path[kKeyPathSize] = {0};
    try {
        std::unique_ptr<OrlByteArray> exponent;
        if (publicKey->publicExponent())
            exponent.reset(new OrlByteArray(*publicKey->publicExponent()));
        ZT_STATUS status = card->ZT_genKeyPair(hConnection, static_cast<uint32_t>(modulusBits),
                                               exponent.get(), path);
        if (status != 0) {
            logError("<e> ZT_genKeyPair %X", status);
            return CKR_DEVICE_ERROR;
        }
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_genKeyPair");
        return CKR_GENERAL_ERROR;
    }
    path[kKeyPathSize - 1] = 0;
    CK_ULONG pathLength = std::strlen(path);
    // From here the token holds a pair: a failure frees its storage again.
    auto abandon = [&](CK_RV result) {
        releaseCardStorage(hConnection, path);
        return result;
    };
    if (pathLength == 0) {
        logError("<e> ZT_genKeyPair returned no key path");
        return abandon(CKR_DEVICE_ERROR);
    }

    CAttributeVector privateBound;
    CAttributeVector publicBound;
    CK_ATTRIBUTE idAttribute = {CKA_ID, path, pathLength};
    if (!privateKey->getId()) {
        logMessage("ADD CKA_ID %s", path);
        privateBound.addElement(&idAttribute);
        publicBound.addElement(&idAttribute);
    }
    logVector(privateBound);
    logVector(publicBound);
    std::string containerName;
    CK_ATTRIBUTE nameAttribute = {CKA_CONTAINER_NAME, nullptr, 0};
    if (!privateKey->getContainerName()) {
        // The name would not fit the container's 256 bytes: cutting it
        // short could give two pairs one name, so the pair is refused.
        if (pathLength > kMaxContainerPathLength) {
            logError("<e> key path of %lu characters too long for a container name",
                     static_cast<unsigned long>(pathLength));
            return abandon(CKR_DEVICE_ERROR);
        }
        containerName = std::string("Container") + path;
        nameAttribute.pValue = &containerName[0];
        nameAttribute.ulValueLen = containerName.size();
        privateBound.addElement(&nameAttribute);
        publicBound.addElement(&nameAttribute);
        logMessage("ContainerName OK");
        logVector(privateBound);
        logVector(publicBound);
    }
    CK_ULONG index = containerIndexFromPath(path);
    privateKey->setContainerIndex(index);
    publicKey->setContainerIndex(index);
    privateKey->setAttributes(CK_FALSE, privateBound);
    publicKey->setAttributes(CK_FALSE, publicBound);
    privateKey->setPath(path);
    publicKey->setPath(path);

    // The public values always come from the token, whatever the templates
    // said; without them the private key could not be used.
    rv = publicKey->loadPublicKey();
    if (rv != CKR_OK || !publicKey->modulus() || !publicKey->publicExponent()) {
        logError("<e> public key of the new pair unreadable %lX", rv);
        return abandon(CKR_DEVICE_ERROR);
    }
    CK_ATTRIBUTE publicValues[2] = {
        {CKA_MODULUS, const_cast<unsigned char*>(publicKey->modulus()->getContent()),
         publicKey->modulus()->getLength()},
        {CKA_PUBLIC_EXPONENT, const_cast<unsigned char*>(publicKey->publicExponent()->getContent()),
         publicKey->publicExponent()->getLength()},
    };
    CAttributeVector copies;
    fillAttributeVector(copies, publicValues, 2);
    privateKey->setAttributes(CK_FALSE, copies);
    // Only the token holds private components.
    privateKey->dropPrivateComponents();
    privateKey->setLocal(true);
    publicKey->setLocal(true);

    // The card holds the pair now; the directory names it once the
    // transaction commits (a crash before leaves an unnamed pair).
    CTokenTransaction transaction(tokenStore(), hConnection, m_pSessionData->m_szReaderName);
    rv = transaction.begin();
    if (rv != CKR_OK) return abandon(rv);
    // Every failure from here on gives the older pairs their marks back.
    CSavedDefaultMarks oldMarks(table);
    clearDefaultContainers();
    privateKey->setDefaultContainer(1);
    publicKey->setDefaultContainer(1);
    logMessage("Default Container");
    CK_OBJECT_HANDLE publicHandle = table.insertTokenObject(publicKey.get());
    if (publicHandle) publicKey.release();
    CK_OBJECT_HANDLE privateHandle = publicHandle ? table.insertTokenObject(privateKey.get()) : 0;
    if (privateHandle) privateKey.release();
    *phPublicKey = publicHandle;
    *phPrivateKey = privateHandle;
    rv = privateHandle ? transaction.commit() : CKR_DEVICE_MEMORY;
    if (rv != CKR_OK) {
        // The directory on the card is unchanged: the pair leaves the table
        // and the card.
        logError("<e> writeObjects %lX", rv);
        if (privateHandle) table.removeObject(privateHandle);
        if (publicHandle) table.removeObject(publicHandle);
        oldMarks.restore();
        return abandon(rv);
    }
    return CKR_OK;
}

// Object operations of a session: creating, importing, destroying, reading
// and changing objects. The slot's object table is shared by every session of
// the slot and is a cache of the card: every change of a token object runs as
// one token transaction (TokenStore.h), which re-reads the directory when
// another process changed it and stores the change before it returns.
#include <cstring>
#include <string>
#include <vector>

#include "C11Data.h"
#include "C11RSAPrivateKey.h"
#include "C11RSAPublicKey.h"
#include "C11SecretKey.h"
#include "C11X509.h"
#include "CSession.h"
#include "CardStorage.h"
#include "DefaultMarks.h"
#include "CSessionData.h"
#include "CardLibrary.h"
#include "Log.h"
#include "StoredCertificates.h"
#include "TokenStore.h"

namespace {

constexpr unsigned kKeyPathSize = 256;

C11Object* findObject(CObjectTable& table, CK_OBJECT_HANDLE hObject) {
    return table.find(hObject);
}

// Whether an object of the table other than `except` keeps its value or key
// pair at `path` (both halves of an RSA key pair share one).
bool isPathShared(CObjectTable& table, const std::string& path, const C11Object* except) {
    unsigned long key = 0;
    C11Object* object = nullptr;
    bool shared = false;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (object && object != except && object->getPath() && path == object->getPath()) {
            shared = true;
        }
    }
    return shared;
}

// Session objects never reach the card: their handles need no fresh table.
bool mayBeTokenObject(CK_OBJECT_HANDLE hObject) {
    return hObject < CObjectTable::kFirstSessionHandle;
}

// The flags that fix where an object lives and who may read or change it:
// set at creation only. A template that gives one of them another value than
// the object has is refused before anything changes.
bool changesFixedFlag(const C11Object& object, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount) {
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        bool current;
        switch (pTemplate[i].type) {
            case CKA_TOKEN:
                current = object.isToken();
                break;
            case CKA_PRIVATE:
                current = object.isPrivate();
                break;
            case CKA_MODIFIABLE:
                current = object.isModifiable();
                break;
            default:
                continue;
        }
        bool wanted = false;
        // A malformed value is the attribute walk's to refuse.
        if (attr::takeBool(&pTemplate[i], wanted) == CKR_OK && wanted != current) return true;
    }
    return false;
}

}  // namespace

CTokenStore& CSession::tokenStore() {
    return m_pSessionData->m_tokenStore;
}

CK_RV CSession::loadObjects() {
    logMessage("-> loadObjects");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    rv = tokenStore().refresh(m_pSessionData->m_hConnection, m_pSessionData->m_szReaderName);
    if (rv != CKR_OK) return rv;
    logMessage("<- loadObjects");
    return CKR_OK;
}

CK_RV CSession::createObject(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                             CK_OBJECT_HANDLE* phObject) {
    logMessage("-> createObject");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    rv = printTemplate(pTemplate, ulCount);
    if (rv != CKR_OK) {
        logError("<e> createObject::printTemplate (%lX", rv);
        return rv;
    }
    CK_ULONG objectClass = classFromTemplate(pTemplate, ulCount);
    if (objectClass == kClassUnset) {
        logError("<e> BAD OBJECT CLASS");
        return CKR_GENERAL_ERROR;
    }
    rv = loadObjects();
    if (rv != CKR_OK) {
        logError("<e> loadObjects returns: %lX", rv);
        return rv;
    }

    ZT_HANDLE hConnection = m_pSessionData->m_hConnection;
    C11Object* object = nullptr;
    switch (objectClass) {
        case CKO_DATA:
            logMessage("createObject::CKO_DATA");
            object = new C11Data(hConnection);
            break;
        case CKO_CERTIFICATE:
            logMessage("createObject::CKO_CERTIFICATE");
            object = new C11X509(hConnection);
            break;
        case CKO_PUBLIC_KEY:
            logMessage("createObject::CKO_PUBLICKEY");
            object = new C11RSAPublicKey(hConnection);
            break;
        case CKO_PRIVATE_KEY:
            logMessage("createObject::CKO_PRIVATE_KEY");
            return loadPrivateKey(pTemplate, ulCount, phObject);
        case CKO_SECRET_KEY:
            logMessage("createObject::CKO_SECRET_KEY");
            object = new C11SecretKey(hConnection);
            break;
        default:
            logMessage("createObject::Object not supported (%lX)", objectClass);
            return CKR_TEMPLATE_INCONSISTENT;
    }

    CAttributeVector attributes;
    fillAttributeVector(attributes, pTemplate, ulCount);
    rv = object->setAttributes(CK_TRUE, attributes);
    if (rv != CKR_OK) {
        logError("<e> Error createObject::setAttributes (%lX", rv);
        delete object;
        return rv;
    }
    // Entries left are attributes no class of the object knows: ignored.
    if (object->isPrivate() && m_pSessionData->m_ulUserType == kNoUserType) {
        logError("<e> Not Loggedin CKR_USER_NOT_LOGGED_IN");
        delete object;
        return CKR_USER_NOT_LOGGED_IN;
    }
    if (object->isToken() && (m_ulFlags & CKF_RW_SESSION) == 0) {
        logMessage("->e<- CKR_SESSION_READ_ONLY");
        delete object;
        return CKR_SESSION_READ_ONLY;
    }
    if (object->isToken() && object->getClass() == CKO_PUBLIC_KEY) {
        delete object;
        logError("<e> Error CKO_PUBLIC_KEY token");
        return CKR_TEMPLATE_INCONSISTENT;
    }
    if (!object->isToken()) {
        *phObject = addSessionObject(object);
        logMessage("<- createObject %lX", rv);
        return CKR_OK;
    }
    CObjectTable& table = m_pSessionData->m_objectTable;
    CTokenTransaction transaction(tokenStore(), hConnection, m_pSessionData->m_szReaderName);
    rv = transaction.begin();
    if (rv != CKR_OK) {
        logError("<e> loadObjects returns: %lX", rv);
        delete object;
        return rv;
    }
    // Against the certificates the card holds now, whoever stored them.
    if (object->getClass() == CKO_CERTIFICATE) {
        bool loggedIn = m_pSessionData->m_ulUserType != kNoUserType;
        if (C11Object* stored = findStoredCertificate(table, pTemplate, ulCount, loggedIn)) {
            delete object;
            *phObject = stored->getHandle();
            logMessage("<- createObject: certificate already on the token %lX", *phObject);
            return CKR_OK;
        }
    }
    CK_OBJECT_HANDLE handle = table.insertTokenObject(object);
    if (handle == 0) {
        logError("<e> no object number left");
        delete object;
        return CKR_DEVICE_MEMORY;
    }
    *phObject = handle;
    rv = transaction.commit();
    if (rv != CKR_OK) {
        // The card's directory is unchanged (a value already stored for the
        // object left the card again): the object leaves the table.
        logError("<e> Error writeObjects %lX", rv);
        table.removeObject(handle);
        return rv;
    }
    logMessage("<- createObject %lX", rv);
    return rv;
}

void CSession::clearDefaultContainers() {
    CObjectTable& table = m_pSessionData->m_objectTable;
    unsigned long key = 0;
    C11Object* object = nullptr;
    for (CObjectTable::Entry* e = table.getFirstEntry(); e;) {
        e = table.getNextEntry(e, key, object);
        if (!object) continue;
        if (object->getClass() != CKO_PUBLIC_KEY && object->getClass() != CKO_PRIVATE_KEY) {
            continue;
        }
        if (CCSPContainer* container = dynamic_cast<CCSPContainer*>(object)) {
            container->setDefaultContainer(0);
        }
    }
}

CK_RV CSession::loadPrivateKey(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                               CK_OBJECT_HANDLE* phObject) {
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    logMessage("-> loadPrivateKey");
    ZT_HANDLE hConnection = m_pSessionData->m_hConnection;
    CObjectTable& table = m_pSessionData->m_objectTable;

    CAttributeVector privateAttributes;
    fillAttributeVector(privateAttributes, pTemplate, ulCount);
    // The public half takes what its classes know from the same template, but
    // not the class: it stays a public key.
    CAttributeVector publicAttributes;
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        if (pTemplate[i].type != CKA_CLASS) publicAttributes.addElement(&pTemplate[i]);
    }

    std::unique_ptr<C11RSAPrivateKey> privateKey(new C11RSAPrivateKey(hConnection));
    rv = privateKey->setAttributes(CK_TRUE, privateAttributes);
    if (rv != CKR_OK) {
        logMessage("PrivateKey setAttributes Error (%lX", rv);
        return rv;
    }
    if (!privateKey->isToken()) {
        logError("<e> CKR_TEMPLATE_INCONSISTENT: Session key pair not permitted");
        return CKR_TEMPLATE_INCONSISTENT;
    }
    // Like every token object, an imported key needs a read-write session.
    if ((m_ulFlags & CKF_RW_SESSION) == 0) {
        logMessage("->e<- CKR_SESSION_READ_ONLY");
        return CKR_SESSION_READ_ONLY;
    }
    std::unique_ptr<C11RSAPublicKey> publicKey(new C11RSAPublicKey(hConnection));
    rv = publicKey->setAttributes(CK_TRUE, publicAttributes);
    if (rv != CKR_OK) {
        logError("<e> PublicKey setAttributes Error (%lX", rv);
        return rv;
    }
    if (!publicKey->modulus() || !publicKey->publicExponent() || !privateKey->privateExponent() ||
        !privateKey->modulus()) {
        logError("<e> Error No modulus, or exponents");
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_putKeyPair) {
        logError("<e> ZT_putKeyPair NOT SUPPORTED");
        return CKR_FUNCTION_NOT_SUPPORTED;
    }

    char path[kKeyPathSize] = {0};
    try {
        OrlByteArray modulus(*privateKey->modulus());
        OrlByteArray privateExponent(*privateKey->privateExponent());
        OrlByteArray publicExponent(privateKey->publicExponent() ? *privateKey->publicExponent()
                                                                 : *publicKey->publicExponent());
        ZT_STATUS status =
            card->ZT_putKeyPair(hConnection, modulus, privateExponent, publicExponent, path);
        volatile unsigned char* p = privateExponent.getContent();
        for (unsigned long i = 0; i < privateExponent.getLength(); ++i) p[i] = 0;
        if (status != 0) {
            logError("<e> Error ZT_putKeyPair (%X", status);
            return CKR_DEVICE_ERROR;
        }
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_putKeyPair");
        return CKR_GENERAL_ERROR;
    }
    // Only the token holds the private components from here on.
    privateKey->dropPrivateComponents();
    path[kKeyPathSize - 1] = 0;
    logMessage("ZT_putKeyPair OK. slotID: %s ", path);
    CK_ULONG index = containerIndexFromPath(path);
    logMessage("index: %d", static_cast<int>(index));

    CK_ULONG pathLength = std::strlen(path);
    std::vector<CK_ATTRIBUTE> bound;
    bound.push_back({CKA_OBJECT_ID, path, pathLength});
    if (!privateKey->getId()) {
        logMessage("Set CKA_ID: %s", path);
        bound.push_back({CKA_ID, path, pathLength});
    }
    // The longest name the directory keeps is 255 characters.
    std::string containerName = std::string("Container") + path;
    if (containerName.size() > kMaxShortText) containerName.resize(kMaxShortText);
    if (!privateKey->getContainerName()) {
        bound.push_back(
            {CKA_CONTAINER_NAME, &containerName[0], static_cast<CK_ULONG>(containerName.size())});
        logMessage("ContainerName OK");
    }
    privateKey->setContainerIndex(index);
    publicKey->setContainerIndex(index);

    CAttributeVector privateBound;
    CAttributeVector publicBound;
    for (CK_ATTRIBUTE& a : bound) {
        privateBound.addElement(&a);
        publicBound.addElement(&a);
    }
    privateKey->setAttributes(CK_FALSE, privateBound);
    publicKey->setAttributes(CK_FALSE, publicBound);
    privateKey->setPath(path);
    publicKey->setPath(path);
    privateKey->setLocal(false);
    publicKey->setLocal(false);

    // The card holds the pair now; the directory names it once the
    // transaction commits (a crash before leaves an unnamed pair, no record
    // without its key).
    CTokenTransaction transaction(tokenStore(), hConnection, m_pSessionData->m_szReaderName);
    rv = transaction.begin();
    if (rv != CKR_OK) {
        releaseCardStorage(hConnection, path);
        return rv;
    }
    // The older pairs' marks (from the table just read), to put back when the
    // directory cannot be written.
    CSavedDefaultMarks oldMarks(table);
    logMessage("Set Default Container");
    clearDefaultContainers();
    privateKey->setDefaultContainer(1);
    publicKey->setDefaultContainer(1);

    CK_OBJECT_HANDLE publicHandle = table.insertTokenObject(publicKey.get());
    if (publicHandle) publicKey.release();
    CK_OBJECT_HANDLE privateHandle = publicHandle ? table.insertTokenObject(privateKey.get()) : 0;
    if (privateHandle) privateKey.release();
    *phObject = privateHandle;
    logMessage("Object added");

    rv = privateHandle ? transaction.commit() : CKR_DEVICE_MEMORY;
    if (rv != CKR_OK) {
        // The directory on the card is unchanged: the pair leaves the table and
        // the card, and the older pairs keep their marks.
        logError("<e> writeObjects %lX", rv);
        if (privateHandle) table.removeObject(privateHandle);
        if (publicHandle) table.removeObject(publicHandle);
        releaseCardStorage(hConnection, path);
        oldMarks.restore();
    }
    return rv;
}

CK_RV CSession::deleteObject(CK_OBJECT_HANDLE hObject) {
    logMessage("-> deleteObject");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    CObjectTable& table = m_pSessionData->m_objectTable;
    C11Object* object = findObject(table, hObject);
    if (object && !object->isToken()) {
        m_sessionObjects.removeElement(COwnedObject{hObject, object->getIdentity()});
        table.removeObject(hObject);
        logMessage("deleteObject OK");
        logMessage("-> deleteObject");
        return CKR_OK;
    }
    if (!mayBeTokenObject(hObject)) {
        logError("<e> CKR_OBJECT_HANDLE_INVALID");
        return CKR_OBJECT_HANDLE_INVALID;
    }
    ZT_HANDLE hConnection = m_pSessionData->m_hConnection;
    CTokenTransaction transaction(tokenStore(), hConnection, m_pSessionData->m_szReaderName);
    rv = transaction.begin();
    if (rv != CKR_OK) return rv;
    // The table is the card's directory now: the object may be gone.
    object = findObject(table, hObject);
    if (!object) {
        logError("<e> CKR_OBJECT_HANDLE_INVALID");
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if ((m_ulFlags & CKF_RW_SESSION) == 0) {
        logError("<e> CKR_SESSION_READ_ONLY");
        return CKR_SESSION_READ_ONLY;
    }
    if (!object->isModifiable()) {
        logError("<e> object cannot be destroyed");
        return CKR_FUNCTION_FAILED;
    }
    if (object->isPrivate() && m_pSessionData->m_ulUserType == kNoUserType) {
        logError("<e> Not Loggedin CKR_USER_NOT_LOGGED_IN");
        return CKR_USER_NOT_LOGGED_IN;
    }
    std::string path = object->getPath() ? object->getPath() : "";
    logMessage("ID to delete: %s", path.c_str());
    CardFunctions* card = cardFunctions();
    // The other half of a key pair still uses the pair's storage; the table
    // holds every record of the card here, private ones included.
    bool freeStorage = !path.empty() && !isPathShared(table, path, object);
    if (freeStorage && (!card || !card->ZT_deleteObj)) {
        logError("<e> ZT_deleteObject NOT SUPPORTED");
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    table.removeObject(hObject);
    // The directory goes first: should it fail, the card still holds the
    // object whole, and the next read brings it back.
    rv = transaction.commit();
    if (rv != CKR_OK) {
        logError("<e> writeObjects %lX", rv);
        return rv;
    }
    if (freeStorage) releaseCardStorage(hConnection, path);
    logMessage("deleteObject OK");
    logMessage("-> deleteObject");
    return CKR_OK;
}

CK_RV CSession::getObjectAttributes(CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate,
                                    CK_ULONG ulCount) {
    logMessage("-> getObjectAttributes");
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    rv = printTemplate(pTemplate, ulCount);
    if (rv != CKR_OK) {
        logError("<e> getObjectAttributes::printTemplate %lX", rv);
        return rv;
    }
    logMessage("doing printTemplate");
    // A change another process committed is seen here.
    if (mayBeTokenObject(hObject)) {
        rv = loadObjects();
        if (rv != CKR_OK) return rv;
    }
    C11Object* object = findObject(m_pSessionData->m_objectTable, hObject);
    if (!object) {
        logError("<e> getObjectAttributes::(CKR_OBJECT_HANDLE_INVALID)");
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (object->isPrivate() && m_pSessionData->m_ulUserType == kNoUserType) {
        logError("<e> Not Loggedin CKR_USER_NOT_LOGGED_IN");
        return CKR_USER_NOT_LOGGED_IN;
    }
    CAttributeVector attributes;
    fillAttributeVector(attributes, pTemplate, ulCount);
    logMessage("doing getAttributes");
    rv = object->getAttributes(attributes);
    if (rv != CKR_OK) {
        logError("<e> getObjectAttributes::getAttributes %lX", rv);
        printTemplate(pTemplate, ulCount, *object);
        return rv;
    }
    if (attributes.isEmpty()) {
        rv = printTemplate(pTemplate, ulCount, *object);
        if (rv != CKR_OK) logError("<e> getObjectAttributes::printTemplate (%lX", rv);
        return rv;
    }
    for (uint32_t i = 0; i < attributes.size(); ++i) {
        attributes.elementAt(i)->ulValueLen = static_cast<CK_ULONG>(-1);
    }
    logError("<e> getObjectAttributes::(CKR_ATTRIBUTE_TYPE_INVALID)");
    printTemplate(pTemplate, ulCount, *object);
    return CKR_ATTRIBUTE_TYPE_INVALID;
}

CK_RV CSession::setObjectAttributes(CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate,
                                    CK_ULONG ulCount) {
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    CObjectTable& table = m_pSessionData->m_objectTable;
    std::unique_ptr<CTokenTransaction> transaction;
    if (mayBeTokenObject(hObject)) {
        transaction.reset(new CTokenTransaction(tokenStore(), m_pSessionData->m_hConnection,
                                                m_pSessionData->m_szReaderName));
        rv = transaction->begin();
        if (rv != CKR_OK) return rv;
    }
    C11Object* object = findObject(table, hObject);
    if (!object) {
        printTemplate(pTemplate, ulCount, TemplateUse::Search);
        logError("Object %lx not found", hObject);
        return CKR_OBJECT_HANDLE_INVALID;
    }
    // Logged as values of this object: a private one's values stay out.
    rv = printTemplate(pTemplate, ulCount, *object);
    if (rv != CKR_OK) {
        logError("printTemplate %lx", rv);
        return rv;
    }
    if (object->isPrivate() && m_pSessionData->m_ulUserType == kNoUserType) {
        logError("<e> Not Loggedin CKR_USER_NOT_LOGGED_IN");
        return CKR_USER_NOT_LOGGED_IN;
    }
    // The class picks the record layout on the card: it never changes, or the
    // directory would be read back as an object of another class.
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        if (pTemplate[i].type != CKA_CLASS) continue;
        if (classFromTemplate(&pTemplate[i], 1) != object->getClass()) {
            logError("<e> CKA_CLASS cannot change");
            return CKR_ATTRIBUTE_READ_ONLY;
        }
    }
    if (changesFixedFlag(*object, pTemplate, ulCount)) {
        logError("<e> CKA_TOKEN, CKA_PRIVATE and CKA_MODIFIABLE cannot change");
        return CKR_ATTRIBUTE_READ_ONLY;
    }
    CAttributeVector attributes;
    fillAttributeVector(attributes, pTemplate, ulCount);
    rv = object->setAttributes(CK_FALSE, attributes);
    if (rv == CKR_OK && !attributes.isEmpty()) {
        logError("not attVect.isEmpty()");
        rv = CKR_ATTRIBUTE_TYPE_INVALID;
    } else if (rv != CKR_OK) {
        logError("setAttributes %lx", rv);
    }
    if (!object->isToken()) return rv;
    if (rv != CKR_OK) {
        // What the object took before the error is not the card's: the next
        // use reads the object again.
        table.markForReload();
        return rv;
    }
    return transaction->commit();
}

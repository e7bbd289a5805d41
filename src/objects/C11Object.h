// Every object an application reaches through a session: the attributes all
// objects share, the attribute protocol, and the object header of the
// directory record. Objects are used only under the global lock.
//
// The attribute walk: getAttributes, setAttributes and match first call the
// base class's operation, then take the entries they handle out of the vector
// and pass over the rest; what the most derived class leaves is unknown.
#ifndef QUILLON_OBJECTS_C11OBJECT_H
#define QUILLON_OBJECTS_C11OBJECT_H

#include <cstdint>

#include "AttributeRules.h"
#include "CBufferedReader.h"
#include "CardFunctions.h"
#include "CardLibrary.h"
#include "Log.h"
#include "OrlBufferedWriter.h"
#include "cryptoki.h"

// Class value of an object whose class was never set.
constexpr CK_ULONG kClassUnset = 255;

class C11Object {
public:
    // From a template: defaults; the number and handle come when the object
    // enters the slot's table (CObjectTable::insertTokenObject and
    // insertSessionObject).
    explicit C11Object(ZT_HANDLE hConnection);
    // From the directory: reads the object header. Every record is a token
    // object, whatever its token flag says (the directory holds nothing else).
    C11Object(ZT_HANDLE hConnection, CBufferedReader& reader);
    virtual ~C11Object();
    C11Object(const C11Object&) = delete;
    C11Object& operator=(const C11Object&) = delete;

    // Appends the record body (not the class tag).
    virtual void serialize(OrlBufferedWriter& writer);
    // Stores the separately kept value on the token when needed, then serialize.
    virtual CK_RV write(OrlBufferedWriter& writer);
    virtual CK_RV getAttributes(CAttributeVector& attributes);
    virtual CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes);
    virtual bool match(CAttributeVector& attributes);
    virtual bool isComplete();

    const char* getLabel() const { return m_szLabel ? m_szLabel->c_str() : nullptr; }
    CK_ULONG getClass() const { return m_ulClass; }
    bool isToken() const { return m_bToken; }
    bool isPrivate() const { return m_bPrivate; }
    bool isModifiable() const { return m_bModifiable; }
    uint16_t getObjNumber() const { return m_usObjNumber; }
    // The handle applications see: the object number of a token object, a
    // value above every object number for a session object, 0 before the
    // object entered a table.
    CK_OBJECT_HANDLE getHandle() const { return m_ulHandle; }
    void setObjNumber(uint16_t number) {
        m_usObjNumber = number;
        m_ulHandle = number;
    }
    void setSessionHandle(CK_OBJECT_HANDLE handle) { m_ulHandle = handle; }
    // Unique to this object among all objects the process ever made, so that
    // a session can tell its own objects from later ones with the same handle.
    uint64_t getIdentity() const { return m_ullIdentity; }
    ZT_HANDLE getConnection() const { return m_hConnection; }
    // The slot reconnected to the same card (logout ends the card's verification).
    void setConnection(ZT_HANDLE hConnection) { m_hConnection = hConnection; }
    // Path of the stored value or key pair on the token; null when none.
    const char* getPath() const { return m_szPath ? m_szPath->c_str() : nullptr; }
    // At most 255 characters are kept, the most the directory can hold.
    void setPath(const char* path);
    const OrlByteArray* getObjectId() const { return m_pObjID.get(); }
    bool isJustCreated() const { return m_bJustCreated; }
    bool isDataModified() const { return m_bDataModified; }

    // Stored values allocated by write() that no stored directory names yet:
    // the token store frees them when the directory write fails.
    bool hasFreshPath() const { return m_bFreshPath; }
    // The value a changed object's write() replaced: freed by the token store
    // once the directory naming the new one is stored. Null when none.
    const char* getRetiredPath() const {
        return m_szRetiredPath ? m_szRetiredPath->c_str() : nullptr;
    }
    // After the directory write: stored (the fresh path is named, the retired
    // one forgotten) or not (the fresh path is forgotten).
    void settleStoredPaths() {
        m_bFreshPath = false;
        m_szRetiredPath.reset();
    }

protected:
    // How a stored value's fetch reports: data objects and secret keys take the
    // status 7 (never written) as the one-byte value 0x00, certificates do not.
    enum class FetchStyle { Data, Certificate, Match };

    // Reads the stored value at m_szPath into value (not cached here). An
    // object without a path has nothing stored yet: empty value, no card call.
    CK_RV fetchStoredValue(uint32_t accessClass, unsigned long reserve, FetchStyle style,
                           OrlByteArray& value);
    // write() of the classes with a stored value: after a creation or a
    // change of the value, allocates a new stored value (ZT_addObj without
    // data) and fills it (ZT_addObj with the data, skipped for an empty
    // value), then appends the record body. gather supplies the value.
    template <typename Gather>
    CK_RV storeValue(uint32_t accessClass, const char* addName, OrlBufferedWriter& writer,
                     Gather&& gather);

    bool m_bToken = false;
    CK_ULONG m_ulClass = kClassUnset;
    bool m_bPrivate = false;
    bool m_bModifiable = true;
    OwnedText m_szLabel;
    uint16_t m_usObjNumber = 0;
    CK_OBJECT_HANDLE m_ulHandle = 0;
    uint64_t m_ullIdentity;
    ZT_HANDLE m_hConnection;
    OwnedText m_szPath;
    OwnedBytes m_pObjID;
    bool m_bDataModified = false;
    bool m_bJustCreated = false;
    bool m_bFreshPath = false;
    OwnedText m_szRetiredPath;
};

template <typename Gather>
CK_RV C11Object::storeValue(uint32_t accessClass, const char* addName, OrlBufferedWriter& writer,
                            Gather&& gather) {
    CK_RV rv = CKR_OK;
    CardFunctions* card = cardFunctions();
    if (m_bJustCreated || m_bDataModified) {
        if (!card || !card->ZT_addObj) {
            logError("<e> %s NOT SUPPORTED", addName);
            return CKR_FUNCTION_NOT_SUPPORTED;
        }
        // The value to store, gathered before anything is allocated.
        OrlByteArray value;
        CK_RV gathered = gather(value);
        if (gathered != CKR_OK) return gathered;
        // A new value always goes to a newly allocated stored value; the old
        // one is freed only after the directory names the new one. So a
        // record never names a half-written value, and (path, record) tells
        // every process whether its cached value is still the card's.
        char path[kCardPathSize] = {0};
        OrlByteArray empty;
        ZT_STATUS status = card->ZT_addObj(m_hConnection, empty, accessClass, path);
        if (status != 0) {
            logError("<e> ZT_addObj %X", status);
            return CKR_DEVICE_ERROR;
        }
        path[kCardPathSize - 1] = 0;
        if (!m_bJustCreated && m_szPath && !m_szPath->empty() && !m_szRetiredPath) {
            m_szRetiredPath = std::move(m_szPath);
        }
        setPath(path);
        m_bFreshPath = true;
        // An empty value stays "allocated, never written", which reads back
        // as empty: ZT_addObj with no data would allocate once more.
        if (value.getLength() > 0) {
            status = card->ZT_addObj(m_hConnection, value, accessClass, path);
            if (status != 0) {
                logError("<e> ZT_addObj %X", status);
                rv = CKR_DEVICE_ERROR;
            }
        }
    }
    m_bJustCreated = false;
    m_bDataModified = false;
    serialize(writer);
    return rv;
}

// Logs a template (nothing at log level 0), keeping secrets out: key
// material, and the values of private objects. Always CKR_OK.
enum class TemplateUse { NewObject, Search };
CK_RV printTemplate(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                    TemplateUse use = TemplateUse::NewObject);
// A template read from or written to an existing object.
CK_RV printTemplate(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, const C11Object& object);
// The CK_ULONG value of the first CKA_CLASS entry; kClassUnset when there is
// none or its value is too short to hold a CK_ULONG.
CK_ULONG classFromTemplate(CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);
// A vector over the caller's template, in template order.
void fillAttributeVector(CAttributeVector& vector, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount);

#endif

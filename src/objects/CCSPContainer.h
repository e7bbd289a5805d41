// The key container on the token that holds an RSA key pair: its name, its
// index and the token's default-container mark. Second base of both RSA key
// classes, so both halves of a pair carry the same container part; the key's
// own operations override these and call them for the container part.
#ifndef QUILLON_OBJECTS_CCSPCONTAINER_H
#define QUILLON_OBJECTS_CCSPCONTAINER_H

#include "AttributeRules.h"
#include "CBufferedReader.h"
#include "OrlBufferedWriter.h"

constexpr CK_ULONG kNoContainerIndex = 255;

class CCSPContainer {
public:
    CCSPContainer() = default;
    // Reads the container part of a directory record.
    explicit CCSPContainer(CBufferedReader& reader);
    virtual ~CCSPContainer();
    CCSPContainer(const CCSPContainer&) = delete;
    CCSPContainer& operator=(const CCSPContainer&) = delete;

    virtual CK_RV getAttributes(CAttributeVector& attributes);
    // Always CKR_OK, except that a name longer than the directory can hold
    // (255 bytes) or a too-short value is refused with CKR_ATTRIBUTE_VALUE_INVALID.
    virtual CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes);
    virtual bool match(CAttributeVector& attributes);
    virtual bool isComplete();
    virtual void serialize(OrlBufferedWriter& writer);
    virtual CK_RV write(OrlBufferedWriter& writer);

    const char* getContainerName() const {
        return m_szContainerName ? m_szContainerName->c_str() : nullptr;
    }
    CK_ULONG getContainerIndex() const { return m_ulContainerIndex; }
    void setContainerIndex(CK_ULONG index) { m_ulContainerIndex = index; }
    unsigned char getDefaultContainer() const { return m_bDefaultContainer; }
    void setDefaultContainer(unsigned char mark) { m_bDefaultContainer = mark; }

protected:
    OwnedText m_szContainerName;
    CK_ULONG m_ulContainerIndex = kNoContainerIndex;
    // The byte last set (any value); 0 or 1 after a reload.
    unsigned char m_bDefaultContainer = 0;
};

#endif

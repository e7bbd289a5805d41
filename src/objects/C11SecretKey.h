// A DES, triple-DES or AES key. Its value is a stored value on the token,
// fetched when needed and cached; the symmetric operations use it in software.
//
// CKA_VALUE is revealed in clear only for a key neither sensitive nor
// unextractable; otherwise it answers CKR_ATTRIBUTE_SENSITIVE and no search
// by value finds the key. CKA_SENSITIVE is chosen at creation (default true)
// and can later be turned on, never off. Wrapping (getValue) is governed by
// CKA_EXTRACTABLE alone.
#ifndef QUILLON_OBJECTS_C11SECRETKEY_H
#define QUILLON_OBJECTS_C11SECRETKEY_H

#include "C11Key.h"

class C11SecretKey : public C11Key {
public:
    explicit C11SecretKey(ZT_HANDLE hConnection);
    C11SecretKey(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11SecretKey() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    // Exactly when a value is cached.
    bool isComplete() override;

    // Appends the value, fetching it first when it is not cached.
    CK_RV getValue(OrlByteArray& out);
    // Replaces the cached value; the store flags are left as they are.
    void setValue(const unsigned char* data, CK_ULONG length);

private:
    CK_RV loadValue();
    // CKA_VALUE may be answered in clear.
    bool revealable() const;

    OwnedBytes m_pblValue;
    bool m_bSensitive = true;
    bool m_bDecrypt = true;
    bool m_bEncrypt = true;
    bool m_bSign = true;
    bool m_bVerify = false;
    bool m_bWrap = false;
    bool m_bUnwrap = false;
    bool m_bExtractable = true;
    bool m_bAlwaysSensitive = true;
    bool m_bNeverExtractable = false;
};

#endif

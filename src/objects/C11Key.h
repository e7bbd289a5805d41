// The attributes every key has, and the key part of the directory record.
#ifndef QUILLON_OBJECTS_C11KEY_H
#define QUILLON_OBJECTS_C11KEY_H

#include "C11Object.h"

class C11Key : public C11Object {
public:
    explicit C11Key(ZT_HANDLE hConnection);
    C11Key(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11Key() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;
    virtual CK_KEY_TYPE getKeyType();

    const OrlByteArray* getId() const { return m_pblID.get(); }
    bool isLocal() const { return m_bLocal; }
    // Key import marks its keys as not made on the token; this bypasses the
    // rule that CKA_LOCAL may not go from true to false through a template.
    void setLocal(bool bLocal) { m_bLocal = bLocal; }

protected:
    CK_ULONG m_ulKeyType = kClassUnset;
    OwnedBytes m_pblID;
    OwnedDate m_pStartDate;
    OwnedDate m_pEndDate;
    bool m_bDerive = false;
    bool m_bLocal = true;
    CK_ULONG m_ulKeyGenMechanism = 0;
};

#endif

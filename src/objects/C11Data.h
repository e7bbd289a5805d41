// A CKO_DATA object: an application name and an opaque value kept on the
// token as a stored value of its own, fetched when first needed and cached.
#ifndef QUILLON_OBJECTS_C11DATA_H
#define QUILLON_OBJECTS_C11DATA_H

#include "C11Object.h"

class C11Data : public C11Object {
public:
    explicit C11Data(ZT_HANDLE hConnection);
    C11Data(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11Data() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;

    // Access class of the stored value: private data 1, public data 0.
    uint32_t accessClass() const;

private:
    // Caches the stored value when it is not cached yet.
    CK_RV loadValue();

    OwnedText m_szApplication;
    OwnedBytes m_pblValue;
};

#endif

// What every public key has: subject and usage flags. Public keys are never
// private: setAttributes always ends with CKA_PRIVATE false.
#ifndef QUILLON_OBJECTS_C11PUBLICKEY_H
#define QUILLON_OBJECTS_C11PUBLICKEY_H

#include "C11Key.h"

class C11PublicKey : public C11Key {
public:
    explicit C11PublicKey(ZT_HANDLE hConnection);
    C11PublicKey(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11PublicKey() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;

protected:
    OwnedBytes m_pblSubject;
    bool m_bEncrypt = true;
    bool m_bVerify = true;
    bool m_bVerifyRecover = false;
    bool m_bWrap = false;
    bool m_bTrusted = true;
};

#endif

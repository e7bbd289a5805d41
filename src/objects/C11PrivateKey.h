// What every private key has. Private keys are always private and never
// modifiable; a token private key is always sensitive and unextractable.
#ifndef QUILLON_OBJECTS_C11PRIVATEKEY_H
#define QUILLON_OBJECTS_C11PRIVATEKEY_H

#include "C11Key.h"

class C11PrivateKey : public C11Key {
public:
    explicit C11PrivateKey(ZT_HANDLE hConnection);
    C11PrivateKey(ZT_HANDLE hConnection, CBufferedReader& reader);
    ~C11PrivateKey() override;

    void serialize(OrlBufferedWriter& writer) override;
    CK_RV write(OrlBufferedWriter& writer) override;
    CK_RV getAttributes(CAttributeVector& attributes) override;
    CK_RV setAttributes(CK_BBOOL bJustCreated, CAttributeVector& attributes) override;
    bool match(CAttributeVector& attributes) override;
    bool isComplete() override;

protected:
    OwnedBytes m_pblSubject;
    bool m_bSensitive = true;
    bool m_bDecrypt = true;
    bool m_bSign = true;
    bool m_bSignRecover = false;
    bool m_bUnwrap = false;
    bool m_bExtractable = false;
    bool m_bAlwaysSensitive = true;
    bool m_bNeverExtractable = true;
    bool m_bSecondaryAuth = false;
    bool m_bAuthPinFlags = false;
};

#endif

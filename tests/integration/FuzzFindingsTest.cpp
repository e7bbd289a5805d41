// Faults the fuzz targets found in the object interface, each pinned here
// through the loaded provider (the inputs themselves are seeds of the fuzzers).
#include <string>

#include "ProviderFixture.h"

namespace {

class FuzzFindings : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
    }

    CK_OBJECT_HANDLE dataObject(CK_BBOOL token) {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL no = CK_FALSE;
        char label[] = "kept";
        unsigned char value[] = {1, 2, 3};
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_TOKEN, &token, sizeof token},
                            {CKA_PRIVATE, &no, sizeof no},
                            {CKA_LABEL, label, 4},
                            {CKA_VALUE, value, sizeof value}};
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t, 5, &h));
        return h;
    }

    size_t objectsFound() {
        CK_OBJECT_HANDLE found[16];
        CK_ULONG n = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(session, nullptr, 0));
        EXPECT_RV(CKR_OK, p11->C_FindObjects(session, found, 16, &n));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(session));
        return n;
    }

    void reload() {
        unloadProvider();
        startWithCard();
        session = openSession();
    }

    CK_SESSION_HANDLE session = 0;
};

TEST_F(FuzzFindings, SessionObjectCannotBecomeATokenObject) {
    CK_OBJECT_HANDLE h = dataObject(CK_FALSE);
    // A two-byte boolean, as the fuzzer gave it: any non-zero first byte is true.
    unsigned char yes[2] = {0x0A, 0x01};
    CK_ATTRIBUTE toToken = {CKA_TOKEN, yes, sizeof yes};
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(session, h, &toToken, 1));
    CK_BBOOL token = CK_TRUE;
    CK_ATTRIBUTE ask = {CKA_TOKEN, &token, sizeof token};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, h, &ask, 1));
    EXPECT_EQ(token, CK_FALSE);
    // The same value again is no change.
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE same = {CKA_TOKEN, &no, sizeof no};
    EXPECT_RV(CKR_OK, p11->C_SetAttributeValue(session, h, &same, 1));
}

TEST_F(FuzzFindings, TokenObjectCannotBecomeASessionObject) {
    CK_OBJECT_HANDLE h = dataObject(CK_TRUE);
    size_t valuesBefore = cardsim_valueCount(kReader);
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE toSession = {CKA_TOKEN, &no, sizeof no};
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, p11->C_SetAttributeValue(session, h, &toSession, 1));
    // Still on the card after a reload, its value with it.
    reload();
    EXPECT_EQ(objectsFound(), 1u);
    EXPECT_EQ(cardsim_valueCount(kReader), valuesBefore);
}

TEST_F(FuzzFindings, KeyTypeTheDirectoryCannotHoldIsRefused) {
    login(session);
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES, wide = 0x8C8C8C8Cul;
    CK_BBOOL yes = CK_TRUE;
    unsigned char value[16] = {1};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_KEY_TYPE, &wide, sizeof wide},
                        {CKA_TOKEN, &yes, sizeof yes},
                        {CKA_VALUE, value, sizeof value}};
    CK_OBJECT_HANDLE h = 0;
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, p11->C_CreateObject(session, t, 4, &h));
    t[1].pValue = &aes;
    ASSERT_RV(CKR_OK, p11->C_CreateObject(session, t, 4, &h));
    CK_ATTRIBUTE change = {CKA_KEY_TYPE, &wide, sizeof wide};
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, p11->C_SetAttributeValue(session, h, &change, 1));
    CK_KEY_TYPE now = 0;
    CK_ATTRIBUTE ask = {CKA_KEY_TYPE, &now, sizeof now};
    ASSERT_RV(CKR_OK, p11->C_GetAttributeValue(session, h, &ask, 1));
    EXPECT_EQ(now, CKK_AES);
}

}  // namespace

// Certificates on the token looked up by their value, as NSS looks them up,
// and a certificate created again giving the one already stored.
#include <string>
#include <vector>

#include "ObjectTestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

class StoredCertificates : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        session = openSession();
    }

    static Tmpl certificate(const Bytes& value, const Bytes& id, bool token = true) {
        Tmpl t;
        t.ulong(CKA_CLASS, CKO_CERTIFICATE)
            .ulong(CKA_CERTIFICATE_TYPE, CKC_X_509)
            .flag(CKA_TOKEN, token)
            .text(CKA_LABEL, "stored")
            .bytes(CKA_ID, id.data(), id.size())
            .bytes(CKA_SUBJECT, "subject", 7)
            .bytes(CKA_VALUE, value.data(), value.size());
        return t;
    }

    CK_OBJECT_HANDLE create(Tmpl t) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(session, t.get(), t.count(), &h));
        return h;
    }

    std::vector<CK_OBJECT_HANDLE> find(Tmpl t) {
        std::vector<CK_OBJECT_HANDLE> found(16);
        CK_ULONG n = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(session, t.get(), t.count()));
        EXPECT_RV(CKR_OK, p11->C_FindObjects(session, found.data(), found.size(), &n));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(session));
        found.resize(n);
        return found;
    }

    static Tmpl byClassAndValue(const Bytes& value) {
        Tmpl t;
        t.ulong(CKA_CLASS, CKO_CERTIFICATE).bytes(CKA_VALUE, value.data(), value.size());
        return t;
    }

    // A new process's view: the table is read again from the card, with no
    // value read yet.
    void restart() {
        ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        session = openSession();
    }

    CK_SESSION_HANDLE session = 0;
    const Bytes der = Bytes(300, 0x30), otherDer = Bytes(300, 0x31);
    const Bytes id = {0xAB, 0xCD};
};

TEST_F(StoredCertificates, SearchByClassAndValueFetchesAValueNeverRead) {
    CK_OBJECT_HANDLE h = create(certificate(der, id));
    create(certificate(otherDer, id));
    restart();
    cardsim_clearCalls();
    EXPECT_EQ(find(byClassAndValue(der)), std::vector<CK_OBJECT_HANDLE>{h});
    EXPECT_GE(cardsim_callCount(kZtReadObj), 1u);
    // Fetched once, then compared from the cache.
    size_t reads = cardsim_callCount(kZtReadObj);
    EXPECT_EQ(find(byClassAndValue(der)), std::vector<CK_OBJECT_HANDLE>{h});
    EXPECT_EQ(cardsim_callCount(kZtReadObj), reads);
    EXPECT_TRUE(find(byClassAndValue(Bytes(300, 0x32))).empty());
}

TEST_F(StoredCertificates, CreatingAStoredCertificateAgainGivesTheStoredOne) {
    CK_OBJECT_HANDLE h = create(certificate(der, id));
    EXPECT_EQ(create(certificate(der, id)), h);
    restart();  // the value is no longer cached
    cardsim_clearCalls();
    EXPECT_EQ(create(certificate(der, id)), h);
    EXPECT_EQ(cardsim_callCount(kZtPutObjectTbl), 0u);
    Tmpl certificates;
    certificates.ulong(CKA_CLASS, CKO_CERTIFICATE);
    EXPECT_EQ(find(certificates), std::vector<CK_OBJECT_HANDLE>{h});

    // Another value, another CKA_ID, or a session object: a new certificate.
    CK_OBJECT_HANDLE other = create(certificate(otherDer, id));
    CK_OBJECT_HANDLE otherId = create(certificate(der, Bytes{0x01}));
    CK_OBJECT_HANDLE inSession = create(certificate(der, id, false));
    EXPECT_NE(other, h);
    EXPECT_NE(otherId, h);
    EXPECT_NE(inSession, h);
    EXPECT_EQ(find(certificates).size(), 4u);
}

}  // namespace

// C_FindObjectsInit, C_FindObjects and C_FindObjectsFinal: snapshots in
// portions, visibility of private objects and of other sessions' objects.
#include <algorithm>

#include "ObjectTestSupport.h"

namespace {

class Search : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        m_a = openSession();
        m_b = openSession();
    }
    CK_OBJECT_HANDLE create(Tmpl t, CK_SESSION_HANDLE s = 0) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(s ? s : m_a, t.get(), t.count(), &h));
        return h;
    }
    // Every handle a search with the template finds, in order.
    std::vector<CK_OBJECT_HANDLE> findAll(CK_SESSION_HANDLE s, Tmpl t) {
        std::vector<CK_OBJECT_HANDLE> found;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(s, t.get(), t.count()));
        CK_OBJECT_HANDLE buffer[8];
        CK_ULONG n = 0;
        do {
            EXPECT_RV(CKR_OK, p11->C_FindObjects(s, buffer, 8, &n));
            found.insert(found.end(), buffer, buffer + n);
        } while (n > 0);
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(s));
        return found;
    }
    Tmpl byLabel(const std::string& label) {
        Tmpl t;
        t.text(CKA_LABEL, label);
        return t;
    }
    CK_SESSION_HANDLE m_a = 0, m_b = 0;
};

TEST_F(Search, PortionsCountQueryAndMaxZero) {
    std::vector<CK_OBJECT_HANDLE> made;
    for (int i = 0; i < 5; ++i) made.push_back(create(dataTemplate(false, "five", "v")));
    create(dataTemplate(false, "other", "v"));
    Tmpl t = byLabel("five");
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_a, t.get(), t.count()));
    CK_OBJECT_HANDLE out[5] = {0};
    CK_ULONG n = 99;
    // A null array or a maximum of 0 reports without consuming.
    EXPECT_RV(CKR_OK, p11->C_FindObjects(m_a, nullptr, 3, &n));
    EXPECT_EQ(n, 3u);
    EXPECT_RV(CKR_OK, p11->C_FindObjects(m_a, out, 0, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_RV(CKR_OK, p11->C_FindObjects(m_a, out, 3, &n));
    EXPECT_EQ(n, 3u);
    EXPECT_RV(CKR_OK, p11->C_FindObjects(m_a, out + 3, 3, &n));
    EXPECT_EQ(n, 2u);
    EXPECT_RV(CKR_OK, p11->C_FindObjects(m_a, out, 3, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(m_a));
    std::vector<CK_OBJECT_HANDLE> got(out, out + 5);
    std::sort(got.begin(), got.end());
    std::sort(made.begin(), made.end());
    EXPECT_EQ(got, made);
}

TEST_F(Search, SnapshotIgnoresLaterChanges) {
    CK_OBJECT_HANDLE h = create(dataTemplate(false, "snap", "v"));
    Tmpl t = byLabel("snap");
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_a, t.get(), t.count()));
    create(dataTemplate(false, "snap", "v"));
    ASSERT_RV(CKR_OK, p11->C_DestroyObject(m_a, h));
    CK_OBJECT_HANDLE out[4];
    CK_ULONG n = 0;
    EXPECT_RV(CKR_OK, p11->C_FindObjects(m_a, out, 4, &n));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(out[0], h);
    EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(m_a));
}

TEST_F(Search, PrivateKeysOnlyAfterLogin) {
    create(privateKeyTemplate(true));
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    EXPECT_TRUE(findAll(m_a, t).empty());
    login(m_a);
    EXPECT_EQ(findAll(m_b, t).size(), 1u);  // the login is the slot's
}

TEST_F(Search, OtherSessionsObjectsAndEmptyTemplate) {
    CK_OBJECT_HANDLE fromA = create(dataTemplate(false, "a", "v"), m_a);
    CK_OBJECT_HANDLE token = create(dataTemplate(true, "t", "v"), m_b);
    // A private token object, back in the table at the next directory read.
    login(m_a);
    create(dataTemplate(true, "hidden", "v", true), m_a);
    ASSERT_RV(CKR_OK, p11->C_Logout(m_a));
    EXPECT_EQ(findAll(m_b, byLabel("a")), std::vector<CK_OBJECT_HANDLE>{fromA});
    std::vector<CK_OBJECT_HANDLE> all = findAll(m_b, Tmpl());
    std::sort(all.begin(), all.end());
    std::vector<CK_OBJECT_HANDLE> expected = {fromA, token};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

TEST_F(Search, OddTemplatesMatchNothing) {
    create(dataTemplate(true, "t", "v"));
    create(dataTemplate(false, "s", "v"));
    unsigned char two = 2;
    Tmpl byteTwo;
    byteTwo.bytes(CKA_TOKEN, &two, 1);
    EXPECT_TRUE(findAll(m_a, byteTwo).empty());
    Tmpl unknown;
    unknown.ulong(0x8123456UL, 0);
    EXPECT_TRUE(findAll(m_a, unknown).empty());
    Tmpl token;
    token.flag(CKA_TOKEN, true);
    EXPECT_EQ(findAll(m_a, token).size(), 1u);
}

TEST_F(Search, StateAndArgumentRules) {
    Tmpl t;
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_FindObjectsInit(0, t.get(), 0));
    CK_ULONG n = 0;
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjects(m_a, nullptr, 1, &n));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjectsFinal(m_a));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(m_a, t.get(), 0));
    EXPECT_RV(CKR_OPERATION_ACTIVE, p11->C_FindObjectsInit(m_a, t.get(), 0));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_FindObjects(m_a, nullptr, 1, nullptr));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_FindObjects(0, nullptr, 1, &n));
    // Searches of different sessions are independent.
    EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(m_b, t.get(), 0));
    EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(m_a));
    EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(m_b));
    // A failed directory read leaves the search inactive.
    login(m_a);
    ASSERT_RV(CKR_OK, p11->C_Logout(m_a));
    cardsim_script(kZtGetObjectTbl, 0x6F00, 1);
    EXPECT_RV(CKR_DEVICE_ERROR, p11->C_FindObjectsInit(m_a, t.get(), 0));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_FindObjectsFinal(m_a));
}

}  // namespace

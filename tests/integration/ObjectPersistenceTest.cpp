// Token objects outlive the process that made them: one process creates an
// object of every class on the virtual token and finalises; another finds
// them with the same handles and values.
#if defined(ZT_LIBRARY_PATH) && defined(ZT_ADMIN_PATH)

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "ObjectTestSupport.h"

namespace {

const char* kZtReader = "Persist Reader";
const unsigned char kDesKey[8] = {0x10, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

std::vector<Tmpl> objectsOfEveryClass() {
    Tmpl cert;
    cert.ulong(CKA_CLASS, CKO_CERTIFICATE)
        .ulong(CKA_CERTIFICATE_TYPE, CKC_X_509)
        .flag(CKA_TOKEN, true)
        .text(CKA_LABEL, "p-cert")
        .text(CKA_VALUE, "certificate value");
    Tmpl secret;
    secret.ulong(CKA_CLASS, CKO_SECRET_KEY)
        .ulong(CKA_KEY_TYPE, CKK_DES)
        .flag(CKA_TOKEN, true)
        .flag(CKA_SENSITIVE, false)  // readable, and so kept through the directory
        .text(CKA_LABEL, "p-secret")
        .bytes(CKA_VALUE, kDesKey, sizeof(kDesKey));
    Tmpl key = privateKeyTemplate(true);
    key.text(CKA_LABEL, "p-key");  // the later label wins
    return {dataTemplate(true, "p-data", "data value"),
            dataTemplate(true, "p-private", "hidden", true), cert, secret, key};
}

class ObjectPersistence : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        m_home = scratch("zt-home");
        setenv("ZT_HOME", m_home.c_str(), 1);
        admin("reader add '" + std::string(kZtReader) + "'");
        admin("card new '" + std::string(kZtReader) +
              "' --label Persist --serial SN-9 --user-pin 1234 --so-pin 87654321");
        writeConfig({std::string("zt=") + ZT_LIBRARY_PATH});
    }
    void TearDown() override {
        ProviderFixture::TearDown();
        unsetenv("ZT_HOME");
    }
    void admin(const std::string& args) {
        std::string cmd = std::string(ZT_ADMIN_PATH) + " --home '" + m_home + "' " + args;
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    }
    void start() {
        loadProvider();
        ASSERT_NE(p11, nullptr);
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
        m_slot = slotIdOf(kZtReader);
    }
    // Both halves of a key pair carry its label: the class tells them apart.
    CK_OBJECT_HANDLE findOne(CK_SESSION_HANDLE s, const std::string& label) {
        Tmpl t;
        t.text(CKA_LABEL, label);
        if (label == "p-key") t.ulong(CKA_CLASS, CKO_PRIVATE_KEY);
        CK_OBJECT_HANDLE h[2] = {0, 0};
        CK_ULONG n = 0;
        EXPECT_RV(CKR_OK, p11->C_FindObjectsInit(s, t.get(), t.count()));
        EXPECT_RV(CKR_OK, p11->C_FindObjects(s, h, 2, &n));
        EXPECT_RV(CKR_OK, p11->C_FindObjectsFinal(s));
        EXPECT_EQ(n, 1u) << label;
        return h[0];
    }
    std::vector<unsigned char> value(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h,
                                     CK_ATTRIBUTE_TYPE type) {
        std::vector<unsigned char> buffer(1024);
        CK_ATTRIBUTE a = {type, buffer.data(), buffer.size()};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(s, h, &a, 1));
        buffer.resize(a.ulValueLen == static_cast<CK_ULONG>(-1) ? 0 : a.ulValueLen);
        return buffer;
    }
    std::string m_home;
};

TEST_F(ObjectPersistence, TokenObjectsSurviveTheProcess) {
    std::string handlesFile = scratch("handles");
    testRsaKey();  // made before the fork: both processes know the same key
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The first process: create, write the handles down, finalise.
        start();
        CK_SESSION_HANDLE s = openSession();
        login(s);
        std::ofstream out(handlesFile);
        for (Tmpl& t : objectsOfEveryClass()) {
            CK_OBJECT_HANDLE h = 0;
            if (p11->C_CreateObject(s, t.get(), t.count(), &h) != CKR_OK) _exit(2);
            out << h << "\n";
        }
        out.close();
        bool ok = p11->C_Finalize(nullptr) == CKR_OK;
        _exit(ok && !::testing::Test::HasFailure() ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));

    std::ifstream in(handlesFile);
    std::vector<CK_OBJECT_HANDLE> handles;
    for (CK_OBJECT_HANDLE h; in >> h;) handles.push_back(h);
    ASSERT_EQ(handles.size(), 5u);

    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    const char* labels[] = {"p-data", "p-private", "p-cert", "p-secret", "p-key"};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(findOne(s, labels[i]), handles[i]) << labels[i];
    auto text = [](const std::string& t) { return std::vector<unsigned char>(t.begin(), t.end()); };
    EXPECT_EQ(value(s, handles[0], CKA_VALUE), text("data value"));
    EXPECT_EQ(value(s, handles[1], CKA_VALUE), text("hidden"));
    EXPECT_EQ(value(s, handles[2], CKA_VALUE), text("certificate value"));
    EXPECT_EQ(value(s, handles[3], CKA_VALUE),
              std::vector<unsigned char>(kDesKey, kDesKey + sizeof(kDesKey)));
    EXPECT_EQ(value(s, handles[4], CKA_MODULUS), testModulus());
    // The imported pair's public half came back too, as a public key.
    Tmpl pub;
    pub.ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    CK_OBJECT_HANDLE found[2];
    CK_ULONG n = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(s, pub.get(), pub.count()));
    ASSERT_RV(CKR_OK, p11->C_FindObjects(s, found, 2, &n));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(s));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(value(s, found[0], CKA_MODULUS), testModulus());
}

}  // namespace

#endif

// Logins over the virtual token, whose PIN verification lasts as long as the
// connection: the provider's login and the card's verification must agree
// (logout, PIN changes, card answers), a card swapped unseen must not leave
// the slot dead, and PIN lengths must not break the token.
#if defined(ZT_LIBRARY_PATH) && defined(ZT_ADMIN_PATH)

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "CardFunctions.h"
#include "ObjectTestSupport.h"
#include "SessionTestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;
const char* kZtReader = "Login Reader";

class VirtualTokenLogin : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        m_home = scratch("zt-home");
        setenv("ZT_HOME", m_home.c_str(), 1);
        admin("reader add '" + std::string(kZtReader) + "'");
        admin("card new '" + std::string(kZtReader) + "' --user-pin 1234 --so-pin 87654321");
        writeConfig({std::string("zt=") + ZT_LIBRARY_PATH});
        loadProvider();
        ASSERT_NE(p11, nullptr);
        // The library the provider loaded: the test looks at its connections.
        m_zt = dlopen(ZT_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(m_zt, nullptr);
        auto getList = reinterpret_cast<ZT_GetFunctionList_t>(dlsym(m_zt, "GetFunctionList"));
        ASSERT_NE(getList, nullptr);
        ASSERT_EQ(getList(&m_card), 0u);
        m_slot = slotIdOf(kZtReader);
    }
    void TearDown() override {
        ProviderFixture::TearDown();
        if (m_zt) dlclose(m_zt);
        unsetenv("ZT_HOME");
    }
    void start(CK_FLAGS flags = CKF_OS_LOCKING_OK) {
        CK_C_INITIALIZE_ARGS args = {};
        args.flags = flags;
        ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
    }
    void admin(const std::string& args) {
        std::string cmd =
            std::string(ZT_ADMIN_PATH) + " --home '" + m_home + "' " + args + " >/dev/null";
        ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    }
    // Another card in the reader at once: the reader is never seen empty.
    void swapCardUnseen() {
        std::string dir = m_home + "/readers/" + kZtReader;
        {
            std::ofstream out(dir + "/inserted.swap");
            out << "5eedfacecafe0123456789abcdef0000";
        }
        ASSERT_EQ(0, std::rename((dir + "/inserted.swap").c_str(), (dir + "/inserted").c_str()));
    }

    // Connections of the virtual token on which the user PIN is verified now
    // (only a verified connection may change it; the PIN stays the same).
    int userVerifiedConnections() {
        int n = 0;
        for (ZT_HANDLE h = 1; h < 256; ++h) n += m_card.ZT_changePIN(h, CKU_USER, "1234") == 0;
        return n;
    }

    CK_RV logIn(CK_SESSION_HANDLE s, CK_USER_TYPE user, const std::string& pin) {
        return p11->C_Login(s, user, pinBytes(pin), pin.size());
    }
    CK_STATE state(CK_SESSION_HANDLE s) {
        CK_SESSION_INFO info = {};
        EXPECT_RV(CKR_OK, p11->C_GetSessionInfo(s, &info));
        return info.state;
    }
    // An RSA key pair made by the token; the private half private or not.
    void keyPair(CK_SESSION_HANDLE s, bool privateKey, CK_OBJECT_HANDLE* pub,
                 CK_OBJECT_HANDLE* priv) {
        CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        Tmpl pubT, privT;
        pubT.flag(CKA_TOKEN, true).ulong(CKA_MODULUS_BITS, 1024);
        privT.flag(CKA_TOKEN, true).flag(CKA_PRIVATE, privateKey);
        ASSERT_RV(CKR_OK, p11->C_GenerateKeyPair(s, &m, pubT.get(), pubT.count(), privT.get(),
                                                 privT.count(), pub, priv));
    }
    CK_RV sign(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key) {
        CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
        CK_RV rv = p11->C_SignInit(s, &m, key);
        if (rv != CKR_OK) return rv;
        unsigned char data[] = "to be signed", signature[512];
        CK_ULONG length = sizeof(signature);
        return p11->C_Sign(s, data, sizeof(data), signature, &length);
    }
    // A search reads the directory again, so private objects come back to
    // the table: a kept handle names its object once more.
    void reloadBySearch(CK_SESSION_HANDLE s) {
        CK_OBJECT_HANDLE h[4];
        CK_ULONG n = 0;
        ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(s, nullptr, 0));
        ASSERT_RV(CKR_OK, p11->C_FindObjects(s, h, 4, &n));
        ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(s));
    }

    std::string m_home;
    void* m_zt = nullptr;
    CardFunctions m_card = {};
};

TEST_F(VirtualTokenLogin, PrivateKeyStaysUsableAfterLogout) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    keyPair(s, true, &pub, &priv);
    ASSERT_RV(CKR_OK, sign(s, priv));
    EXPECT_EQ(userVerifiedConnections(), 1);
    ASSERT_RV(CKR_OK, p11->C_Logout(s));
    // The card forgot the PIN too, not only the provider.
    EXPECT_EQ(userVerifiedConnections(), 0);
    // Hidden, not forgotten: the key is read from the card again at once.
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, sign(s, priv));
    reloadBySearch(s);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, sign(s, priv));
    CK_MECHANISM raw = {CKM_RSA_PKCS, nullptr, 0};
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_DecryptInit(s, &raw, priv));
    unsigned char wrapped[128] = {1};
    Tmpl aes;
    aes.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES);
    CK_OBJECT_HANDLE unwrapped = 0;
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_UnwrapKey(s, &raw, priv, wrapped, sizeof(wrapped),
                                                       aes.get(), aes.count(), &unwrapped));
    login(s);
    EXPECT_RV(CKR_OK, sign(s, priv));
}

TEST_F(VirtualTokenLogin, SignatureBegunBeforeLogoutEndsWithIt) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    keyPair(s, true, &pub, &priv);
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, p11->C_SignInit(s, &m, priv));
    ASSERT_RV(CKR_OK, p11->C_Logout(s));
    unsigned char data[] = "abc", signature[512];
    CK_ULONG length = sizeof(signature);
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, p11->C_Sign(s, data, 3, signature, &length));
}

TEST_F(VirtualTokenLogin, WrapKeyOfAPrivateSecretKeyAfterLogout) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    const unsigned char value[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Tmpl secret, wrapping;
    secret.ulong(CKA_CLASS, CKO_SECRET_KEY)
        .ulong(CKA_KEY_TYPE, CKK_AES)
        .flag(CKA_TOKEN, true)
        .flag(CKA_PRIVATE, true)
        .flag(CKA_EXTRACTABLE, true)
        .bytes(CKA_VALUE, value, sizeof(value));
    wrapping.ulong(CKA_CLASS, CKO_SECRET_KEY)
        .ulong(CKA_KEY_TYPE, CKK_AES)
        .flag(CKA_TOKEN, false)
        .flag(CKA_PRIVATE, false)
        .flag(CKA_ENCRYPT, true)
        .bytes(CKA_VALUE, value, sizeof(value));
    CK_OBJECT_HANDLE key = 0, wrapper = 0;
    ASSERT_RV(CKR_OK, p11->C_CreateObject(s, secret.get(), secret.count(), &key));
    ASSERT_RV(CKR_OK, p11->C_CreateObject(s, wrapping.get(), wrapping.count(), &wrapper));
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0};
    unsigned char out[64];
    CK_ULONG length = sizeof(out);
    ASSERT_RV(CKR_OK, p11->C_WrapKey(s, &ecb, wrapper, key, out, &length));
    ASSERT_RV(CKR_OK, p11->C_Logout(s));
    reloadBySearch(s);
    length = sizeof(out);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_WrapKey(s, &ecb, wrapper, key, out, &length));
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_EncryptInit(s, &ecb, key));
}

TEST_F(VirtualTokenLogin, SetPinWithNobodyLoggedInLeavesTheCardVerified) {
    start();
    CK_SESSION_HANDLE s = openSession();
    ASSERT_RV(CKR_OK, p11->C_SetPIN(s, pinBytes("1234"), 4, pinBytes("1234"), 4));
    EXPECT_EQ(state(s), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(userVerifiedConnections(), 0);
    // A wrong old PIN verifies nothing either.
    EXPECT_RV(CKR_FUNCTION_FAILED, p11->C_SetPIN(s, pinBytes("9999"), 4, pinBytes("1234"), 4));
    EXPECT_EQ(userVerifiedConnections(), 0);
    EXPECT_RV(CKR_OK, logIn(s, CKU_USER, "1234"));
}

TEST_F(VirtualTokenLogin, FailedSetPinLeavesTheUserLoggedIn) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    Tmpl data = dataTemplate(true, "secret", "value", true);
    CK_OBJECT_HANDLE h = 0;
    ASSERT_RV(CKR_OK, p11->C_CreateObject(s, data.get(), data.count(), &h));
    EXPECT_RV(CKR_FUNCTION_FAILED, p11->C_SetPIN(s, pinBytes("9999"), 4, pinBytes("4321"), 4));
    // The card ended the verification with the wrong try: so did the login.
    EXPECT_EQ(state(s), CKS_RW_PUBLIC_SESSION);
    reloadBySearch(s);
    unsigned char buffer[32];
    CK_ATTRIBUTE value = {CKA_VALUE, buffer, sizeof(buffer)};
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_GetAttributeValue(s, h, &value, 1));
    login(s);
    EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(s, h, &value, 1));
}

TEST_F(VirtualTokenLogin, DecryptWithoutLoginIsADeviceError) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    keyPair(s, true, &pub, &priv);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    unsigned char plain[] = "secret", cipher[256], out[256];
    CK_ULONG cipherLength = sizeof(cipher), outLength = sizeof(out);
    ASSERT_RV(CKR_OK, p11->C_EncryptInit(s, &m, pub));
    ASSERT_RV(CKR_OK, p11->C_Encrypt(s, plain, 6, cipher, &cipherLength));
    ASSERT_RV(CKR_OK, p11->C_Logout(s));
    reloadBySearch(s);
    // The application must learn that it should log in, at the start or at the card.
    CK_RV rv = p11->C_DecryptInit(s, &m, priv);
    if (rv == CKR_OK) rv = p11->C_Decrypt(s, cipher, cipherLength, out, &outLength);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, rv);
    login(s);
    ASSERT_RV(CKR_OK, p11->C_DecryptInit(s, &m, priv));
    outLength = sizeof(out);
    EXPECT_RV(CKR_OK, p11->C_Decrypt(s, cipher, cipherLength, out, &outLength));
    EXPECT_EQ(outLength, 6u);
}

// The slot's state must not outlive the card it was connected to, whether the
// monitor runs or not: the kept session learns of the removal at its next card
// call, and a new session works on a fresh connection.
void expectSwapHandled(VirtualTokenLogin& t, CK_FUNCTION_LIST* p11, CK_SESSION_HANDLE kept,
                       CK_SLOT_ID slot) {
    CK_RV rv = p11->C_Login(kept, CKU_USER, pinBytes("1234"), 4);
    EXPECT_TRUE(rv == CKR_DEVICE_REMOVED || rv == CKR_SESSION_CLOSED) << rvName(rv);
    CK_SESSION_HANDLE fresh = 0;
    ASSERT_RV(CKR_OK, p11->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                         nullptr, &fresh));
    EXPECT_RV(CKR_OK, p11->C_Login(fresh, CKU_USER, pinBytes("1234"), 4));
    CK_SESSION_INFO info = {};
    EXPECT_RV(CKR_OK, p11->C_GetSessionInfo(fresh, &info));
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    (void)t;
}

TEST_F(VirtualTokenLogin, CardSwappedWithinOnePollLeavesTheSlotDead) {
    start();
    CK_SESSION_HANDLE kept = openSession();
    login(kept);
    swapCardUnseen();
    expectSwapHandled(*this, p11, kept, m_slot);
}

TEST_F(VirtualTokenLogin, CardSwappedWithoutMonitorLeavesTheSlotDead) {
    start(CKF_LIBRARY_CANT_CREATE_OS_THREADS | CKF_OS_LOCKING_OK);
    CK_SESSION_HANDLE kept = openSession();
    login(kept);
    admin(std::string("card remove '") + kZtReader + "'");
    admin(std::string("card insert '") + kZtReader + "'");
    expectSwapHandled(*this, p11, kept, m_slot);
}

TEST_F(VirtualTokenLogin, InitPinWithHugeLengthCrashes) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s, CKU_SO);
    EXPECT_RV(CKR_PIN_LEN_RANGE, p11->C_InitPIN(s, pinBytes("12345678"), ~CK_ULONG(0)));
    EXPECT_RV(CKR_PIN_LEN_RANGE, p11->C_InitPIN(s, pinBytes("12345678"), ~CK_ULONG(0) >> 1));
}

TEST_F(VirtualTokenLogin, InitPinSetsAPinLoginRefuses) {
    start();
    CK_SESSION_HANDLE s = openSession();
    login(s, CKU_SO);
    const std::string tooLong = "123456789";
    EXPECT_RV(CKR_PIN_LEN_RANGE, p11->C_InitPIN(s, pinBytes(tooLong), tooLong.size()));
    ASSERT_RV(CKR_OK, p11->C_Logout(s));
    // The user PIN is as it was, and still one C_Login takes.
    EXPECT_RV(CKR_OK, logIn(s, CKU_USER, "1234"));
}

}  // namespace

#endif

// The provider's login and the card's verification agree, over a test card
// that ties verification to the connection: logout and PIN changes end the
// card's verification, the card's "not verified" ends the login, a dead
// connection is a removal and no new session joins it. Also the race of
// C_OpenSession with C_Finalize under an application's mutex.
#include <atomic>
#include <mutex>
#include <thread>

#include "ObjectTestSupport.h"
#include "SessionTestSupport.h"

namespace {

using namespace std::chrono_literals;

class CardVerification : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        cardsim_tieVerificationToConnection(true);
    }
    CK_STATE state(CK_SESSION_HANDLE s) {
        CK_SESSION_INFO info = {};
        EXPECT_RV(CKR_OK, p11->C_GetSessionInfo(s, &info));
        return info.state;
    }
    CK_OBJECT_HANDLE create(CK_SESSION_HANDLE s, Tmpl t) {
        CK_OBJECT_HANDLE h = 0;
        EXPECT_RV(CKR_OK, p11->C_CreateObject(s, t.get(), t.count(), &h));
        return h;
    }
    CK_RV sign(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key) {
        CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
        CK_RV rv = p11->C_SignInit(s, &m, key);
        if (rv != CKR_OK) return rv;
        unsigned char data[] = "data", signature[512];
        CK_ULONG length = sizeof(signature);
        return p11->C_Sign(s, data, 4, signature, &length);
    }
    std::string value(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h) {
        char buffer[64];
        CK_ATTRIBUTE a = {CKA_VALUE, buffer, sizeof(buffer)};
        EXPECT_RV(CKR_OK, p11->C_GetAttributeValue(s, h, &a, 1));
        return std::string(buffer, a.ulValueLen == ~CK_ULONG(0) ? 0 : a.ulValueLen);
    }
};

TEST_F(CardVerification, LogoutEndsItAndTheSlotKeepsWorkingOnANewConnection) {
    CK_SESSION_HANDLE a = openSession(), b = openSession();
    login(a);
    EXPECT_EQ(cardsim_verifiedConnectionCount(), 1u);
    CK_OBJECT_HANDLE shown = create(a, dataTemplate(true, "shown", "public value"));
    ASSERT_RV(CKR_OK, p11->C_Logout(b));  // the login is the slot's
    EXPECT_EQ(cardsim_verifiedConnectionCount(), 0u);
    EXPECT_EQ(cardsim_connectionCount(), 1u);  // the old one was closed
    // Objects read before go on through the new connection: a changed value
    // is stored with it (an old handle would be a dead connection: a removal).
    EXPECT_EQ(value(a, shown), "public value");
    Tmpl changed;
    changed.text(CKA_VALUE, "changed");
    EXPECT_RV(CKR_OK, p11->C_SetAttributeValue(b, shown, changed.get(), changed.count()));
    EXPECT_EQ(value(a, shown), "changed");
    EXPECT_RV(CKR_OK, p11->C_DestroyObject(b, shown));
    EXPECT_EQ(state(a), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(cardsim_valueCount(kReader), 0u);
}

TEST_F(CardVerification, PinChangesLeaveNothingVerifiedThatNoLoginSays) {
    CK_SESSION_HANDLE s = openSession();
    ASSERT_RV(CKR_OK, p11->C_SetPIN(s, pinBytes(kUserPin), 4, pinBytes("4321"), 4));
    EXPECT_EQ(cardsim_verifiedConnectionCount(), 0u);
    EXPECT_EQ(state(s), CKS_RW_PUBLIC_SESSION);
    ASSERT_RV(CKR_OK, p11->C_Login(s, CKU_USER, pinBytes("4321"), 4));
    // Logged in, a wrong old PIN ends the card's verification and the login.
    EXPECT_RV(CKR_FUNCTION_FAILED, p11->C_SetPIN(s, pinBytes("0000"), 4, pinBytes("1111"), 4));
    EXPECT_EQ(cardsim_verifiedConnectionCount(), 0u);
    EXPECT_EQ(state(s), CKS_RW_PUBLIC_SESSION);
    // Logged in, a right one keeps both.
    ASSERT_RV(CKR_OK, p11->C_Login(s, CKU_USER, pinBytes("4321"), 4));
    EXPECT_RV(CKR_OK, p11->C_SetPIN(s, pinBytes("4321"), 4, pinBytes("1111"), 4));
    EXPECT_EQ(cardsim_verifiedConnectionCount(), 1u);
    EXPECT_EQ(state(s), CKS_RW_USER_FUNCTIONS);
}

TEST_F(CardVerification, CardSayingNotVerifiedEndsTheLogin) {
    CK_SESSION_HANDLE s = openSession();
    login(s);
    CK_OBJECT_HANDLE key = create(s, privateKeyTemplate(true));
    EXPECT_RV(CKR_OK, sign(s, key));
    size_t cardCalls = cardsim_callCount(kZtApplyPrivateKey);
    cardsim_script(kZtApplyPrivateKey, kStatusNotVerified, 1);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, sign(s, key));
    EXPECT_EQ(state(s), CKS_RW_PUBLIC_SESSION);
    // Refused before the card from now on, until the next login.
    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    CK_OBJECT_HANDLE none[1];
    CK_ULONG n = 0;
    ASSERT_RV(CKR_OK, p11->C_FindObjectsInit(s, nullptr, 0));
    ASSERT_RV(CKR_OK, p11->C_FindObjects(s, none, 1, &n));
    ASSERT_RV(CKR_OK, p11->C_FindObjectsFinal(s));
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_SignInit(s, &m, key));
    EXPECT_EQ(cardsim_callCount(kZtApplyPrivateKey), cardCalls + 1);
    login(s);
    EXPECT_RV(CKR_OK, sign(s, key));
}

TEST_F(CardVerification, SoLoginOutlivesTheCardAskingForTheUser) {
    CK_SESSION_HANDLE s = openSession();
    login(s, CKU_SO);
    cardsim_script(kZtApplyPrivateKey, kStatusNotVerified, 1);
    // The user PIN the card asks for is not the SO's: the SO stays logged in.
    CK_OBJECT_HANDLE key = create(s, privateKeyTemplate(true));
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, sign(s, key));
    EXPECT_EQ(state(s), CKS_RW_SO_FUNCTIONS);
}

TEST_F(CardVerification, NewSessionNeverJoinsADeadConnection) {
    CK_SESSION_HANDLE kept = openSession();
    login(kept);
    // Out and in again faster than the monitor looks.
    cardsim_removeCard(kReader);
    cardsim_insertCard(kReader);
    CK_SESSION_HANDLE fresh = openSession();
    ASSERT_NE(fresh, 0u);
    login(fresh);
    EXPECT_EQ(state(fresh), CKS_RW_USER_FUNCTIONS);
    CK_SESSION_INFO info;
    EXPECT_RV(CKR_SESSION_CLOSED, p11->C_GetSessionInfo(kept, &info));
    EXPECT_RV(CKR_DEVICE_REMOVED, p11->C_CloseSession(kept));
}

// ---- C_OpenSession racing C_Finalize --------------------------------------

// An application's mutex: error-checking and not recursive (locking it twice
// from one thread, or unlocking it from another, fails). The opener's lock
// call waits until C_Finalize is over, so the opener passed the frame's first
// initialisation check and gets the lock only after finalisation.
struct CheckedMutex {
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
};
thread_local bool t_delayed = false;
std::atomic<bool> s_openerLocking{false}, s_finalized{false};

CK_RV appCreate(CK_VOID_PTR_PTR out) {
    *out = new CheckedMutex;
    return CKR_OK;
}
CK_RV appDestroy(CK_VOID_PTR m) {
    delete static_cast<CheckedMutex*>(m);
    return CKR_OK;
}
CK_RV appLock(CK_VOID_PTR m) {
    auto* checked = static_cast<CheckedMutex*>(m);
    if (checked->owner.load() == std::this_thread::get_id()) return CKR_GENERAL_ERROR;
    if (t_delayed) {
        s_openerLocking = true;
        waitUntil([] { return s_finalized.load(); }, 5s);
    }
    checked->mutex.lock();
    checked->owner = std::this_thread::get_id();
    return CKR_OK;
}
CK_RV appUnlock(CK_VOID_PTR m) {
    auto* checked = static_cast<CheckedMutex*>(m);
    if (checked->owner.load() != std::this_thread::get_id()) return CKR_MUTEX_NOT_LOCKED;
    checked->owner = std::thread::id();
    checked->mutex.unlock();
    return CKR_OK;
}

class FinalizeRace : public ProviderFixture {};

TEST_F(FinalizeRace, OpenSessionRacingFinalizeSucceedsAfterFinalize) {
    cardsim_addReader(kReader, true);
    loadProvider();
    ASSERT_NE(p11, nullptr);
    CK_C_INITIALIZE_ARGS args = {appCreate, appDestroy, appLock, appUnlock, 0, nullptr};
    ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
    m_slot = slotIdOf(kReader);
    CK_SESSION_HANDLE early = openSession();  // the lock exists and works
    ASSERT_NE(early, 0u);

    std::atomic<int> arrived{0};
    auto barrier = [&] {
        ++arrived;
        while (arrived.load() < 2) std::this_thread::yield();
    };
    CK_SESSION_HANDLE raced = 0;
    CK_RV openRv = CKR_OK, finalizeRv = CKR_OK;
    std::thread opener([&] {
        t_delayed = true;
        barrier();
        openRv = p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION, nullptr, nullptr, &raced);
    });
    std::thread finalizer([&] {
        barrier();
        waitUntil([] { return s_openerLocking.load(); }, 5s);
        finalizeRv = p11->C_Finalize(nullptr);
        s_finalized = true;
    });
    opener.join();
    finalizer.join();
    EXPECT_TRUE(s_openerLocking.load());
    EXPECT_RV(CKR_OK, finalizeRv);
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, openRv);
    // Nothing of the lost race survives into the next initialisation.
    ASSERT_RV(CKR_OK, p11->C_Initialize(&args));
    CK_SESSION_INFO info;
    if (raced) {
        EXPECT_RV(CKR_SESSION_HANDLE_INVALID, p11->C_GetSessionInfo(raced, &info));
    }
    CK_TOKEN_INFO token;
    ASSERT_RV(CKR_OK, p11->C_GetTokenInfo(m_slot, &token));
    EXPECT_EQ(token.ulSessionCount, 0u);
    EXPECT_EQ(cardsim_connectionCount(), 0u);
}

}  // namespace

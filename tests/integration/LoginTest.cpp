// C_Login, C_Logout, C_SetPIN and C_InitPIN against the test card.
#include <cstring>

#include "SessionTestSupport.h"

namespace {

class Login : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        startWithCard();
        m_rw = openSession();
        m_ro = openSession(CKF_SERIAL_SESSION);
        cardsim_clearCalls();
    }
    CK_RV logIn(CK_SESSION_HANDLE s, CK_USER_TYPE user, const std::string& pin) {
        return p11->C_Login(s, user, pinBytes(pin), pin.size());
    }
    CK_RV setPin(CK_SESSION_HANDLE s, const std::string& oldPin, const std::string& newPin) {
        return p11->C_SetPIN(s, pinBytes(oldPin), oldPin.size(), pinBytes(newPin), newPin.size());
    }
    CK_RV initPin(CK_SESSION_HANDLE s, const std::string& pin) {
        return p11->C_InitPIN(s, pinBytes(pin), pin.size());
    }
    CK_STATE state(CK_SESSION_HANDLE s) {
        CK_SESSION_INFO info;
        EXPECT_RV(CKR_OK, p11->C_GetSessionInfo(s, &info));
        return info.state;
    }
    // The code C_SetPIN's session operation failed with, as the log has it.
    std::string lastSetPinError() {
        const std::string marker = "->e<- SetPin Error: ";
        std::string log = logText();
        size_t at = log.rfind(marker);
        if (at == std::string::npos) return "";
        at += marker.size();
        return log.substr(at, log.find_first_of("\r\n", at) - at);
    }
    CK_SESSION_HANDLE m_rw = 0, m_ro = 0;
};

TEST_F(Login, CardStatusesTranslatePerCall) {
    struct Row {
        uint32_t status;
        CK_RV login, init, setPinInside;
    };
    const Row rows[] = {
        {0x63C2, CKR_PIN_INCORRECT, CKR_PIN_INCORRECT, CKR_PIN_INCORRECT},
        {0x6300, CKR_PIN_INCORRECT, CKR_PIN_INCORRECT, CKR_DEVICE_ERROR},
        {0x6A80, CKR_PIN_LOCKED, CKR_PIN_LOCKED, CKR_PIN_INCORRECT},
        {0x6983, CKR_PIN_LOCKED, CKR_PIN_LOCKED, CKR_PIN_LOCKED},
        {0x6F00, CKR_DEVICE_ERROR, CKR_DEVICE_ERROR, CKR_DEVICE_ERROR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(rvName(row.status));
        login(m_rw, CKU_SO);  // C_InitPIN needs somebody logged in
        cardsim_script(kZtVerifyPin, row.status, 1);
        EXPECT_RV(row.login, logIn(m_rw, CKU_SO, kSoPin));
        // A failed try ends the card's verification, and the login with it.
        EXPECT_EQ(state(m_rw), CKS_RW_PUBLIC_SESSION);
        login(m_rw, CKU_SO);
        cardsim_script(kZtInitPin, row.status, 1);
        EXPECT_RV(row.init, initPin(m_rw, "5555"));
        EXPECT_EQ(state(m_rw), CKS_RW_SO_FUNCTIONS);  // no PIN was tried
        // C_SetPIN tells the application only that it failed; the log keeps why.
        cardsim_script(kZtVerifyPin, row.status, 1);
        EXPECT_RV(CKR_FUNCTION_FAILED, setPin(m_rw, kSoPin, "22222222"));
        char inside[16];
        std::snprintf(inside, sizeof(inside), "%lx", row.setPinInside);
        EXPECT_EQ(lastSetPinError(), inside);
        EXPECT_EQ(state(m_rw), CKS_RW_PUBLIC_SESSION);
    }
    EXPECT_EQ(cardsim_callCount(kZtChangePin), 0u);
}

TEST_F(Login, ChangePinStatusesAndSuccess) {
    cardsim_script(kZtChangePin, 0x6983, 1);
    EXPECT_RV(CKR_FUNCTION_FAILED, setPin(m_rw, kUserPin, "4321"));
    EXPECT_EQ(lastSetPinError(), "a0");
    cardsim_script(kZtChangePin, 0x6A80, 1);
    EXPECT_RV(CKR_FUNCTION_FAILED, setPin(m_rw, kUserPin, "4321"));
    EXPECT_EQ(lastSetPinError(), "30");

    login(m_rw, CKU_USER);
    EXPECT_RV(CKR_OK, setPin(m_rw, kUserPin, "4321"));
    auto changes = cardsim_calls(kZtChangePin);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes.back().number, CKU_USER);  // the logged-in user's PIN
    EXPECT_EQ(changes.back().text, "4321");
    EXPECT_RV(CKR_OK, p11->C_Logout(m_rw));
    EXPECT_RV(CKR_PIN_INCORRECT, logIn(m_rw, CKU_USER, kUserPin));
    EXPECT_RV(CKR_OK, logIn(m_rw, CKU_USER, "4321"));
}

TEST_F(Login, WithNobodyLoggedInSetPinPassesNoUserType) {
    // The card decides what "nobody" means; this one takes it as the user.
    EXPECT_RV(CKR_OK, setPin(m_rw, kUserPin, "4321"));
    auto verifies = cardsim_calls(kZtVerifyPin);
    auto changes = cardsim_calls(kZtChangePin);
    ASSERT_EQ(verifies.size(), 1u);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(verifies[0].number, 0xFFFFFFFFu);
    EXPECT_EQ(changes[0].number, 0xFFFFFFFFu);
    EXPECT_EQ(state(m_rw), CKS_RW_PUBLIC_SESSION);  // verifying is no login
}

TEST_F(Login, WrongOldPinFailsAndChangesNothing) {
    login(m_rw, CKU_USER);
    EXPECT_RV(CKR_FUNCTION_FAILED, setPin(m_rw, "9999", "4321"));
    EXPECT_EQ(cardsim_callCount(kZtChangePin), 0u);
    EXPECT_EQ(cardsim_pinTriesLeft(kReader, CKU_USER), 2);
    // The wrong try ended the card's verification and so the login.
    EXPECT_EQ(state(m_rw), CKS_RW_PUBLIC_SESSION);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_Logout(m_rw));
    EXPECT_RV(CKR_OK, logIn(m_rw, CKU_USER, kUserPin));
}

TEST_F(Login, SetPinChecksLengthsBeforeTheSessionAndRefusesReadOnly) {
    const CK_SESSION_HANDLE unknown = 0x7777;  // a lookup would say HANDLE_INVALID
    EXPECT_RV(CKR_PIN_INVALID, setPin(unknown, "1234", "123"));
    EXPECT_RV(CKR_PIN_INVALID, setPin(unknown, "1234", "123456789"));
    EXPECT_RV(CKR_PIN_INVALID, setPin(unknown, "123", "1234"));
    EXPECT_RV(CKR_PIN_INVALID, setPin(unknown, "123456789", "1234"));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, setPin(unknown, "1234", "4321"));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SetPIN(0, pinBytes("1234"), 4, pinBytes("4321"), 4));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SetPIN(m_rw, nullptr, 4, pinBytes("4321"), 4));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SetPIN(m_rw, pinBytes("1234"), 0, pinBytes("4321"), 4));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SetPIN(m_rw, pinBytes("1234"), 4, nullptr, 4));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_SetPIN(m_rw, pinBytes("1234"), 4, pinBytes("4321"), 0));
    EXPECT_RV(CKR_SESSION_READ_ONLY, setPin(m_ro, kUserPin, "4321"));
    EXPECT_EQ(cardsim_callCount(kZtVerifyPin), 0u);
}

TEST_F(Login, PinsNeverReachTheLog) {
    login(m_rw, CKU_USER);
    EXPECT_RV(CKR_OK, setPin(m_rw, kUserPin, "80286"));
    EXPECT_RV(CKR_OK, p11->C_Logout(m_rw));
    EXPECT_RV(CKR_OK, logIn(m_ro, CKU_USER, "80286"));
    EXPECT_RV(CKR_OK, p11->C_Logout(m_ro));
    login(m_rw, CKU_SO);
    EXPECT_RV(CKR_OK, initPin(m_rw, "31337"));
    std::string log = logText();
    ASSERT_NE(log.find("-> setPIN"), std::string::npos);
    for (const char* pin : {kUserPin, kSoPin, "80286", "31337"})
        EXPECT_EQ(log.find(pin), std::string::npos) << pin;
}

TEST_F(Login, AnotherUserTypeIsRefusedTheSameIsVerifiedAgain) {
    login(m_ro, CKU_SO);
    EXPECT_RV(CKR_USER_ANOTHER_ALREADY_LOGGED_IN, logIn(m_rw, CKU_USER, kUserPin));
    EXPECT_EQ(cardsim_callCount(kZtVerifyPin), 1u);
    EXPECT_RV(CKR_OK, logIn(m_rw, CKU_SO, kSoPin));
    EXPECT_EQ(cardsim_callCount(kZtVerifyPin), 2u);
    EXPECT_RV(CKR_PIN_INCORRECT, logIn(m_rw, CKU_SO, "00000000"));
    // The wrong try ended the card's verification, and so the login.
    EXPECT_EQ(state(m_rw), CKS_RW_PUBLIC_SESSION);
}

TEST_F(Login, PinArgumentsAndUserTypes) {
    EXPECT_RV(CKR_PIN_INVALID, logIn(m_rw, CKU_USER, "123456789"));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Login(m_rw, CKU_USER, pinBytes("1234"), 0));
    EXPECT_RV(CKR_ARGUMENTS_BAD, logIn(0, CKU_USER, kUserPin));
    EXPECT_RV(CKR_USER_TYPE_INVALID, logIn(m_rw, CKU_CONTEXT_SPECIFIC, kUserPin));
    EXPECT_RV(CKR_USER_TYPE_INVALID, logIn(m_rw, 7, kUserPin));
    EXPECT_EQ(cardsim_callCount(kZtVerifyPin), 0u);

    // An 8-character PIN is the longest accepted, and its bytes need no terminator.
    cardsim_setPin(kReader, CKU_USER, "abcdefgh");
    std::string unterminated = "abcdefghXYZ";
    EXPECT_RV(CKR_OK, p11->C_Login(m_rw, CKU_USER, pinBytes(unterminated), 8));
    EXPECT_EQ(cardsim_calls(kZtVerifyPin).back().text, "abcdefgh");
}

TEST_F(Login, NullPinIsPassedOnAsNull) {
    CK_RV rv = p11->C_Login(m_rw, CKU_USER, nullptr, 99);
    auto verifies = cardsim_calls(kZtVerifyPin);
    ASSERT_EQ(verifies.size(), 1u);
    EXPECT_TRUE(verifies[0].textIsNull);
    EXPECT_RV(CKR_DEVICE_ERROR, rv);  // the test card refuses a null PIN
    EXPECT_NE(logText().find("BIOMETRIC LOGIN"), std::string::npos);
    cardsim_script(kZtVerifyPin, 0, 1);
    EXPECT_RV(CKR_OK, p11->C_Login(m_rw, CKU_USER, nullptr, 0));
    EXPECT_EQ(state(m_rw), CKS_RW_USER_FUNCTIONS);
}

TEST_F(Login, LoginBelongsToTheSlotAndLogoutToAnySession) {
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_Logout(m_rw));
    login(m_rw, CKU_USER);
    EXPECT_EQ(state(m_ro), CKS_RO_USER_FUNCTIONS);
    CK_SESSION_HANDLE later = openSession();
    EXPECT_EQ(state(later), CKS_RW_USER_FUNCTIONS);
    EXPECT_RV(CKR_OK, p11->C_CloseSession(m_rw));  // closing one session keeps the login
    EXPECT_EQ(state(m_ro), CKS_RO_USER_FUNCTIONS);
    EXPECT_RV(CKR_OK, p11->C_Logout(m_ro));
    EXPECT_EQ(state(later), CKS_RW_PUBLIC_SESSION);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, p11->C_Logout(later));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_Logout(0));
}

TEST_F(Login, LastCloseEndsTheLogin) {
    login(m_rw, CKU_USER);
    EXPECT_RV(CKR_OK, p11->C_CloseAllSessions(m_slot));
    CK_SESSION_HANDLE fresh = openSession();
    EXPECT_EQ(state(fresh), CKS_RW_PUBLIC_SESSION);
}

TEST_F(Login, InitPinNeedsALoginAndALengthLoginAccepts) {
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, initPin(m_rw, "5555"));
    EXPECT_EQ(cardsim_callCount(kZtInitPin), 0u);
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_InitPIN(m_rw, nullptr, 4));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_InitPIN(m_rw, pinBytes("5555"), 0));
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_InitPIN(0, pinBytes("5555"), 4));

    // Any logged-in type is passed on; this card lets only the SO set the PIN
    // and answers 0x6982 to the user: the SO is not logged in.
    login(m_rw, CKU_USER);
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, initPin(m_rw, "5555"));
    EXPECT_EQ(cardsim_callCount(kZtInitPin), 1u);
    EXPECT_EQ(state(m_rw), CKS_RW_USER_FUNCTIONS);  // the user's login stays
    EXPECT_RV(CKR_OK, p11->C_Logout(m_rw));

    login(m_ro, CKU_SO);  // a read-only session will do
    // Only PINs C_Login accepts: the token's ulMinPinLen 4 to ulMaxPinLen 8.
    EXPECT_RV(CKR_PIN_LEN_RANGE, initPin(m_ro, std::string(9, '7')));
    EXPECT_RV(CKR_PIN_LEN_RANGE, initPin(m_ro, "777"));
    EXPECT_EQ(cardsim_callCount(kZtInitPin), 1u);
    EXPECT_RV(CKR_OK, initPin(m_ro, "77777777"));
    EXPECT_EQ(cardsim_calls(kZtInitPin).back().text, "77777777");
    EXPECT_RV(CKR_OK, initPin(m_ro, "2468"));
    EXPECT_RV(CKR_OK, p11->C_Logout(m_ro));
    EXPECT_RV(CKR_OK, logIn(m_rw, CKU_USER, "2468"));
}

}  // namespace

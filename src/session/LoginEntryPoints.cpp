// C_Login, C_Logout, C_SetPIN and C_InitPIN. PINs are copied into
// zero-terminated buffers for the card library and never logged.
#include <cstring>

#include "CSession.h"
#include "CallFrame.h"
#include "Log.h"

namespace {

// The PIN lengths the token reports in CK_TOKEN_INFO (ulMinPinLen, ulMaxPinLen).
constexpr CK_ULONG kMinPinLength = 4;
constexpr CK_ULONG kMaxPinLength = 8;
constexpr CK_ULONG kMinSetPinLength = kMinPinLength;

// A zero-terminated copy of the caller's PIN bytes, wiped when done. Callers
// check the length first; the buffer is fixed, so no caller's length is ever
// used in arithmetic (a longer one is refused rather than cut).
class PinCopy {
public:
    PinCopy(const CK_UTF8CHAR* pin, CK_ULONG length) {
        std::memset(m_text, 0, sizeof(m_text));
        if (pin && length && length <= kMaxPinLength) std::memcpy(m_text, pin, length);
    }
    ~PinCopy() {
        volatile char* p = m_text;
        for (size_t i = 0; i < sizeof(m_text); ++i) p[i] = 0;
    }
    PinCopy(const PinCopy&) = delete;
    PinCopy& operator=(const PinCopy&) = delete;
    const char* c_str() const { return m_text; }

private:
    char m_text[kMaxPinLength + 1];
};

bool setPinLengthOk(CK_ULONG length) {
    return length >= kMinSetPinLength && length <= kMaxPinLength;
}

}  // namespace

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
              CK_ULONG ulPinLen) {
    logMessage("-> C_Login(%lx,%lx)", hSession, userType);
    if (!g_bInitialized.load()) return frame::notInitialised();
    if (hSession == 0) return frame::argumentsBad();
    if (pPin) {
        if (ulPinLen == 0) return frame::argumentsBad();
        if (ulPinLen > kMaxPinLength) {
            logError("->e<- CKR_PIN_INVALID");
            return CKR_PIN_INVALID;
        }
    } else {
        logMessage("BIOMETRIC LOGIN");
    }
    if (userType != CKU_SO && userType != CKU_USER) {
        logMessage("->e<- CKR_USER_TYPE_INVALID: %lX", userType);
        return CKR_USER_TYPE_INVALID;
    }
    PinCopy pin(pPin, pPin ? ulPinLen : 0);
    return frame::forSession(hSession, {}, "<- C_Login", [&](CSession& session) -> CK_RV {
        CK_USER_TYPE type = userType;
        CK_RV rv = session.login(&type, pPin ? pin.c_str() : nullptr);
        if (rv != CKR_OK) logError("->e<- Login FAILED: %lx", rv);
        return rv;
    });
}

CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    logMessage("-> C_Logout(%lu)", hSession);
    return frame::forSession(hSession, {}, "<- C_Logout", [&](CSession& session) -> CK_RV {
        if (session.isLoggedIn() != 1) {
            logMessage("->e<- CKR_USER_NOT_LOGGED_IN");
            return CKR_USER_NOT_LOGGED_IN;
        }
        CK_RV rv = session.logout();
        if (rv != CKR_OK) {
            logMessage("->e<- Logout Error: %lx", rv);
            return CKR_GENERAL_ERROR;
        }
        return CKR_OK;
    });
}

CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
               CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen) {
    logMessage("-> C_SetPIN(%lu)", hSession);
    if (!g_bInitialized.load()) return frame::notInitialised();
    CK_RV rv = frame::precheck(
        {hSession != 0, pOldPin != nullptr, ulOldLen != 0, pNewPin != nullptr, ulNewLen != 0});
    if (rv != CKR_OK) return rv;
    if (!setPinLengthOk(ulNewLen)) {
        logMessage("->e<- CKR_PIN_INVALID NEW");
        return CKR_PIN_INVALID;
    }
    if (!setPinLengthOk(ulOldLen)) {
        logMessage("->e<- CKR_PIN_INVALID OLD");
        return CKR_PIN_INVALID;
    }
    PinCopy oldPin(pOldPin, ulOldLen);
    PinCopy newPin(pNewPin, ulNewLen);
    return frame::forSession(hSession, {}, "<- C_SetPIN", [&](CSession& session) -> CK_RV {
        if (session.isReadOnly() == 1) {
            logMessage("->e<- CKR_SESSION_READ_ONLY");
            return CKR_SESSION_READ_ONLY;
        }
        logMessage("Call pSession->setPIN");
        CK_RV result = session.setPIN(oldPin.c_str(), newPin.c_str());
        if (result != CKR_OK) {
            // The application learns only that the change failed.
            logMessage("->e<- SetPin Error: %lx", result);
            return CKR_FUNCTION_FAILED;
        }
        return CKR_OK;
    });
}

CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    if (!g_bInitialized.load()) return frame::notInitialised();
    CK_RV rv = frame::precheck({hSession != 0, pPin != nullptr, ulPinLen != 0});
    if (rv != CKR_OK) return rv;
    logMessage("-> C_InitPIN(%lu)", hSession);
    // A PIN C_Login would refuse is never set.
    if (ulPinLen < kMinPinLength || ulPinLen > kMaxPinLength) {
        logError("->e<- CKR_PIN_LEN_RANGE: %lu", ulPinLen);
        return CKR_PIN_LEN_RANGE;
    }
    PinCopy pin(pPin, ulPinLen);
    return frame::forSession(hSession, {}, "<- C_InitPIN", [&](CSession& session) -> CK_RV {
        CK_RV result = session.initPIN(pin.c_str());
        if (result != CKR_OK) logError("initPIN Error (%lX)", result);
        return result;
    });
}

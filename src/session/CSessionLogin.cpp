// The session's login and PIN operations. PINs are never checked here: the
// card checks them, and its statuses are translated by the tables of PinStatus.
#include <cstring>

#include "CSession.h"
#include "CSessionData.h"
#include "CardAnswers.h"
#include "CardLibrary.h"
#include "Log.h"
#include "PinStatus.h"

namespace {

CardFunctions& card() {
    CardFunctions* table = cardFunctions();
    if (!table) throw static_cast<uint32_t>(CKR_GENERAL_ERROR);
    return *table;
}

// Translates a non-zero status and records tries left where the row says so.
CK_RV failWith(const PinStatusTable& table, uint32_t status, CSessionData& slot) {
    const PinStatusRule& rule = translatePinStatus(table, status);
    logError(rule.logLine, status);
    if (rule.storesTriesLeft) slot.m_ulPinTriesLeft = status - kTriesLeftBase;
    return rule.rv;
}

bool connectionGone(uint32_t status) {
    return classifyCardAnswer(status) == CardAnswer::ConnectionGone;
}

size_t pinLength(const char* pin) {
    return pin ? std::strlen(pin) : 0;
}

}  // namespace

CK_RV CSession::login(CK_USER_TYPE* userType, const char* pin) {
    logMessage("-> Login: getUserType() %lx - given usertype %lx", getUserType(), *userType);
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    CSessionData& slot = *m_pSessionData;
    if (slot.m_ulUserType != kNoUserType && slot.m_ulUserType != *userType) {
        logError("<e> CKR_USER_ANOTHER_LOGGEDIN");
        return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    }
    uint32_t status;
    try {
        status = card().ZT_verifyPIN(slot.m_hConnection, static_cast<uint32_t>(*userType), pin);
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_verifyPIN");
        return CKR_GENERAL_ERROR;
    }
    if (status != 0) {
        rv = failWith(kLoginStatuses, status, slot);
        // A wrong try ends the card's verification: the login it held ends
        // too. (A dead connection is a removal, which the frame handles.)
        if (slot.m_ulUserType == *userType && !connectionGone(status)) slot.endLogin();
        return rv;
    }
    slot.m_ulUserType = static_cast<uint32_t>(*userType);
    return CKR_OK;
}

CK_RV CSession::logout() {
    logMessage("-> logout; %p", static_cast<void*>(this));
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    m_pSessionData->endLogin();
    logMessage("<- logout");
    return CKR_OK;
}

CK_RV CSession::setPIN(const char* oldPin, const char* newPin) {
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    // PINs never reach the log: only their lengths.
    logMessage("-> setPIN: old PIN of %u characters, new PIN of %u characters",
               static_cast<unsigned>(pinLength(oldPin)), static_cast<unsigned>(pinLength(newPin)));
    CSessionData& slot = *m_pSessionData;
    const bool loggedIn = slot.m_ulUserType != kNoUserType;
    bool verified = false, gone = false;
    rv = CKR_OK;
    try {
        CardFunctions& zt = card();
        uint32_t status = zt.ZT_verifyPIN(slot.m_hConnection, slot.m_ulUserType, oldPin);
        if (status != 0) {
            rv = failWith(kSetPinVerifyStatuses, status, slot);
            gone = connectionGone(status);
        } else {
            verified = true;
            logMessage("call ZT_changePIN");
            status = zt.ZT_changePIN(slot.m_hConnection, slot.m_ulUserType, newPin);
            if (status != 0) rv = failWith(kChangePinStatuses, status, slot);
        }
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_changePIN");
        rv = CKR_GENERAL_ERROR;
    }
    // The card's verification must say what the login says: a verification
    // made without a login is undone, and a wrong old PIN ended the login's.
    if (gone) {
        // A removal, which the frame handles once the call is over.
    } else if (!loggedIn) {
        slot.renewConnection();
    } else if (!verified) {
        slot.endLogin();
    }
    return rv;
}

CK_RV CSession::initPIN(const char* pin) {
    logMessage("-> initPIN: getUserType() %lx", getUserType());
    CK_RV rv = guard();
    if (rv != CKR_OK) return rv;
    CSessionData& slot = *m_pSessionData;
    if (slot.m_ulUserType == kNoUserType) {
        logError("<e> CKR_USER_NOT_LOGGED_IN");
        return CKR_USER_NOT_LOGGED_IN;
    }
    uint32_t status;
    try {
        status = card().ZT_initPIN(slot.m_hConnection, pin);
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_initPIN");
        return CKR_GENERAL_ERROR;
    }
    if (status != 0) return failWith(kInitPinStatuses, status, slot);
    return CKR_OK;
}

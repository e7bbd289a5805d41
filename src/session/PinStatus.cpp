#include "PinStatus.h"

namespace {

constexpr uint32_t kAny = 0xFFFFFFFFu;

const PinStatusRule kLogin[] = {
    {0x6300, 0x63CF, CKR_PIN_INCORRECT, "<e> ZT_verifyPIN %x", true},
    {0x6A80, 0x6A80, CKR_PIN_LOCKED, "<e> ZT_verifyPIN %x", false},
    {0x6983, 0x6983, CKR_PIN_LOCKED, "<e> PIN LOCKED %x", false},
    {0, kAny, CKR_DEVICE_ERROR, "<e> ZT_verifyPIN %x", false},
};

// Only 0x63Cn carries tries left here; 0x6300..0x63BF is a device error.
const PinStatusRule kSetPinVerify[] = {
    {0x63C0, 0x63CF, CKR_PIN_INCORRECT, "<e> ZT_verifyPIN %x", true},
    {0x6A80, 0x6A80, CKR_PIN_INCORRECT, "<e> ZT_verifyPIN %x", false},
    {0x6983, 0x6983, CKR_PIN_LOCKED, "<e> PIN LOCKED %x", false},
    {0, kAny, CKR_DEVICE_ERROR, "<e> ZT_verifyPIN %x", false},
};

const PinStatusRule kChangePin[] = {
    {0x6982, 0x6982, CKR_USER_NOT_LOGGED_IN, "<e> ZT_changePIN %x", false},
    {0x6983, 0x6983, CKR_PIN_INCORRECT, "<e> ZT_changePIN %x", false},
    {0, kAny, CKR_DEVICE_ERROR, "<e> ZT_changePIN %x", false},
};

// Initialisation never records tries left.
const PinStatusRule kInitPin[] = {
    // The card wants the SO's PIN verified first.
    {0x6982, 0x6982, CKR_USER_NOT_LOGGED_IN, "<e> ZT_initPIN %x", false},
    {0x6300, 0x63CF, CKR_PIN_INCORRECT, "<e> ZT_initPIN %x", false},
    {0x6A80, 0x6A80, CKR_PIN_LOCKED, "<e> ZT_initPIN %x", false},
    {0x6983, 0x6983, CKR_PIN_LOCKED, "<e> PIN LOCKED %x", false},
    {0, kAny, CKR_DEVICE_ERROR, "<e> ZT_initPIN %x", false},
};

template <unsigned N>
constexpr PinStatusTable tableOf(const PinStatusRule (&rules)[N]) {
    return {rules, N};
}

}  // namespace

const PinStatusTable kLoginStatuses = tableOf(kLogin);
const PinStatusTable kSetPinVerifyStatuses = tableOf(kSetPinVerify);
const PinStatusTable kChangePinStatuses = tableOf(kChangePin);
const PinStatusTable kInitPinStatuses = tableOf(kInitPin);

const PinStatusRule& translatePinStatus(const PinStatusTable& table, uint32_t status) {
    for (unsigned i = 0; i + 1 < table.count; ++i) {
        const PinStatusRule& rule = table.rules[i];
        if (status >= rule.low && status <= rule.high) return rule;
    }
    return table.rules[table.count - 1];
}

// How card statuses of the PIN calls become CK_RV codes. The mapping differs
// per call, so each call has its own table; the first matching row wins and
// a table ends with its catch-all row (low 0, high 0xFFFFFFFF).
#ifndef QUILLON_SESSION_PINSTATUS_H
#define QUILLON_SESSION_PINSTATUS_H

#include <cstdint>

#include "cryptoki.h"

struct PinStatusRule {
    uint32_t low;  // statuses low..high inclusive
    uint32_t high;
    CK_RV rv;
    const char* logLine;   // error line, with %x for the status
    bool storesTriesLeft;  // the slot's tries left becomes status - 0x63C0
};

struct PinStatusTable {
    const PinStatusRule* rules;
    unsigned count;
};

extern const PinStatusTable kLoginStatuses;         // ZT_verifyPIN for C_Login
extern const PinStatusTable kSetPinVerifyStatuses;  // ZT_verifyPIN of the old PIN in C_SetPIN
extern const PinStatusTable kChangePinStatuses;     // ZT_changePIN
extern const PinStatusTable kInitPinStatuses;       // ZT_initPIN

// The row for a non-zero status.
const PinStatusRule& translatePinStatus(const PinStatusTable& table, uint32_t status);

constexpr uint32_t kTriesLeftBase = 0x63C0;

#endif

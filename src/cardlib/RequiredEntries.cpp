#include "RequiredEntries.h"

std::string missingRequiredEntries(const CardFunctions& t) {
    // Entries 0, 5, 7, 8, 12 and 18 are optional (checked at each use);
    // 16 and 19 to 21 are never called.
    const struct {
        bool present;
        const char* name;
    } required[] = {
        {t.ZT_disconnect != nullptr, "ZT_disconnect"},
        {t.ZT_verifyPIN != nullptr, "ZT_verifyPIN"},
        {t.ZT_changePIN != nullptr, "ZT_changePIN"},
        {t.ZT_initPIN != nullptr, "ZT_initPIN"},
        {t.ZT_readObj != nullptr, "ZT_readObj"},
        {t.ZT_getObjectTbl != nullptr, "ZT_getObjectTbl"},
        {t.ZT_putObjectTbl != nullptr, "ZT_putObjectTbl"},
        {t.ZT_applyPrivateKey != nullptr, "ZT_applyPrivateKey"},
        {t.ZT_getSlotList != nullptr, "ZT_getSlotList"},
        {t.ZT_isInserted != nullptr, "ZT_isInserted"},
        {t.ZT_getTokenInfo != nullptr, "ZT_getTokenInfo"},
        {t.ZT_getPublicKey != nullptr, "ZT_getPublicKey"},
        {t.ZT_open != nullptr, "ZT_open"},
        {t.ZT_close != nullptr, "ZT_close"},
    };
    std::string missing;
    for (const auto& entry : required) {
        if (entry.present) continue;
        if (!missing.empty()) missing += ", ";
        missing += entry.name;
    }
    return missing;
}

// C_GetSlotList, C_GetSlotInfo and C_GetTokenInfo.
#include <cstring>
#include <ctime>
#include <vector>

#include "CallFrame.h"
#include "CardLibrary.h"
#include "Initialize.h"
#include "PaddedText.h"
#include "Platform.h"
#include "SlotTables.h"

namespace {

// No CKF_DUAL_CRYPTO_OPERATIONS: a session runs one operation at a time.
constexpr CK_FLAGS kTokenFlags =
    CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;

CK_RV getSlotList(CK_BBOOL tokenPresentOnly, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    uint32_t status = refreshSlotTable();
    if (status != 0) logError("->e<- ZT_getSlotList: %x ", status);
    std::vector<CK_SLOT_ID> ids;
    for (unsigned i = 0; i < g_readerNames.size(); ++i) {
        const char* name = g_readerNames[i];
        int id = static_cast<int>(slotIdOfReader(i));
        if (!g_slotState.containsKey(id)) g_slotState.put(id, tokenPresent(name) ? 1 : 0);
    }
    for (unsigned i = 0; i < g_readerNames.size(); ++i) {
        const char* name = g_readerNames[i];
        if (tokenPresentOnly) {
            uint32_t inserted = cardFunctions()->ZT_isInserted(name);
            logMessage("ZT_isInserted (%s) returns %X", name, inserted);
            if (inserted != 0) continue;
        }
        ids.push_back(slotIdOfReader(i));
    }
    if (pSlotList && *pulCount < ids.size()) {
        *pulCount = ids.size();
        logError("->e<- CKR_BUFFER_TOO_SMALL: ");
        return CKR_BUFFER_TOO_SMALL;
    }
    *pulCount = ids.size();
    if (pSlotList) std::copy(ids.begin(), ids.end(), pSlotList);
    return CKR_OK;
}

CK_RV getSlotInfo(CK_SLOT_ID slotID, const char* reader, CK_SLOT_INFO_PTR pInfo) {
    logMessage("Slot Name is: %lu - %s", slotID, reader);
    fillBlankPadded(pInfo->slotDescription, sizeof(pInfo->slotDescription), reader);
    fillBlankPadded(pInfo->manufacturerID, sizeof(pInfo->manufacturerID), "unknown");
    bool present = tokenPresent(reader);
    logMessage("inserted %d ", present ? 1 : 0);
    pInfo->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (present ? CKF_TOKEN_PRESENT : 0);
    pInfo->hardwareVersion = {0xFF, 0xFF};
    pInfo->firmwareVersion = {0xFF, 0xFF};
    logMessage("<- C_GetSlotInfo");
    return CKR_OK;
}

CK_RV getTokenInfo(CK_SLOT_ID slotID, const char* reader, CK_TOKEN_INFO_PTR pInfo) {
    logMessage("Call ZT_isInserted %lu", slotID);
    if (!tokenPresent(reader)) {
        logError("<e> CKR_DEVICE_REMOVED");
        return CKR_DEVICE_REMOVED;
    }
    logMessage("ZT_isInserted OK");
    logMessage("Call ZT_getTokenInfo");
    char serial[kCardPathSize] = {}, label[kCardPathSize] = {}, manufacturer[kCardPathSize] = {},
         model[kCardPathSize] = {};
    uint32_t status = cardFunctions()->ZT_getTokenInfo(reader, serial, label, manufacturer, model);
    if (status != 0) {
        logError("<e> ZT_getTokenInfo Error (%x)", status);
        return CKR_DEVICE_ERROR;
    }
    // The library's texts end within their buffers whatever it wrote.
    serial[kCardPathSize - 1] = label[kCardPathSize - 1] = manufacturer[kCardPathSize - 1] =
        model[kCardPathSize - 1] = 0;
    fillBlankPadded(pInfo->serialNumber, sizeof(pInfo->serialNumber), serial);
    fillBlankPadded(pInfo->label, sizeof(pInfo->label), label);
    fillBlankPadded(pInfo->manufacturerID, sizeof(pInfo->manufacturerID), manufacturer);
    fillBlankPadded(pInfo->model, sizeof(pInfo->model), model);
    logMessage("ZT_getTokenInfo OK");

    pInfo->flags = kTokenFlags;
    pInfo->ulMaxSessionCount = 0;
    pInfo->ulMaxRwSessionCount = 0;
    unsigned long all = 0, readWrite = 0;
    countSessions(&all, &readWrite);
    pInfo->ulSessionCount = all;
    pInfo->ulRwSessionCount = readWrite;
    pInfo->ulMaxPinLen = 8;
    pInfo->ulMinPinLen = 4;
    pInfo->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->hardwareVersion = {0xFF, 0xFF};
    pInfo->firmwareVersion = {0xFF, 0xFF};

    std::tm local{};
    char clock[128] = {};
    if (platform::localTime(std::time(nullptr), &local))
        std::strftime(clock, sizeof(clock), "%Y%m%d%H%M%S00", &local);
    std::memcpy(pInfo->utcTime, clock, sizeof(pInfo->utcTime));
    return CKR_OK;
}

}  // namespace

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    logMessage("-> C_GetSlotList(%u,%p %p)", tokenPresent, static_cast<void*>(pSlotList),
               static_cast<void*>(pulCount));
    return frame::call({pulCount != nullptr}, "<- C_GetSlotList",
                       [&] { return getSlotList(tokenPresent, pSlotList, pulCount); });
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    logMessage("-> C_GetSlotInfo(%lu,%p)", slotID, static_cast<void*>(pInfo));
    return frame::forSlot(slotID, {pInfo != nullptr}, nullptr,
                          [&](const char* reader) { return getSlotInfo(slotID, reader, pInfo); });
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    logMessage("-> C_GetTokenInfo(%lu,%p)", slotID, static_cast<void*>(pInfo));
    return frame::forSlot(slotID, {pInfo != nullptr}, "<- C_GetTokenInfo",
                          [&](const char* reader) { return getTokenInfo(slotID, reader, pInfo); });
}

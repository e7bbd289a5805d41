// Fetching a stored value from the token (the lazy half of the stored-value
// protocol; storing is C11Object::storeValue).
#include "C11Object.h"
#include "CardLibrary.h"
#include "Log.h"

CK_RV C11Object::fetchStoredValue(uint32_t accessClass, unsigned long reserve, FetchStyle style,
                                  OrlByteArray& value) {
    value.removeAll();
    if (!m_szPath) return CKR_OK;
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_readObj) {
        logError("<e> ZT_readObj NOT SUPPORTED");
        return CKR_DEVICE_ERROR;
    }
    OrlByteArray read;
    if (reserve) read.ensureCapacity(reserve);
    if (style == FetchStyle::Certificate) logMessage("ZT_readObj");
    ZT_STATUS status = card->ZT_readObj(m_hConnection, m_szPath->c_str(), accessClass, read);
    // Exactly "allocated, never written": the value is empty (a zero-length
    // value is stored that way). Any other failure is a failure, never a value.
    if (status == kStatusEmptyObject) return CKR_OK;
    if (status != 0) {
        value.removeAll();
        if (style == FetchStyle::Certificate) {
            logError("ZT_readObj error %x", status);
        } else {
            logError("<e> ZT_readObj %X", status);
        }
        return CKR_DEVICE_ERROR;
    }
    if (style == FetchStyle::Certificate) logMessage("ZT_readObj");
    value.append(read);
    return CKR_OK;
}

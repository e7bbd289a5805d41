#include "CardStorage.h"

#include "CardLibrary.h"
#include "Log.h"

void releaseCardStorage(ZT_HANDLE hConnection, const std::string& path) {
    CardFunctions* card = cardFunctions();
    if (path.empty() || !card || !card->ZT_deleteObj) return;
    try {
        ZT_STATUS status = card->ZT_deleteObj(hConnection, path.c_str());
        if (status != 0) logError("<e> ZT_DeleteObj %X", status);
    } catch (...) {
        logError("<e> Unexpected Exception thrown by ZT_DeleteObj");
    }
}

CK_ULONG containerIndexFromPath(const char* path) {
    CK_ULONG index = 0;
    for (const char* p = path; *p >= '0' && *p <= '9'; ++p) index = index * 10 + (*p - '0');
    return index;
}

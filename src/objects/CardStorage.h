// Card storage named by key and value paths, shared by object creation, key
// import and key generation.
#ifndef QUILLON_SESSION_CARDSTORAGE_H
#define QUILLON_SESSION_CARDSTORAGE_H

#include <string>

#include "CardFunctions.h"
#include "cryptoki.h"

// Frees card storage no object will name. Best effort: a failure leaves
// unused storage behind, never a dangling object.
void releaseCardStorage(ZT_HANDLE hConnection, const std::string& path);

// The container index of a key path: its leading decimal digits, 0 when none.
CK_ULONG containerIndexFromPath(const char* path);

#endif

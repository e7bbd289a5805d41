// The open sessions by handle. Touched only under the global lock.
#ifndef QUILLON_SESSION_SESSIONTABLE_H
#define QUILLON_SESSION_SESSIONTABLE_H

#include <cstdint>

#include "OrlHashtable.h"
#include "cryptoki.h"

class CSession;

// Handle -> owning pointer to the session.
extern OrlHashtable<unsigned long, CSession*>& g_sessionTable;

// The handle for a new session: the low 32 bits of its address, moved on to
// the next free value when that is 0 or already names an open session.
unsigned long chooseSessionHandle(uintptr_t address,
                                  const OrlHashtable<unsigned long, CSession*>& table);

// The session with that handle, open or closed; null when unknown.
CSession* findSession(CK_SESSION_HANDLE hSession);

#endif

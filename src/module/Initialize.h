// Library-wide state of the Cryptoki interface between C_Initialize and C_Finalize.
#ifndef QUILLON_MODULE_INITIALIZE_H
#define QUILLON_MODULE_INITIALIZE_H

#include "Platform.h"

// Guards the per-slot state table; nests inside the global lock.
// Made by C_Initialize, deleted by C_Finalize.
extern platform::CriticalSection* g_csSessionData;

// True when the application said the library may not create threads
// (CKF_LIBRARY_CANT_CREATE_OS_THREADS): then no helper thread is ever started.
bool threadsForbidden();

// Closes and deletes every session and empties the session table (C_Finalize,
// under the global lock).
void finalizeSessions();

// Sessions open on all slots, and how many of them are read-write
// (under the global lock).
void countSessions(unsigned long* all, unsigned long* readWrite);

#endif

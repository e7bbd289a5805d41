// The one global mutex that serialises all work on slots, sessions and tokens.
#ifndef QUILLON_MODULE_GLOBALLOCK_H
#define QUILLON_MODULE_GLOBALLOCK_H

#include "cryptoki.h"

// The locking functions chosen by C_Initialize: the application's or ours.
struct LockFunctions {
    CK_CREATEMUTEX create;
    CK_DESTROYMUTEX destroy;
    CK_LOCKMUTEX lock;
    CK_UNLOCKMUTEX unlock;
    bool ownFunctions;  // ours: create returns the mutex already held
};

LockFunctions osLockFunctions();
// Chooses the functions for the next locked calls. A mutex made by other
// functions is destroyed first, so it is never handed to the new ones.
void chooseLockFunctions(const LockFunctions& functions);

// At unload: destroys the global mutex, which outlives C_Finalize until then.
void destroyGlobalLock();

// Takes the global lock, creating the mutex on first use (safely when two
// threads race). CKR_OK, or CKR_GENERAL_ERROR after logging why.
CK_RV acquireGlobalLock();
// Releases it. CKR_OK, or CKR_GENERAL_ERROR after logging why.
CK_RV releaseGlobalLock();

// Scoped release for work that must wait without the lock (slot-event polls,
// random generation): releases now and takes the lock back on destruction.
class GlobalLockReleased {
public:
    GlobalLockReleased();
    ~GlobalLockReleased();
    GlobalLockReleased(const GlobalLockReleased&) = delete;
    GlobalLockReleased& operator=(const GlobalLockReleased&) = delete;
    bool released() const { return m_released; }

private:
    bool m_released;
};

#endif

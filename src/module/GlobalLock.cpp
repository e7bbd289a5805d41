#include "GlobalLock.h"

#include <mutex>

#include "Log.h"
#include "Platform.h"

namespace {

CK_RV ckCreate(CK_VOID_PTR_PTR mutex) {
    return platform::osCreateMutex(mutex);
}
CK_RV ckDestroy(CK_VOID_PTR mutex) {
    return platform::osDestroyMutex(mutex);
}
CK_RV ckLock(CK_VOID_PTR mutex) {
    return platform::osLockMutex(mutex);
}
CK_RV ckUnlock(CK_VOID_PTR mutex) {
    return platform::osUnlockMutex(mutex);
}

constexpr CK_RV kAbandonedWait = 0x80;

// Guards the creation of g_hMutex only; never held during work.
std::mutex s_creation;
void* g_hMutex = nullptr;
LockFunctions s_current = {ckCreate, ckDestroy, ckLock, ckUnlock, true};
LockFunctions s_creator = s_current;  // the functions that made g_hMutex

bool sameFunctions(const LockFunctions& a, const LockFunctions& b) {
    return a.create == b.create && a.destroy == b.destroy && a.lock == b.lock &&
           a.unlock == b.unlock;
}

}  // namespace

LockFunctions osLockFunctions() {
    return {ckCreate, ckDestroy, ckLock, ckUnlock, true};
}

namespace {
// Caller holds s_creation.
void destroyMutex() {
    if (!g_hMutex) return;
    // Ours destroys a mutex held by the caller; the standard's an unheld one.
    if (!s_creator.ownFunctions) {
        s_creator.destroy(g_hMutex);
    } else {
        CK_RV rv = s_creator.lock(g_hMutex);
        if (rv == CKR_OK || rv == kAbandonedWait) s_creator.destroy(g_hMutex);
    }
    g_hMutex = nullptr;
}
}  // namespace

void chooseLockFunctions(const LockFunctions& functions) {
    std::lock_guard<std::mutex> guard(s_creation);
    if (g_hMutex && !sameFunctions(functions, s_creator)) destroyMutex();
    s_current = functions;
}

void destroyGlobalLock() {
    std::lock_guard<std::mutex> guard(s_creation);
    destroyMutex();
}

CK_RV acquireGlobalLock() {
    {
        std::unique_lock<std::mutex> guard(s_creation);
        if (!g_hMutex) {
            void* mutex = nullptr;
            CK_RV rv = s_current.create(&mutex);
            if (rv != CKR_OK) {
                logMessage("->e<- CreateMutex Error: %lx ", rv);
                return CKR_GENERAL_ERROR;
            }
            g_hMutex = mutex;
            s_creator = s_current;
            if (s_current.ownFunctions) return CKR_OK;  // created already held
            // An application's create function returns an unheld mutex: lock it below.
        }
    }
    CK_RV rv = s_current.lock(g_hMutex);
    if (rv != CKR_OK && rv != kAbandonedWait) {
        logMessage("->e<- LockMutex Error: %lx, %lx", rv, platform::getLastError());
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

CK_RV releaseGlobalLock() {
    if (!g_hMutex) {
        logMessage("->e<- Invalid Mutex Error: %x", 0u);
        return CKR_GENERAL_ERROR;
    }
    CK_RV rv = s_current.unlock(g_hMutex);
    if (rv != CKR_OK) {
        logMessage("->e<- ReleaseMutex Error: %lx ", rv);
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

GlobalLockReleased::GlobalLockReleased() : m_released(releaseGlobalLock() == CKR_OK) {}

GlobalLockReleased::~GlobalLockReleased() {
    if (m_released) acquireGlobalLock();
}

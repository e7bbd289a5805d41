#include "GlobalLock.h"

#include <atomic>
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

// Guards the creation (and the replacement) of g_hMutex only; never held
// during work. Once the mutex exists, locking reads it without this guard.
std::mutex s_creation;
std::atomic<void*> g_hMutex{nullptr};
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
    void* mutex = g_hMutex.load();
    if (!mutex) return;
    // Ours destroys a mutex held by the caller; the standard's an unheld one.
    if (!s_creator.ownFunctions) {
        s_creator.destroy(mutex);
    } else {
        CK_RV rv = s_creator.lock(mutex);
        if (rv == CKR_OK || rv == kAbandonedWait) s_creator.destroy(mutex);
    }
    g_hMutex.store(nullptr);
}
}  // namespace

void chooseLockFunctions(const LockFunctions& functions) {
    std::lock_guard<std::mutex> guard(s_creation);
    if (g_hMutex.load() && !sameFunctions(functions, s_creator)) destroyMutex();
    s_current = functions;
}

void destroyGlobalLock() {
    std::lock_guard<std::mutex> guard(s_creation);
    destroyMutex();
}

CK_RV acquireGlobalLock() {
    void* mutex = g_hMutex.load(std::memory_order_acquire);
    if (!mutex) {
        std::lock_guard<std::mutex> guard(s_creation);
        mutex = g_hMutex.load(std::memory_order_relaxed);
        if (!mutex) {
            CK_RV rv = s_current.create(&mutex);
            if (rv != CKR_OK) {
                logMessage("->e<- CreateMutex Error: %lx ", rv);
                return CKR_GENERAL_ERROR;
            }
            s_creator = s_current;
            g_hMutex.store(mutex, std::memory_order_release);
            if (s_current.ownFunctions) return CKR_OK;  // created already held
            // An application's create function returns an unheld mutex: lock it below.
        }
    }
    CK_RV rv = s_current.lock(mutex);
    if (rv != CKR_OK && rv != kAbandonedWait) {
        logMessage("->e<- LockMutex Error: %lx, %lx", rv, platform::getLastError());
        return CKR_GENERAL_ERROR;
    }
    return CKR_OK;
}

CK_RV releaseGlobalLock() {
    void* mutex = g_hMutex.load(std::memory_order_acquire);
    if (!mutex) {
        logMessage("->e<- Invalid Mutex Error: %x", 0u);
        return CKR_GENERAL_ERROR;
    }
    CK_RV rv = s_current.unlock(mutex);
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

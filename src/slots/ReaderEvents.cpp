#include "ReaderEvents.h"

#include "CallFrame.h"
#include "CardLibrary.h"
#include "GlobalLock.h"
#include "Initialize.h"
#include "ProcessGlobal.h"
#include "ReaderMonitor.h"

namespace {

constexpr unsigned kPollMilliseconds = 300;

struct NoCardLibrary {};

uint32_t pollReader(const char* reader) {
    CardFunctions* card = cardFunctions();
    if (!card || !card->ZT_isInserted) throw NoCardLibrary();
    return card->ZT_isInserted(reader);
}

// Callbacks change session and slot state, so they run under the global lock,
// and never once C_Finalize has begun (it deletes the listeners under the lock).
bool enterCallbacks() {
    if (!g_bInitialized.load()) return false;
    if (acquireGlobalLock() != CKR_OK) return false;
    if (!g_bInitialized.load()) {
        releaseGlobalLock();
        return false;
    }
    return true;
}

void leaveCallbacks() {
    releaseGlobalLock();
}

bool threadsAllowed() {
    return !threadsForbidden() && g_bInitialized.load();
}

// The monitor's state goes with the library: freed at unload, after the last
// C_Finalize ended its thread.
bool s_destroyAtUnload = false;
int s_unloadToken;

}  // namespace

void configureReaderMonitor() {
    KESAPI::MonitorHooks hooks;
    hooks.isInserted = pollReader;
    hooks.enterCallbacks = enterCallbacks;
    hooks.leaveCallbacks = leaveCallbacks;
    hooks.threadsAllowed = threadsAllowed;
    hooks.pollMilliseconds = kPollMilliseconds;
    KESAPI::configureMonitor(hooks);
    if (!s_destroyAtUnload) {
        s_destroyAtUnload = true;
        registerProcessGlobal(&s_unloadToken, [](void*) { KESAPI::destroyMonitor(); });
    }
}

void stopReaderMonitor() {
    KESAPI::shutdownMonitor();
}

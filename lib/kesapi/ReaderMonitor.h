// The reader monitor: one thread that exists only while a listener is
// registered, polls the readers of the registered listeners and calls their
// smartCardRemoved / smartCardInserted.
//
// Locks, in the only order they are ever taken:
//   1. the host's callback lock (MonitorHooks::enterCallbacks), if any;
//   2. the dispatch lock (recursive; held during one round of callbacks, and
//      by stopListening, so a listener is never unregistered mid-callback);
//   3. the registry lock (short; never held while calling anything outside).
// The monitor thread waits for the callback lock holding nothing, so a host
// thread holding that lock may register and unregister listeners freely.
// Only shutdownMonitor() waits for the thread, so it must not be called while
// holding the callback lock.
#ifndef KESAPI_READERMONITOR_H
#define KESAPI_READERMONITOR_H

#include <cstdint>

namespace KESAPI {

struct MonitorHooks {
    // 0 when a card is in the reader, non-zero when none. May throw: the
    // reader is then skipped for that round.
    uint32_t (*isInserted)(const char* reader) = nullptr;
    // Takes the lock under which polls and callbacks run; false skips the round.
    bool (*enterCallbacks)() = nullptr;
    void (*leaveCallbacks)() = nullptr;
    // Asked before starting the thread; false means never start one.
    bool (*threadsAllowed)() = nullptr;
    unsigned pollMilliseconds = 300;
};

// Sets the hooks used from the next round on. Without isInserted no thread starts.
void configureMonitor(const MonitorHooks& hooks);
// One round on the calling thread, as the monitor thread does it: poll, then
// call the listeners whose reader changed. For hosts without threads and tests.
void pollReadersOnce();
// Ends the monitor thread, if any, and waits for it. A later startListening
// starts a new one. Never call it while holding the callback lock.
void shutdownMonitor();
// Ends the thread as shutdownMonitor does and frees the monitor's own state
// when no listener is left; for the host's unload.
void destroyMonitor();
// True while the monitor thread runs.
bool monitorRunning();
// Number of listeners registered.
unsigned registeredListeners();

}  // namespace KESAPI

#endif

#include "ReaderMonitor.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CSmartCardReaderListener.h"
#include "ReaderMonitorImpl.h"

namespace KESAPI {

namespace {

struct Registration {
    CSmartCardReaderListener* listener;
    unsigned long serial;  // tells a listener apart from a later one at the same address
    std::string reader;
    bool present;  // the state the listener last learned
};

struct Monitor {
    std::recursive_mutex dispatch;  // held for one round of callbacks and by unregistration
    std::mutex registry;            // everything below
    std::condition_variable wake;
    std::vector<Registration> listeners;
    MonitorHooks hooks;
    std::thread thread;
    bool running = false;        // the thread is between start and its final unlock
    bool stopRequested = false;  // shutdownMonitor is waiting for the thread
    unsigned long nextSerial = 1;
    unsigned long round = 0;
};

// Made on first use, deleted by destroyMonitor (at unload, with no thread left).
std::mutex s_creation;
Monitor* s_monitor = nullptr;

Monitor& monitor() {
    std::lock_guard<std::mutex> lock(s_creation);
    if (!s_monitor) s_monitor = new Monitor();
    return *s_monitor;
}

Monitor* existingMonitor() {
    std::lock_guard<std::mutex> lock(s_creation);
    return s_monitor;
}

Registration* findLocked(Monitor& m, const CSmartCardReaderListener* listener) {
    for (Registration& r : m.listeners) {
        if (r.listener == listener) return &r;
    }
    return nullptr;
}

void threadMain(Monitor* m);

// Under the registry lock.
void startThreadLocked(Monitor& m) {
    if (m.running || m.stopRequested || !m.hooks.isInserted) return;
    if (m.hooks.threadsAllowed && !m.hooks.threadsAllowed()) return;
    // A previous thread that marked itself finished needs no lock any more, so
    // waiting for it here cannot block on anything we hold.
    if (m.thread.joinable()) m.thread.join();
    m.running = true;
    try {
        m.thread = std::thread(threadMain, &m);
    } catch (...) {
        m.running = false;  // no thread: removals are then noticed by the host's own calls
    }
}

void runRound(Monitor& m) {
    MonitorHooks hooks;
    {
        std::lock_guard<std::mutex> lock(m.registry);
        hooks = m.hooks;
    }
    if (!hooks.isInserted) return;
    if (hooks.enterCallbacks && !hooks.enterCallbacks()) return;
    {
        std::lock_guard<std::recursive_mutex> dispatching(m.dispatch);
        std::vector<Registration> snapshot;
        unsigned long round;
        {
            std::lock_guard<std::mutex> lock(m.registry);
            snapshot = m.listeners;
            round = ++m.round;
        }
        std::map<std::string, int> polled;  // reader -> 1 present, 0 absent, -1 unknown
        for (const Registration& seen : snapshot) {
            auto it = polled.find(seen.reader);
            if (it == polled.end()) {
                int state = -1;
                try {
                    state = hooks.isInserted(seen.reader.c_str()) == 0 ? 1 : 0;
                } catch (...) {
                }
                it = polled.emplace(seen.reader, state).first;
            }
            int state = it->second;
            bool changed = false;
            {
                // A callback earlier in this round may have unregistered it.
                std::lock_guard<std::mutex> lock(m.registry);
                Registration* now = findLocked(m, seen.listener);
                if (!now || now->serial != seen.serial) continue;
                if (state >= 0 && now->present != (state == 1)) {
                    now->present = state == 1;
                    changed = true;
                }
            }
            try {
                if (state < 0) {
                    seen.listener->unableToOpenContext(seen.reader.c_str());
                } else if (changed && state == 1) {
                    seen.listener->smartCardInserted(seen.reader.c_str(), round);
                } else if (changed) {
                    seen.listener->smartCardRemoved(seen.reader.c_str());
                }
            } catch (...) {
            }
        }
    }
    if (hooks.leaveCallbacks) hooks.leaveCallbacks();
}

void pollUntilStopped(Monitor& m) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m.registry);
            auto period = std::chrono::milliseconds(m.hooks.pollMilliseconds);
            m.wake.wait_for(lock, period, [&m] { return m.stopRequested || m.listeners.empty(); });
            if (m.stopRequested || m.listeners.empty()) {
                m.running = false;
                return;
            }
        }
        runRound(m);
    }
}

#ifdef _WIN32
// The thread holds its own reference on the DLL its code lives in and drops
// it as it ends. Unloading while sessions are open then leaves the DLL (and
// the monitor) in place instead of waiting for this thread inside DllMain,
// under the loader lock the ending thread needs too.
void threadMain(Monitor* monitor) {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&pollUntilStopped), &self);
    pollUntilStopped(*monitor);
    if (self) FreeLibraryAndExitThread(self, 0);
}
#else
void threadMain(Monitor* monitor) {
    pollUntilStopped(*monitor);
}
#endif

}  // namespace

namespace detail {

void registerListener(CSmartCardReaderListener* listener, const std::string& reader,
                      bool cardPresent) {
    Monitor& m = monitor();
    std::lock_guard<std::mutex> lock(m.registry);
    if (Registration* r = findLocked(m, listener)) {
        r->reader = reader;
        r->present = cardPresent;
    } else {
        m.listeners.push_back({listener, m.nextSerial++, reader, cardPresent});
    }
    startThreadLocked(m);
}

void unregisterListener(CSmartCardReaderListener* listener) {
    Monitor* existing = existingMonitor();
    if (!existing) return;
    Monitor& m = *existing;
    // Waits for a round in progress on another thread; reentrant for a
    // callback that unregisters on the monitor's own thread.
    std::lock_guard<std::recursive_mutex> dispatching(m.dispatch);
    std::lock_guard<std::mutex> lock(m.registry);
    for (auto it = m.listeners.begin(); it != m.listeners.end(); ++it) {
        if (it->listener == listener) {
            m.listeners.erase(it);
            break;
        }
    }
    if (m.listeners.empty()) m.wake.notify_all();
}

bool isRegistered(const CSmartCardReaderListener* listener) {
    Monitor* existing = existingMonitor();
    if (!existing) return false;
    Monitor& m = *existing;
    std::lock_guard<std::mutex> lock(m.registry);
    return findLocked(m, listener) != nullptr;
}

}  // namespace detail

void configureMonitor(const MonitorHooks& hooks) {
    Monitor& m = monitor();
    std::lock_guard<std::mutex> lock(m.registry);
    m.hooks = hooks;
    if (m.hooks.pollMilliseconds == 0) m.hooks.pollMilliseconds = 300;
}

void pollReadersOnce() {
    runRound(monitor());
}

void shutdownMonitor() {
    Monitor* existing = existingMonitor();
    if (!existing) return;
    Monitor& m = *existing;
    std::thread ending;
    {
        std::lock_guard<std::mutex> lock(m.registry);
        m.stopRequested = true;
        m.wake.notify_all();
        ending = std::move(m.thread);
    }
    if (ending.joinable()) ending.join();
    std::lock_guard<std::mutex> lock(m.registry);
    m.stopRequested = false;
}

void destroyMonitor() {
    shutdownMonitor();
    std::lock_guard<std::mutex> lock(s_creation);
    if (!s_monitor) return;
    {
        std::lock_guard<std::mutex> registry(s_monitor->registry);
        if (!s_monitor->listeners.empty()) return;  // still in use: keep it
    }
    delete s_monitor;
    s_monitor = nullptr;
}

bool monitorRunning() {
    Monitor* existing = existingMonitor();
    if (!existing) return false;
    Monitor& m = *existing;
    std::lock_guard<std::mutex> lock(m.registry);
    return m.running;
}

unsigned registeredListeners() {
    Monitor* existing = existingMonitor();
    if (!existing) return 0;
    Monitor& m = *existing;
    std::lock_guard<std::mutex> lock(m.registry);
    return static_cast<unsigned>(m.listeners.size());
}

}  // namespace KESAPI

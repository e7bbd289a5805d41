// The reader monitor on its own: a scripted isInserted stands in for readers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CSmartCardReaderListener.h"
#include "ReaderMonitor.h"

namespace {

using namespace std::chrono_literals;

std::mutex s_cards;
std::map<std::string, bool> s_present;  // reader -> card in it
std::mutex s_callbackLock;              // stands in for the host's global lock
std::atomic<bool> s_threadsAllowed{true};
std::atomic<int> s_polls{0};

uint32_t isInserted(const char* reader) {
    ++s_polls;
    std::lock_guard<std::mutex> lock(s_cards);
    auto it = s_present.find(reader);
    if (it == s_present.end()) throw 1;  // unknown reader: skipped
    return it->second ? 0 : 1;
}
bool enterCallbacks() {
    s_callbackLock.lock();
    return true;
}
void leaveCallbacks() {
    s_callbackLock.unlock();
}
bool threadsAllowed() {
    return s_threadsAllowed.load();
}

void setCard(const std::string& reader, bool present) {
    std::lock_guard<std::mutex> lock(s_cards);
    s_present[reader] = present;
}

struct Recorder : KESAPI::CSmartCardReaderListener {
    std::mutex mutex;
    std::vector<std::string> events;
    std::atomic<int> busyCallbacks{0};
    std::chrono::milliseconds callbackTime{0};

    ~Recorder() override { stopListening(); }
    void smartCardRemoved(const char* reader) override { record(std::string("removed ") + reader); }
    void smartCardInserted(const char* reader, unsigned long) override {
        record(std::string("inserted ") + reader);
    }
    void record(const std::string& event) {
        ++busyCallbacks;
        std::this_thread::sleep_for(callbackTime);
        {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(event);
        }
        --busyCallbacks;
    }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
};

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 2000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class ReaderMonitor : public ::testing::Test {
protected:
    void SetUp() override {
        KESAPI::MonitorHooks hooks;
        hooks.isInserted = isInserted;
        hooks.enterCallbacks = enterCallbacks;
        hooks.leaveCallbacks = leaveCallbacks;
        hooks.threadsAllowed = threadsAllowed;
        hooks.pollMilliseconds = 50;
        KESAPI::configureMonitor(hooks);
        s_threadsAllowed = true;
        setCard("A", true);
        setCard("B", true);
    }
    void TearDown() override {
        KESAPI::shutdownMonitor();
        EXPECT_EQ(KESAPI::registeredListeners(), 0u);
    }
};

TEST_F(ReaderMonitor, ThreadRunsOnlyWhileAListenerIsRegistered) {
    EXPECT_FALSE(KESAPI::monitorRunning());
    {
        Recorder listener;
        listener.startListening("A", true);
        EXPECT_TRUE(KESAPI::monitorRunning());
        EXPECT_TRUE(listener.isListening());
    }
    EXPECT_TRUE(waitFor([] { return !KESAPI::monitorRunning(); }));
    // And it comes back for the next listener.
    Recorder again;
    again.startListening("A", true);
    EXPECT_TRUE(KESAPI::monitorRunning());
}

TEST_F(ReaderMonitor, ReportsRemovalAndInsertionOnlyToThatReadersListeners) {
    Recorder onA, onB;
    onA.startListening("A", true);
    onB.startListening("B", true);
    setCard("A", false);
    ASSERT_TRUE(waitFor([&] { return onA.seen().size() == 1; }));
    setCard("A", true);
    ASSERT_TRUE(waitFor([&] { return onA.seen().size() == 2; }));
    std::this_thread::sleep_for(200ms);  // no repeats while nothing changes
    EXPECT_EQ(onA.seen(), (std::vector<std::string>{"removed A", "inserted A"}));
    EXPECT_TRUE(onB.seen().empty());
}

TEST_F(ReaderMonitor, ChangeBeforeTheFirstPollIsNotLost) {
    // The listener saw a card; it is gone before the monitor ever looked.
    setCard("A", false);
    Recorder listener;
    listener.startListening("A", true);
    ASSERT_TRUE(waitFor([&] { return !listener.seen().empty(); }));
    EXPECT_EQ(listener.seen()[0], "removed A");
}

TEST_F(ReaderMonitor, NoThreadWhenTheHostForbidsThreads) {
    s_threadsAllowed = false;
    Recorder listener;
    listener.startListening("A", true);
    EXPECT_FALSE(KESAPI::monitorRunning());
    setCard("A", false);
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(listener.seen().empty());
    // The host can still poll on its own thread.
    KESAPI::pollReadersOnce();
    EXPECT_EQ(listener.seen(), (std::vector<std::string>{"removed A"}));
}

TEST_F(ReaderMonitor, CallbacksRunUnderTheCallbackLock) {
    Recorder listener;
    listener.startListening("A", true);
    {
        std::lock_guard<std::mutex> held(s_callbackLock);
        setCard("A", false);
        std::this_thread::sleep_for(200ms);
        EXPECT_TRUE(listener.seen().empty()) << "called back without the lock";
        // Under the lock, a host may unregister without waiting for the monitor.
        Recorder other;
        other.startListening("B", true);
        other.stopListening();
    }
    EXPECT_TRUE(waitFor([&] { return listener.seen().size() == 1; }));
}

TEST_F(ReaderMonitor, StopListeningWaitsForACallbackInProgress) {
    auto* listener = new Recorder();
    listener->callbackTime = 300ms;
    listener->startListening("A", true);
    setCard("A", false);
    ASSERT_TRUE(waitFor([&] { return listener->busyCallbacks.load() == 1; }));
    listener->stopListening();  // from another thread than the monitor's
    EXPECT_EQ(listener->busyCallbacks.load(), 0);
    EXPECT_EQ(listener->seen().size(), 1u);
    delete listener;
}

TEST_F(ReaderMonitor, ShutdownEndsAThreadWaitingForTheCallbackLock) {
    Recorder listener;
    listener.startListening("A", true);
    s_callbackLock.lock();
    std::this_thread::sleep_for(120ms);  // the monitor now waits for the lock
    listener.stopListening();            // the host unregisters under its lock...
    s_callbackLock.unlock();             // ...and waits for the thread only after releasing it
    KESAPI::shutdownMonitor();
    EXPECT_FALSE(KESAPI::monitorRunning());
}

TEST_F(ReaderMonitor, UnknownReaderIsSkippedAndReportedAsNoContext) {
    Recorder listener;
    listener.startListening("no such reader", true);
    ASSERT_TRUE(waitFor([&] { return listener.contextFailures() > 0; }));
    EXPECT_TRUE(listener.seen().empty());
}

}  // namespace

// Eight application threads, each with its own sessions, log in, search,
// sign and create and destroy session objects while the card is pulled out
// and put back at random every few hundred milliseconds (sometimes faster
// than the reader monitor looks). No deadlock (watchdog), no crash, and only
// the answers a removal explains. The test command runs a few seconds;
// QUILLON_STRESS_SECONDS sets another length (scripts/soak-card-swaps.sh).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "ObjectTestSupport.h"
#include "SessionTestSupport.h"

namespace {

using namespace std::chrono_literals;

int stressSeconds() {
    const char* text = std::getenv("QUILLON_STRESS_SECONDS");
    int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 3;
}

class CardSwapStress : public ProviderFixture {
protected:
    // What every call answered, to print and to check against the allowed ones.
    void record(const char* call, CK_RV rv) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_results[std::string(call) + " " + rvName(rv)];
        if (!allowed(call, rv)) m_unexplained.insert(std::string(call) + " " + rvName(rv));
    }
    static bool allowed(const std::string& call, CK_RV rv) {
        // A removal closes the slot's sessions (CKR_SESSION_CLOSED), makes
        // the card call that finds the connection dead answer
        // CKR_DEVICE_REMOVED, and leaves no card for a new session meanwhile.
        static const std::set<CK_RV> removal = {CKR_OK, CKR_SESSION_CLOSED, CKR_DEVICE_REMOVED};
        if (removal.count(rv)) return true;
        // Another thread's session logged the slot in first.
        return call == "login" && rv == CKR_USER_ALREADY_LOGGED_IN;
    }
    std::mutex m_mutex;
    std::map<std::string, int> m_results;
    std::set<std::string> m_unexplained;
};

TEST_F(CardSwapStress, EightThreadsWhileTheCardComesAndGoes) {
    startWithCard();
    cardsim_tieVerificationToConnection(true);
    // A private key on the card for the threads to find and use.
    {
        CK_SESSION_HANDLE setup = openSession();
        login(setup);
        Tmpl key = privateKeyTemplate(true);
        CK_OBJECT_HANDLE h = 0;
        ASSERT_RV(CKR_OK, p11->C_CreateObject(setup, key.get(), key.count(), &h));
        ASSERT_RV(CKR_OK, p11->C_CloseSession(setup));
    }

    const auto length = std::chrono::seconds(stressSeconds());
    std::atomic<bool> stop{false};
    std::atomic<int> finished{0};
    std::atomic<long> rounds{0}, signatures{0};
    auto worker = [&](unsigned seed) {
        std::mt19937 rng(seed);
        while (!stop) {
            CK_SESSION_HANDLE s = 0;
            CK_RV rv = p11->C_OpenSession(m_slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                          nullptr, &s);
            record("open", rv);
            if (rv != CKR_OK) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            for (int i = 0; i < 4 && !stop; ++i) {
                ++rounds;
                record("login", p11->C_Login(s, CKU_USER, pinBytes(kUserPin), 4));
                Tmpl byClass;
                byClass.ulong(CKA_CLASS, CKO_PRIVATE_KEY);
                CK_OBJECT_HANDLE key = 0;
                CK_ULONG n = 0;
                rv = p11->C_FindObjectsInit(s, byClass.get(), byClass.count());
                record("findInit", rv);
                if (rv == CKR_OK) {
                    record("find", p11->C_FindObjects(s, &key, 1, &n));
                    record("findFinal", p11->C_FindObjectsFinal(s));
                }
                if (n == 1) {
                    CK_MECHANISM m = {CKM_SHA1_RSA_PKCS, nullptr, 0};
                    rv = p11->C_SignInit(s, &m, key);
                    record("signInit", rv);
                    if (rv == CKR_OK) {
                        unsigned char data[] = "stress", signature[256];
                        CK_ULONG size = sizeof(signature);
                        rv = p11->C_Sign(s, data, 6, signature, &size);
                        record("sign", rv);
                        if (rv == CKR_OK) ++signatures;
                    }
                }
                Tmpl object = dataTemplate(false, "scratch", "v" + std::to_string(rng()));
                CK_OBJECT_HANDLE h = 0;
                rv = p11->C_CreateObject(s, object.get(), object.count(), &h);
                record("create", rv);
                if (rv == CKR_OK) record("destroy", p11->C_DestroyObject(s, h));
            }
            record("close", p11->C_CloseSession(s));
        }
        ++finished;
    };

    std::vector<std::thread> threads;
    for (unsigned i = 0; i < 8; ++i) threads.emplace_back(worker, 1000 + i);
    std::thread toggler([&] {
        std::mt19937 rng(7);
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + rng() % 300));
            cardsim_removeCard(kReader);
            // Sometimes back within one monitor poll, sometimes after it.
            std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 2 ? 1 : 350));
            cardsim_insertCard(kReader);
        }
        ++finished;
    });

    std::this_thread::sleep_for(length);
    stop = true;
    // Watchdog: a deadlocked provider never lets the threads finish.
    if (!waitUntil([&] { return finished.load() == 9; }, 20s)) {
        ADD_FAILURE() << "threads still running 20 s after the stop: deadlock";
        std::abort();
    }
    for (auto& t : threads) t.join();
    toggler.join();

    for (const auto& r : m_results) std::printf("  %-24s %d\n", r.first.c_str(), r.second);
    EXPECT_TRUE(m_unexplained.empty())
        << "answers no removal explains, e.g. " << *m_unexplained.begin();
    EXPECT_GT(rounds.load(), 0);
    EXPECT_GT(signatures.load(), 0);
    // Every session was closed: the slot's state is gone and its connection too.
    EXPECT_TRUE(waitUntil([] { return cardsim_connectionCount() == 0; }, 2s));
}

}  // namespace

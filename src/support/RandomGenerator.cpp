#include "RandomGenerator.h"

#include <cryptopp/osrng.h>

#include <mutex>

#include "Platform.h"
#include "ProcessGlobal.h"

namespace {

std::mutex s_mutex;
// Plain pointer: no static destructor may run while the host still calls in.
CryptoPP::AutoSeededRandomPool* s_pool = nullptr;
unsigned long s_poolProcess = 0;

// Caller holds s_mutex. A forked child must not repeat its parent's bytes,
// so a change of process gives a freshly seeded pool.
CryptoPP::AutoSeededRandomPool& pool() {
    unsigned long process = platform::processId();
    if (!s_pool) {
        registerProcessGlobal(nullptr, [](void*) {
            delete s_pool;
            s_pool = nullptr;
        });
    }
    if (!s_pool || s_poolProcess != process) {
        delete s_pool;
        s_pool = new CryptoPP::AutoSeededRandomPool();
        s_poolProcess = process;
    }
    return *s_pool;
}

}  // namespace

void generateRandom(unsigned char* out, size_t length) {
    std::lock_guard<std::mutex> lock(s_mutex);
    pool().GenerateBlock(out, length);
}

void mixRandomSeed(const unsigned char* seed, size_t length) {
    if (!seed || !length) return;
    std::lock_guard<std::mutex> lock(s_mutex);
    pool().IncorporateEntropy(seed, length);
}

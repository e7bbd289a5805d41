#include "RandomGenerator.h"

#include <cryptopp/aes.h>
#include <cryptopp/misc.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

#include <cstring>
#include <mutex>

#include "Platform.h"
#include "ProcessGlobal.h"

// AES-256 in counter mode with fast key erasure. The generator holds one key,
// drawn from the operating system. A request encrypts the counter blocks 0, 1,
// 2, ... under that key; the first two blocks become the generator's next key
// before any byte leaves, so nothing kept afterwards can rebuild bytes already
// handed out. A small request is the rest of that keystream. A large one takes
// the next two blocks as a key of its own and runs its keystream after the
// generator's lock is released, so requests in other threads never wait for it.
namespace {

constexpr size_t kKeySize = 32;
constexpr size_t kBlock = CryptoPP::AES::BLOCKSIZE;
// Requests up to this size are served under the generator's lock.
constexpr size_t kInlineLimit = 256;

struct GeneratorState {
    unsigned char key[kKeySize];
    unsigned long forkGeneration;
};

std::mutex s_mutex;
// Plain pointer: no static destructor may run while the host still calls in.
GeneratorState* s_state = nullptr;

// Caller holds s_mutex. A forked child must not repeat its parent's bytes, so
// a change of process gives a key freshly drawn from the operating system.
GeneratorState& state() {
    unsigned long generation = platform::forkGeneration();
    if (!s_state) {
        s_state = new GeneratorState();
        registerProcessGlobal(nullptr, [](void*) {
            CryptoPP::SecureWipeArray(s_state->key, kKeySize);
            delete s_state;
            s_state = nullptr;
        });
        CryptoPP::OS_GenerateRandomBlock(false, s_state->key, kKeySize);
        s_state->forkGeneration = generation;
    } else if (s_state->forkGeneration != generation) {
        CryptoPP::OS_GenerateRandomBlock(false, s_state->key, kKeySize);
        s_state->forkGeneration = generation;
    }
    return *s_state;
}

// Under the generator's lock: replaces its key and writes the `length` bytes
// of keystream that follow the new key (at most kInlineLimit).
void drawFromKey(unsigned char* out, size_t length) {
    alignas(16) unsigned char stream[kKeySize + kInlineLimit];
    size_t blocks = (kKeySize + length + kBlock - 1) / kBlock;
    std::memset(stream, 0, blocks * kBlock);
    for (size_t i = 0; i < blocks; ++i) {
        unsigned char* counter = stream + i * kBlock;
        for (size_t b = 0; b < sizeof(size_t); ++b)
            counter[kBlock - 1 - b] = static_cast<unsigned char>(i >> (8 * b));
    }
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        GeneratorState& s = state();
        CryptoPP::AES::Encryption aes(s.key, kKeySize);  // wipes its schedule when it goes
        aes.AdvancedProcessBlocks(stream, nullptr, stream, blocks * kBlock,
                                  CryptoPP::BlockTransformation::BT_AllowParallel);
        std::memcpy(s.key, stream, kKeySize);
    }
    std::memcpy(out, stream + kKeySize, length);
    CryptoPP::SecureWipeArray(stream, blocks * kBlock);
}

}  // namespace

void generateRandom(unsigned char* out, size_t length) {
    if (!out || !length) return;
    if (length <= kInlineLimit) {
        drawFromKey(out, length);
        return;
    }
    unsigned char key[kKeySize];
    drawFromKey(key, kKeySize);
    {
        const unsigned char iv[kBlock] = {};
        CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption keystream(key, kKeySize, iv);
        keystream.GenerateBlock(out, length);
    }
    CryptoPP::SecureWipeArray(key, kKeySize);
}

void mixRandomSeed(const unsigned char* seed, size_t length) {
    if (!seed || !length) return;
    std::lock_guard<std::mutex> lock(s_mutex);
    GeneratorState& s = state();
    // The new key depends on the old one and on the seed: a seed can only add
    // to what an observer does not know.
    CryptoPP::SHA256 hash;
    static_assert(CryptoPP::SHA256::DIGESTSIZE == kKeySize, "the key is one SHA-256 digest");
    hash.Update(s.key, kKeySize);
    hash.Update(seed, length);
    hash.Final(s.key);
}

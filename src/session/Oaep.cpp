#include "Oaep.h"

#include <cstring>
#include <memory>
#include <vector>

#include "Digest.h"
#include "Mgf1.h"
#include "RandomGenerator.h"

namespace {

void labelHash(const OaepParameters& params, unsigned char* out) {
    std::unique_ptr<CryptoPP::HashTransformation> h = params.hash->create();
    h->CalculateDigest(out, params.label.getContent(), params.label.getLength());
}

// All ones when a == b, else 0, without a branch on the values.
size_t equalMask(size_t a, size_t b) {
    size_t x = a ^ b;
    // x | -x has its top bit set exactly when x != 0.
    return ((x | (0 - x)) >> (sizeof(size_t) * 8 - 1)) - 1;
}

// Wipes on scope exit: the decoded block is plaintext.
struct WipedBuffer {
    explicit WipedBuffer(size_t n) : bytes(n) {}
    ~WipedBuffer() {
        volatile unsigned char* p = bytes.data();
        for (size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
    }
    std::vector<unsigned char> bytes;
};

}  // namespace

CK_RV oaepEncode(const OaepParameters& params, size_t k, const unsigned char* message,
                 size_t length, OrlByteArray& out, const unsigned char* seed) {
    const size_t hLen = params.hash->digestSize;
    if (k < 2 * hLen + 2 || length > k - 2 * hLen - 2) return CKR_DATA_LEN_RANGE;
    unsigned long start = out.getLength();
    out.setLength(start + k);  // zero-filled: Y and PS are zeros already
    unsigned char* em = out.getContent() + start;
    unsigned char* maskedSeed = em + 1;
    unsigned char* db = em + 1 + hLen;
    const size_t dbLen = k - hLen - 1;
    // DB = lHash || PS || 01 || M
    labelHash(params, db);
    db[dbLen - length - 1] = 0x01;
    if (length) std::memcpy(db + dbLen - length, message, length);
    if (seed) {
        std::memcpy(maskedSeed, seed, hLen);
    } else {
        generateRandom(maskedSeed, hLen);
    }
    mgf1Xor(*params.mgfHash, maskedSeed, hLen, db, dbLen);
    mgf1Xor(*params.mgfHash, db, dbLen, maskedSeed, hLen);
    return CKR_OK;
}

CK_RV oaepDecode(const OaepParameters& params, const unsigned char* block, size_t k,
                 OrlByteArray& out) {
    const size_t hLen = params.hash->digestSize;
    // Public facts (the key and parameters), not the block: a plain test is fine.
    if (k < 2 * hLen + 2) return CKR_ENCRYPTED_DATA_INVALID;
    WipedBuffer em(k);
    std::memcpy(em.bytes.data(), block, k);
    unsigned char* seed = em.bytes.data() + 1;
    unsigned char* db = em.bytes.data() + 1 + hLen;
    const size_t dbLen = k - hLen - 1;
    mgf1Xor(*params.mgfHash, db, dbLen, seed, hLen);
    mgf1Xor(*params.mgfHash, seed, hLen, db, dbLen);

    unsigned char lHash[kMaxDigestSize];
    labelHash(params, lHash);
    size_t bad = em.bytes[0];
    for (size_t i = 0; i < hLen; ++i) bad |= static_cast<size_t>(db[i] ^ lHash[i]);
    // After lHash: zeros, then 01, then the message. Look at every byte.
    size_t found = 0;  // all ones once the 01 has been seen
    size_t start = 0;  // index of the message in DB
    for (size_t i = hLen; i < dbLen; ++i) {
        const size_t isZero = equalMask(db[i], 0);
        const size_t isOne = equalMask(db[i], 1);
        const size_t first = ~found & isOne;
        start |= first & (i + 1);
        // Before the 01 only zeros may stand.
        bad |= ~found & ~isZero & ~isOne;
        found |= isOne;
    }
    bad |= ~found;
    if (bad != 0) return CKR_ENCRYPTED_DATA_INVALID;
    out.append(db + start, static_cast<unsigned>(dbLen - start));
    return CKR_OK;
}

#include "Pss.h"

#include <cstring>
#include <memory>
#include <vector>

#include "Digest.h"
#include "Mgf1.h"
#include "OrlByteArray.h"
#include "RandomGenerator.h"

namespace {

size_t emLength(size_t modBits) {
    return modBits == 0 ? 0 : (modBits - 1 + 7) / 8;
}

// H = Hash(00 x 8 || mHash || salt).
void hashOfMPrime(const DigestAlgorithm& hash, const unsigned char* mHash, size_t hLen,
                  const unsigned char* salt, size_t sLen, unsigned char* out) {
    static const unsigned char kZeros[8] = {0};
    std::unique_ptr<CryptoPP::HashTransformation> h = hash.create();
    h->Update(kZeros, sizeof kZeros);
    h->Update(mHash, hLen);
    if (sLen) h->Update(salt, sLen);
    h->Final(out);
}

// The bits of the first byte beyond emBits = modBits - 1.
unsigned char topMask(size_t modBits, size_t emLen) {
    const size_t unused = 8 * emLen - (modBits - 1);
    return static_cast<unsigned char>(0xFF >> unused);
}

}  // namespace

bool pssFits(const PssParameters& params, size_t modBits) {
    const size_t hLen = params.hash->digestSize;
    const size_t emLen = emLength(modBits);
    return emLen >= hLen + 2 && params.saltLength <= emLen - hLen - 2;
}

CK_RV pssEncode(const PssParameters& params, const unsigned char* mHash, size_t mHashLength,
                size_t modBits, OrlByteArray& out, const unsigned char* salt) {
    const size_t hLen = params.hash->digestSize;
    const size_t sLen = params.saltLength;
    if (mHashLength != hLen) return CKR_DATA_LEN_RANGE;
    if (!pssFits(params, modBits)) return CKR_MECHANISM_PARAM_INVALID;
    const size_t emLen = emLength(modBits);
    const size_t k = (modBits + 7) / 8;

    std::vector<unsigned char> saltBytes(sLen);
    if (sLen) {
        if (salt) {
            std::memcpy(saltBytes.data(), salt, sLen);
        } else {
            generateRandom(saltBytes.data(), sLen);
        }
    }
    unsigned long start = out.getLength();
    out.setLength(start + k);  // zero-filled
    unsigned char* em = out.getContent() + start + (k - emLen);
    // EM = maskedDB || H || BC, DB = PS (zeros) || 01 || salt.
    const size_t dbLen = emLen - hLen - 1;
    unsigned char* db = em;
    unsigned char* h = em + dbLen;
    hashOfMPrime(*params.hash, mHash, hLen, saltBytes.data(), sLen, h);
    db[dbLen - sLen - 1] = 0x01;
    if (sLen) std::memcpy(db + dbLen - sLen, saltBytes.data(), sLen);
    mgf1Xor(*params.mgfHash, h, hLen, db, dbLen);
    db[0] &= topMask(modBits, emLen);
    em[emLen - 1] = 0xBC;
    return CKR_OK;
}

bool pssVerify(const PssParameters& params, const unsigned char* mHash, size_t mHashLength,
               const unsigned char* block, size_t blockLength, size_t modBits) {
    const size_t hLen = params.hash->digestSize;
    const size_t sLen = params.saltLength;
    const size_t emLen = emLength(modBits);
    const size_t k = (modBits + 7) / 8;
    if (mHashLength != hLen || blockLength != k || !pssFits(params, modBits)) return false;
    // A block one byte longer than emLen starts with a zero byte.
    for (size_t i = 0; i < k - emLen; ++i)
        if (block[i] != 0) return false;
    const unsigned char* em = block + (k - emLen);
    if (em[emLen - 1] != 0xBC) return false;
    const unsigned char mask = topMask(modBits, emLen);
    if (em[0] & ~mask) return false;

    const size_t dbLen = emLen - hLen - 1;
    std::vector<unsigned char> db(em, em + dbLen);
    const unsigned char* h = em + dbLen;
    mgf1Xor(*params.mgfHash, h, hLen, db.data(), dbLen);
    db[0] &= mask;
    // PS is all zeros, then 01, then exactly sLen bytes of salt.
    const size_t psLen = dbLen - sLen - 1;
    for (size_t i = 0; i < psLen; ++i)
        if (db[i] != 0) return false;
    if (db[psLen] != 0x01) return false;

    unsigned char expected[kMaxDigestSize];
    hashOfMPrime(*params.hash, mHash, hLen, db.data() + psLen + 1, sLen, expected);
    unsigned char diff = 0;
    for (size_t i = 0; i < hLen; ++i) diff |= static_cast<unsigned char>(expected[i] ^ h[i]);
    return diff == 0;
}

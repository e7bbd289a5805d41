// DES, triple-DES and AES in ECB and CBC mode without padding: the cipher
// state of one symmetric encryption or decryption.
#ifndef QUILLON_SESSION_SYMMETRICCIPHER_H
#define QUILLON_SESSION_SYMMETRICCIPHER_H

#include <cstddef>
#include <memory>

#include "cryptoki.h"

namespace CryptoPP {
class StreamTransformation;
}

struct SymmetricMechanism {
    CK_MECHANISM_TYPE mechanism;
    CK_KEY_TYPE keyType;  // CKK_DES, CKK_DES3 or CKK_AES
    size_t blockSize;     // 8 or 16; also the IV length of the CBC modes
    bool cbc;
};

// The entry of a symmetric mechanism, or null for any other mechanism.
const SymmetricMechanism* findSymmetricMechanism(CK_MECHANISM_TYPE mechanism);

class CSymmetricCipher {
public:
    // The Crypto++ mode object for the key (and, for CBC, the IV of one block).
    // A key of a length the cipher refuses throws Crypto++'s InvalidKeyLength.
    CSymmetricCipher(const SymmetricMechanism& mechanism, bool encrypt, const unsigned char* key,
                     size_t keyLength, const unsigned char* iv);
    ~CSymmetricCipher();
    CSymmetricCipher(const CSymmetricCipher&) = delete;
    CSymmetricCipher& operator=(const CSymmetricCipher&) = delete;

    const SymmetricMechanism& mechanism() const { return m_mechanism; }
    size_t blockSize() const { return m_mechanism.blockSize; }

    // Processes a whole number of blocks in one call (the result equals
    // block-by-block processing); CBC chaining carries over to the next call.
    // `out` receives `length` bytes and may be `in` itself.
    // CKR_KEY_SIZE_RANGE, with nothing processed, when length is not a
    // multiple of the block size.
    CK_RV process(unsigned char* out, const unsigned char* in, size_t length);

private:
    const SymmetricMechanism& m_mechanism;
    std::unique_ptr<CryptoPP::StreamTransformation> m_pMode;
};

#endif

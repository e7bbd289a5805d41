// A CBC cipher with PKCS#7 padding (CKM_AES_CBC_PAD): parts of any length.
// Encryption delivers each block as soon as it is full and the padding block
// at the end. Decryption holds back the last full block until the end, since
// only then is it known to carry the padding, which is checked and removed.
#ifndef QUILLON_SESSION_PADDEDCIPHER_H
#define QUILLON_SESSION_PADDEDCIPHER_H

#include <cstddef>
#include <memory>

#include "CryptoOutput.h"
#include "SymmetricCipher.h"
#include "cryptoki.h"

// The largest block a padded cipher holds back (AES).
constexpr size_t kMaxPaddedBlock = 16;

class CPaddedCipher {
public:
    // `cipher` is the unpadded CBC cipher for the key and IV.
    CPaddedCipher(std::unique_ptr<CSymmetricCipher> cipher, bool encrypt);
    ~CPaddedCipher();
    CPaddedCipher(const CPaddedCipher&) = delete;
    CPaddedCipher& operator=(const CPaddedCipher&) = delete;

    // What update would deliver for `length` more bytes, and what final
    // delivers at most; both without changing anything.
    size_t updateLength(size_t length) const;
    size_t finalLength() const;

    void update(const unsigned char* in, size_t length, COutput& out);
    // Encryption: the last block with its padding. Decryption: the last block
    // without its padding;
    //   CKR_ENCRYPTED_DATA_LEN_RANGE  the ciphertext was not whole blocks
    //   CKR_ENCRYPTED_DATA_INVALID    the padding is wrong (any fault alike)
    CK_RV final(COutput& out);

private:
    std::unique_ptr<CSymmetricCipher> m_pCipher;
    bool m_bEncrypt;
    size_t m_blockSize;
    unsigned char m_pending[kMaxPaddedBlock];  // at most one block; up to a block held back
    size_t m_pendingLength;
};

#endif

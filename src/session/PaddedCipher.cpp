#include "PaddedCipher.h"

#include <cstring>

namespace {

// All ones when a < b (both below 256), else 0, without a branch.
unsigned lessMask(unsigned a, unsigned b) {
    return 0u - ((a - b) >> 31);
}

void wipe(unsigned char* p, size_t n) {
    volatile unsigned char* v = p;
    for (size_t i = 0; i < n; ++i) v[i] = 0;
}

}  // namespace

CPaddedCipher::CPaddedCipher(std::unique_ptr<CSymmetricCipher> cipher, bool encrypt)
    : m_pCipher(std::move(cipher)),
      m_bEncrypt(encrypt),
      m_blockSize(m_pCipher->blockSize()),
      m_pending(),
      m_pendingLength(0) {}

CPaddedCipher::~CPaddedCipher() {
    wipe(m_pending, sizeof m_pending);
}

size_t CPaddedCipher::updateLength(size_t length) const {
    const size_t total = m_pendingLength + length;
    if (m_bEncrypt) return total - total % m_blockSize;
    // Decryption keeps 1 to 16 bytes back (a whole block when the total fills blocks).
    if (total == 0) return 0;
    return (total - 1) / m_blockSize * m_blockSize;
}

size_t CPaddedCipher::finalLength() const {
    return m_bEncrypt ? m_blockSize : m_blockSize - 1;
}

void CPaddedCipher::update(const unsigned char* in, size_t length, COutput& out) {
    size_t deliver = updateLength(length);
    // First the held bytes completed to a block, then whole blocks straight from the input.
    if (deliver > 0 && m_pendingLength > 0) {
        const size_t fill = m_blockSize - m_pendingLength;
        std::memcpy(m_pending + m_pendingLength, in, fill);
        m_pCipher->process(out.reserve(m_blockSize), m_pending, m_blockSize);
        in += fill;
        length -= fill;
        deliver -= m_blockSize;
        m_pendingLength = 0;
    }
    if (deliver > 0) {
        m_pCipher->process(out.reserve(deliver), in, deliver);
        in += deliver;
        length -= deliver;
    }
    std::memcpy(m_pending + m_pendingLength, in, length);
    m_pendingLength += length;
}

CK_RV CPaddedCipher::final(COutput& out) {
    if (m_bEncrypt) {
        const unsigned char pad = static_cast<unsigned char>(m_blockSize - m_pendingLength);
        std::memset(m_pending + m_pendingLength, pad, pad);
        m_pCipher->process(out.reserve(m_blockSize), m_pending, m_blockSize);
        m_pendingLength = 0;
        return CKR_OK;
    }
    if (m_pendingLength != m_blockSize) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    unsigned char block[16];
    m_pCipher->process(block, m_pending, m_blockSize);
    m_pendingLength = 0;
    // The pad value n must be 1..block size and the last n bytes all n. Every
    // byte is looked at whatever the value, so the answer's timing tells nothing.
    const unsigned n = block[m_blockSize - 1];
    unsigned bad = ~lessMask(0, n) | ~lessMask(n, static_cast<unsigned>(m_blockSize) + 1);
    for (size_t i = 0; i < m_blockSize; ++i) {
        const unsigned inPad = lessMask(static_cast<unsigned>(m_blockSize - 1 - i), n);
        bad |= inPad & (block[i] ^ n);
    }
    CK_RV rv = CKR_ENCRYPTED_DATA_INVALID;
    if (bad == 0) {
        out.append(block, m_blockSize - n);
        rv = CKR_OK;
    }
    wipe(block, sizeof block);
    return rv;
}

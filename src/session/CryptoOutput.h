// Where an operation writes its output. Bulk output (a symmetric part of a
// megabyte) goes straight into the application's buffer when it has room, so
// nothing is copied twice; when the buffer is too small the output goes to a
// scratch array instead, the data is still processed (cipher chaining moves
// on), and the operation keeps that output for the caller's next call
// (COperationState::produceOutput).
#ifndef QUILLON_SESSION_CRYPTOOUTPUT_H
#define QUILLON_SESSION_CRYPTOOUTPUT_H

#include <cstddef>
#include <cstring>

#include "OrlByteArray.h"

class COutput {
public:
    // Output into the caller's buffer of `capacity` bytes.
    COutput(unsigned char* buffer, size_t capacity)
        : m_pBuffer(buffer), m_capacity(capacity), m_length(0), m_pArray(nullptr) {}
    // Output appended to an array (the session operations' own callers).
    explicit COutput(OrlByteArray& array)
        : m_pBuffer(nullptr), m_capacity(0), m_length(0), m_pArray(&array) {}
    COutput(const COutput&) = delete;
    COutput& operator=(const COutput&) = delete;

    // Room for n more bytes, to be written by the caller.
    unsigned char* reserve(size_t n) {
        if (!m_pArray && m_length + n <= m_capacity) {
            unsigned char* p = m_pBuffer + m_length;
            m_length += n;
            return p;
        }
        if (!m_pArray) spill();
        unsigned long start = m_pArray->getLength();
        m_pArray->setLength(start + n);
        m_length += n;
        return m_pArray->getContent() + start;
    }

    void append(const unsigned char* data, size_t n) {
        if (n) std::memcpy(reserve(n), data, n);
    }

    // Bytes produced so far.
    size_t length() const { return m_length; }
    // True when the caller's buffer could not hold the output.
    bool overflowed() const { return m_pBuffer == nullptr && m_pArray == &m_scratch; }
    // The whole output once overflowed (what fitted was copied here as well).
    OrlByteArray& spilledOutput() { return m_scratch; }

private:
    // The caller's buffer is too small: carry on in the scratch array.
    void spill() {
        m_scratch.removeAll();
        m_scratch.append(m_pBuffer, static_cast<unsigned>(m_length));
        m_pBuffer = nullptr;
        m_capacity = 0;
        m_pArray = &m_scratch;
    }

    unsigned char* m_pBuffer;
    size_t m_capacity;
    size_t m_length;
    OrlByteArray* m_pArray;
    OrlByteArray m_scratch;
};

#endif

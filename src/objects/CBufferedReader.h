// Reads the directory byte string in order. Reading never goes past the end:
// a short read copies what is left and says how much that was.
#ifndef QUILLON_OBJECTS_CBUFFEREDREADER_H
#define QUILLON_OBJECTS_CBUFFEREDREADER_H

#include <cstdint>

#include "OrlByteArray.h"

class CBufferedReader {
public:
    // Keeps a private copy of the bytes; an empty array gives an empty reader.
    explicit CBufferedReader(const OrlByteArray& bytes);
    CBufferedReader(const unsigned char* data, uint32_t length);
    ~CBufferedReader();
    CBufferedReader(const CBufferedReader&) = delete;
    CBufferedReader& operator=(const CBufferedReader&) = delete;

    // Copies min(n, bytes left) bytes to destination and advances by that count.
    uint32_t read(void* destination, uint32_t n);

    uint32_t remaining() const { return m_ulLength - m_ulPosition; }
    uint32_t position() const { return m_ulPosition; }
    // The bytes the reader was made from.
    const unsigned char* data() const { return m_pData; }

private:
    unsigned char* m_pData;
    uint32_t m_ulLength;
    uint32_t m_ulPosition = 0;
};

#endif

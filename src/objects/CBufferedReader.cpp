#include "CBufferedReader.h"

#include <cstring>

CBufferedReader::CBufferedReader(const OrlByteArray& bytes)
    : CBufferedReader(bytes.getContent(), static_cast<uint32_t>(bytes.getLength())) {}

CBufferedReader::CBufferedReader(const unsigned char* data, uint32_t length)
    : m_pData(length ? new unsigned char[length] : nullptr), m_ulLength(data ? length : 0) {
    if (m_ulLength) std::memcpy(m_pData, data, m_ulLength);
}

CBufferedReader::~CBufferedReader() {
    delete[] m_pData;
}

uint32_t CBufferedReader::read(void* destination, uint32_t n) {
    uint32_t count = n < remaining() ? n : remaining();
    if (count) std::memcpy(destination, m_pData + m_ulPosition, count);
    m_ulPosition += count;
    return count;
}

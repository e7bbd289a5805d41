#include "OrlByteArray.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

namespace {

// Zeroes through a volatile pointer: a plain memset before free may be dropped.
void secureZero(unsigned char* p, unsigned long n) {
    volatile unsigned char* v = p;
    for (unsigned long i = 0; i < n; ++i) v[i] = 0;
}

// Length after adding n bytes; a total past the limit throws before anything changes.
unsigned long grownLength(unsigned long length, unsigned long long n) {
    if (n > OrlByteArray::kMaxLength - length) throw std::bad_alloc();
    return static_cast<unsigned long>(length + n);
}

}  // namespace

OrlByteArray::OrlByteArray() : m_data(nullptr), m_length(0), m_capacity(0) {}

OrlByteArray::OrlByteArray(const unsigned char* data, unsigned long n) : OrlByteArray() {
    if (n) {
        grow(n);
        if (data)
            std::memcpy(m_data, data, n);
        else
            std::memset(m_data, 0, n);
        m_length = n;
    }
}

OrlByteArray::OrlByteArray(const OrlByteArray& other)
    : OrlByteArray(other.m_data, other.m_length) {}

OrlByteArray::OrlByteArray(unsigned long n) : OrlByteArray() {
    setLength(n);
}

OrlByteArray& OrlByteArray::operator=(const OrlByteArray& other) {
    if (this != &other) {
        m_length = 0;
        append(other);
    }
    return *this;
}

OrlByteArray::~OrlByteArray() {
    if (m_data) secureZero(m_data, m_capacity);  // values may be key material
    std::free(m_data);
}

void OrlByteArray::grow(unsigned long needed) {
    if (needed <= m_capacity) return;
    if (needed > kMaxLength) throw std::bad_alloc();
    // Geometric, for amortised O(1) appends; computed in 64 bits and capped,
    // so it ends also for a need near the limit.
    unsigned long long capacity = m_capacity < 16 ? 16 : m_capacity;
    while (capacity < needed) capacity += capacity / 2 + 1;
    if (capacity > kMaxLength) capacity = kMaxLength;
    auto* data = static_cast<unsigned char*>(std::malloc(capacity));
    if (!data) throw std::bad_alloc();
    if (m_length) std::memcpy(data, m_data, m_length);
    if (m_data) secureZero(m_data, m_capacity);
    std::free(m_data);
    m_data = data;
    m_capacity = static_cast<unsigned long>(capacity);
}

void OrlByteArray::append(unsigned char b) {
    grow(grownLength(m_length, 1));
    m_data[m_length++] = b;
}

void OrlByteArray::append(const unsigned char* data, unsigned int n) {
    if (!n || !data) return;
    const unsigned long needed = grownLength(m_length, n);
    // Growing frees the old buffer: bytes taken from it are copied out first.
    std::less<const unsigned char*> before;
    if (needed > m_capacity && m_data && !before(data, m_data) &&
        before(data, m_data + m_capacity)) {
        OrlByteArray copy(data, n);
        append(copy);
        return;
    }
    grow(needed);
    std::memmove(m_data + m_length, data, n);
    m_length += n;
}

void OrlByteArray::append(const OrlByteArray& other) {
    if (&other == this) {
        OrlByteArray copy(other);
        append(copy);
        return;
    }
    if (!other.m_length) return;
    grow(grownLength(m_length, other.m_length));
    std::memcpy(m_data + m_length, other.m_data, other.m_length);
    m_length += other.m_length;
}

void OrlByteArray::ensureCapacity(unsigned long n) {
    grow(n);
}

void OrlByteArray::removeAll() {
    m_length = 0;
}

void OrlByteArray::wipe() {
    if (m_data) secureZero(m_data, m_capacity);
    m_length = 0;
}

void OrlByteArray::setLength(unsigned long n) {
    grow(n);
    if (n > m_length) std::memset(m_data + m_length, 0, n - m_length);
    m_length = n;
}

const char* OrlByteArray::toHexString() {
    return toHexString(-1);
}

const char* OrlByteArray::toHexString(int maxBytes) {
    static const char digits[] = "0123456789ABCDEF";
    unsigned long shown = m_length;
    if (maxBytes >= 0 && static_cast<unsigned long>(maxBytes) < shown) shown = maxBytes;
    m_hex.clear();
    m_hex.reserve(shown * 2 + 3);
    for (unsigned long i = 0; i < shown; ++i) {
        m_hex.push_back(digits[m_data[i] >> 4]);
        m_hex.push_back(digits[m_data[i] & 15]);
    }
    if (shown < m_length) m_hex += "...";
    return m_hex.c_str();
}

bool OrlByteArray::operator==(const OrlByteArray& other) const {
    return m_length == other.m_length &&
           (!m_length || !std::memcmp(m_data, other.m_data, m_length));
}

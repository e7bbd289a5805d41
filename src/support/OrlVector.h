// Growable array of plain values. Capacity starts at 50 and then grows by
// exactly one element per insertion into a full vector. A bad index raises
// OrlIndexError (code 0xC0001001) and changes nothing.
#ifndef QUILLON_SUPPORT_ORLVECTOR_H
#define QUILLON_SUPPORT_ORLVECTOR_H

#include <cstdint>
#include <cstring>
#include <type_traits>

struct OrlIndexError {
    static constexpr uint32_t kCode = 0xC0001001u;
    uint32_t code = kCode;
};

template <typename T>
class OrlVector {
    static_assert(std::is_trivially_copyable<T>::value, "OrlVector holds plain values");

public:
    OrlVector() : m_data(new T[kInitialCapacity]()), m_capacity(kInitialCapacity) {}
    OrlVector(const OrlVector&) = delete;
    OrlVector& operator=(const OrlVector&) = delete;

    virtual ~OrlVector() {
        removeAll();
        delete[] m_data;
    }

    virtual void setElementAt(const T& value, uint32_t index) {
        check(index < m_size);
        m_data[index] = value;
    }

    virtual void removeElementAt(uint32_t index) {
        check(index < m_size);
        for (uint32_t i = index; i + 1 < m_size; ++i) m_data[i] = m_data[i + 1];
        m_data[m_size - 1] = T();
        --m_size;
    }

    virtual void insertElementAt(const T& value, uint32_t index) {
        check(index <= m_size);
        if (m_size == m_capacity) ensureCapacity(m_size + 1);
        for (uint32_t i = m_size; i > index; --i) m_data[i] = m_data[i - 1];
        m_data[index] = value;
        ++m_size;
    }

    virtual void addElement(const T& value) { insertElementAt(value, m_size); }

    virtual bool removeElement(const T& value) {
        int32_t index = indexOf(value, 0);
        if (index < 0) return false;
        removeElementAt(static_cast<uint32_t>(index));
        return true;
    }

    virtual void removeAll() {
        while (m_size > 0) removeElementAt(m_size - 1);
    }

    T elementAt(uint32_t index) const {
        check(index < m_size);
        return m_data[index];
    }

    int32_t indexOf(const T& value, uint32_t start) const {
        for (uint32_t i = start; i < m_size; ++i) {
            if (m_data[i] == value) return static_cast<int32_t>(i);
        }
        return -1;
    }

    uint32_t size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    uint32_t capacity() const { return m_capacity; }

    void ensureCapacity(uint32_t n) {
        if (n <= m_capacity) return;
        T* data = new T[n]();
        for (uint32_t i = 0; i < m_size; ++i) data[i] = m_data[i];
        delete[] m_data;
        m_data = data;
        m_capacity = n;
    }

private:
    static constexpr uint32_t kInitialCapacity = 50;

    static void check(bool ok) {
        if (!ok) throw OrlIndexError();
    }

    T* m_data;
    uint32_t m_capacity;
    uint32_t m_size = 0;
};

#endif

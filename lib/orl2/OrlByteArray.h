// Growable byte buffer shared by the provider and the card-access library.
#ifndef ORL2_ORLBYTEARRAY_H
#define ORL2_ORLBYTEARRAY_H

#include <string>

class OrlByteArray {
public:
    // Longest array: lengths and their sums stay below 2^32, so no length
    // arithmetic wraps where unsigned long is 32 bits (Windows). Growing past
    // it throws std::bad_alloc.
    static constexpr unsigned long kMaxLength = 0x7FFFFFFFul;

    OrlByteArray();
    OrlByteArray(const unsigned char* data, unsigned long n);
    OrlByteArray(const OrlByteArray& other);
    // Holds n zero bytes that callers may write through getContent().
    explicit OrlByteArray(unsigned long n);
    OrlByteArray& operator=(const OrlByteArray& other);
    virtual ~OrlByteArray();

    void append(unsigned char b);
    // data may point into this array itself.
    void append(const unsigned char* data, unsigned int n);
    void append(const OrlByteArray& other);

    unsigned char* getContent() { return m_data; }
    const unsigned char* getContent() const { return m_data; }
    unsigned long getLength() const { return m_length; }

    // Reserves room without changing the length.
    void ensureCapacity(unsigned long n);
    // Empties the array; the room stays reserved.
    void removeAll();
    // Empties the array and zeroes all its room: for plaintext and key bytes.
    void wipe();
    // Sets the length, zero-filling any new bytes.
    void setLength(unsigned long n);

    // Hex text of the bytes; valid until the array next changes.
    const char* toHexString();
    // At most maxBytes bytes, followed by "..." when there are more.
    const char* toHexString(int maxBytes);

    bool operator==(const OrlByteArray& other) const;
    bool operator!=(const OrlByteArray& other) const { return !(*this == other); }

private:
    void grow(unsigned long needed);

    unsigned char* m_data;
    unsigned long m_length;
    unsigned long m_capacity;
    std::string m_hex;
};

#endif

// Collects bytes in call order and hands them over in one piece.
#ifndef ORL2_ORLBUFFEREDWRITER_H
#define ORL2_ORLBUFFEREDWRITER_H

#include "OrlByteArray.h"

class OrlBufferedWriter {
public:
    void write(unsigned char b) { m_buffer.append(b); }
    void write(const unsigned char* data, unsigned int n) { m_buffer.append(data, n); }
    void write(const OrlByteArray& data) { m_buffer.append(data); }
    // Appends everything written so far; bytes already in `out` stay in front.
    void getContent(OrlByteArray& out) const { out.append(m_buffer); }
    unsigned long getLength() const { return m_buffer.getLength(); }

private:
    OrlByteArray m_buffer;
};

#endif

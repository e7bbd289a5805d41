#include "DirectoryCodec.h"

#include <cstring>

namespace dir {

void putU8(OrlBufferedWriter& w, unsigned value) {
    w.write(static_cast<unsigned char>(value & 0xFF));
}

void putU16(OrlBufferedWriter& w, unsigned value) {
    putU8(w, value >> 8);
    putU8(w, value);
}

void putShortText(OrlBufferedWriter& w, const std::string* text) {
    size_t n = text ? text->size() : 0;
    if (n > kMaxShortText) n = kMaxShortText;
    putU8(w, static_cast<unsigned>(n));
    if (n) w.write(reinterpret_cast<const unsigned char*>(text->data()), static_cast<unsigned>(n));
}

void putLongBytes(OrlBufferedWriter& w, const OrlByteArray* bytes) {
    unsigned long n = bytes ? bytes->getLength() : 0;
    if (n > kMaxLongBytes) n = kMaxLongBytes;
    putU16(w, static_cast<unsigned>(n));
    if (n) w.write(bytes->getContent(), static_cast<unsigned>(n));
}

void putDate(OrlBufferedWriter& w, const CK_DATE* date) {
    if (!date) {
        putU8(w, 0);
        return;
    }
    putU8(w, sizeof(CK_DATE));
    w.write(reinterpret_cast<const unsigned char*>(date), sizeof(CK_DATE));
}

bool getU8(CBufferedReader& r, unsigned char& value) {
    return r.read(&value, 1) == 1;
}

uint32_t getU16(CBufferedReader& r, uint16_t& value) {
    unsigned char b[2] = {0, 0};
    uint32_t n = r.read(b, 2);
    if (n) value = static_cast<uint16_t>(b[0] << 8 | b[1]);
    return n;
}

void getShortText(CBufferedReader& r, OwnedText& text, bool absentWhenEmpty) {
    unsigned char n = 0;
    if (!getU8(r, n)) return;
    if (n == 0) {
        if (!absentWhenEmpty) text.reset(new std::string());
        return;
    }
    char buffer[256];
    uint32_t got = r.read(buffer, n);
    // Cut off before its first byte: read as a length of 0, which is what
    // writing it back gives.
    if (got == 0 && absentWhenEmpty) return;
    text.reset(new std::string(buffer, got));
}

void getLongBytes(CBufferedReader& r, OwnedBytes& bytes) {
    uint16_t n = 0;
    getU16(r, n);
    if (n == 0) return;
    OwnedBytes value(new OrlByteArray(static_cast<unsigned long>(n)));
    uint32_t got = r.read(value->getContent(), n);
    if (got == 0) return;  // as a length of 0, which is what writing it back gives
    value->setLength(got);
    bytes = std::move(value);
}

void getDate(CBufferedReader& r, OwnedDate& date) {
    unsigned char marker = 0;
    if (!getU8(r, marker) || marker == 0) return;
    date.reset(new CK_DATE);
    std::memset(date.get(), 0, sizeof(CK_DATE));
    r.read(date.get(), sizeof(CK_DATE));
}

}  // namespace dir

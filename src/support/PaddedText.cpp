#include "PaddedText.h"

#include <cstring>

void fillBlankPadded(CK_UTF8CHAR* field, size_t size, const char* text) {
    size_t n = std::strlen(text);
    if (n > size) {
        n = size;
        // Continuation bytes are 10xxxxxx: step back to a character's first byte.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memset(field, ' ', size);
    std::memcpy(field, text, n);
}

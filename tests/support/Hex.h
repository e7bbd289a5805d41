// Hex text <-> bytes for test vectors.
#ifndef QUILLON_TESTS_HEX_H
#define QUILLON_TESTS_HEX_H

#include <cstddef>
#include <string>
#include <vector>

namespace hex {

inline std::vector<unsigned char> bytes(const std::string& text) {
    std::vector<unsigned char> out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;  // spaces group the digits
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline std::string text(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

inline std::string text(const std::vector<unsigned char>& v) {
    return text(v.data(), v.size());
}

}  // namespace hex

#endif

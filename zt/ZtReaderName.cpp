#include "ZtReaderName.h"

#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <cstring>

namespace zt {

namespace {

// Folder names stay well inside the common 255-byte limit of file systems.
constexpr size_t kMaxFolderName = 200;
const char kHexDigits[] = "0123456789ABCDEF";

bool keptAsIs(unsigned char c, bool first) {
    if (first && (c == '.' || c == '-' || c == ' ')) return false;
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != 0 && std::strchr(" ._-()#", c) != nullptr);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // only upper case is ever written, so each name has one folder
}

std::string sha256Hex(const std::string& text) {
    CryptoPP::SHA256 sha;
    CryptoPP::byte digest[CryptoPP::SHA256::DIGESTSIZE];
    sha.CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
    std::string hex;
    CryptoPP::HexEncoder encoder(new CryptoPP::StringSink(hex), false);
    encoder.Put(digest, sizeof(digest));
    encoder.MessageEnd();
    return hex;
}

std::string escaped(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (keptAsIs(c, i == 0)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 15];
        }
    }
    return out;
}

// The length of the UTF-8 sequence starting at s[i] and its code point; 0
// when the bytes there are not well-formed UTF-8.
size_t utf8Sequence(const std::string& s, size_t i, unsigned long& cp) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    unsigned long min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

bool validReaderName(const std::string& name) {
    if (name.empty() || name.size() > kMaxReaderName) return false;
    for (size_t i = 0; i < name.size();) {
        unsigned long cp = 0;
        size_t len = utf8Sequence(name, i, cp);
        if (len == 0) return false;
        // Control characters (C0, DEL, C1) are not printable.
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
        i += len;
    }
    return true;
}

std::string readerFolderName(const std::string& name) {
    std::string folder = escaped(name);
    if (folder.size() <= kMaxFolderName) return folder;
    return "~" + sha256Hex(name);
}

bool isHashedFolderName(const std::string& folder) {
    return !folder.empty() && folder[0] == '~';
}

bool readerNameOfFolder(const std::string& folder, const std::string& nameFile, std::string& name) {
    if (isHashedFolderName(folder)) {
        name = nameFile;
    } else {
        name.clear();
        for (size_t i = 0; i < folder.size(); ++i) {
            if (folder[i] != '%') {
                name += folder[i];
                continue;
            }
            int hi = i + 2 < folder.size() ? hexValue(folder[i + 1]) : -1;
            int lo = hi >= 0 ? hexValue(folder[i + 2]) : -1;
            if (lo < 0) return false;
            name += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
    }
    // Only the one folder a name maps to counts: no aliases, no strays.
    return validReaderName(name) && readerFolderName(name) == folder;
}

}  // namespace zt

#include "ZtWipe.h"

#include <cryptopp/misc.h>

namespace zt {

void wipe(void* data, size_t n) {
    if (data && n) CryptoPP::SecureWipeBuffer(static_cast<CryptoPP::byte*>(data), n);
}

void wipe(std::string& s) {
    // The terminator's byte belongs to the buffer too.
    wipe(&s[0], s.capacity());
    s.clear();
}

void wipe(std::map<std::string, std::string>& fields) {
    for (auto& f : fields) wipe(f.second);
    fields.clear();
}

void appendWiping(std::string& out, const char* data, size_t n) {
    if (out.size() + n > out.capacity()) {
        std::string grown;
        grown.reserve(2 * (out.size() + n));
        grown.append(out);
        wipe(out);
        out.swap(grown);
    }
    out.append(data, n);
}

}  // namespace zt

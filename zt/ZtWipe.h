// Wiping what held store contents, key material or a PIN before the memory is
// freed or goes out of scope. std::string keeps short texts inside the object
// and leaves the old buffer behind when it grows, so secrets are kept in
// strings that were given their full size up front, and wiped whole.
#ifndef QUILLON_ZT_ZTWIPE_H
#define QUILLON_ZT_ZTWIPE_H

#include <cstddef>
#include <map>
#include <string>

namespace zt {

// Overwrites n bytes with zeros; never optimised away.
void wipe(void* data, size_t n);
// Overwrites the whole buffer of s (its capacity, not just its size), then
// empties it.
void wipe(std::string& s);
void wipe(std::map<std::string, std::string>& fields);

// Appends to `out` without leaving an unwiped copy behind when it must grow.
void appendWiping(std::string& out, const char* data, size_t n);

// Wipes the strings it guards when the scope ends, on every way out.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& a) : m_a(&a) {}
    WipeOnExit(std::string& a, std::string& b) : m_a(&a), m_b(&b) {}
    ~WipeOnExit() {
        wipe(*m_a);
        if (m_b) wipe(*m_b);
    }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string* m_a;
    std::string* m_b = nullptr;
};

}  // namespace zt

#endif

// A list of NUL-terminated texts that owns its copies.
#ifndef ORL2_ORLSTRINGVECTOR_H
#define ORL2_ORLSTRINGVECTOR_H

#include <vector>

class OrlStringVector {
public:
    OrlStringVector() = default;
    OrlStringVector(const OrlStringVector&) = delete;
    OrlStringVector& operator=(const OrlStringVector&) = delete;
    virtual ~OrlStringVector();

    unsigned int size() const { return static_cast<unsigned int>(m_items.size()); }
    // Index past the end answers null.
    char* operator[](unsigned int index) const;
    void addElement(const char* text);
    void removeAllElements();

private:
    std::vector<char*> m_items;
};

#endif

#include "OrlStringVector.h"

#include <cstring>

OrlStringVector::~OrlStringVector() {
    removeAllElements();
}

char* OrlStringVector::operator[](unsigned int index) const {
    return index < m_items.size() ? m_items[index] : nullptr;
}

void OrlStringVector::addElement(const char* text) {
    const char* source = text ? text : "";
    size_t n = std::strlen(source);
    char* copy = new char[n + 1];
    std::memcpy(copy, source, n + 1);
    m_items.push_back(copy);
}

void OrlStringVector::removeAllElements() {
    for (char* item : m_items) delete[] item;
    m_items.clear();
}

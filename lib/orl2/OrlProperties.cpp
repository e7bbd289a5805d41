#include "OrlProperties.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

}  // namespace

void OrlProperties::takeLine(const std::string& line) {
    std::string text = trim(line);
    if (text.empty() || text[0] == '#') return;
    size_t eq = text.find('=');
    if (eq == std::string::npos) return;
    std::string key = trim(text.substr(0, eq));
    if (!key.empty()) m_values[key] = trim(text.substr(eq + 1));
}

long OrlProperties::load(const char* fileName) {
    if (!fileName) return 1;
    std::ifstream in(fileName);
    if (!in) return 2;
    std::string line;
    while (std::getline(in, line)) takeLine(line);
    return 0;
}

long OrlProperties::parse(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) takeLine(line);
    return 0;
}

#ifdef _WIN32
long OrlProperties::load(HKEY root, const char* subKey) {
    HKEY key;
    LONG rc = RegOpenKeyExA(root, subKey, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return rc;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLen = sizeof(name);
        DWORD type = 0;
        BYTE data[2048];
        DWORD dataLen = sizeof(data) - 1;
        rc = RegEnumValueA(key, index, name, &nameLen, nullptr, &type, data, &dataLen);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            data[dataLen] = 0;
            m_values[name] = reinterpret_cast<const char*>(data);
        } else if (type == REG_DWORD && dataLen == 4) {
            DWORD value;
            memcpy(&value, data, 4);
            m_values[name] = std::to_string(value);
        }
    }
    RegCloseKey(key);
    return 0;
}

std::string OrlProperties::describe(HKEY root, const char* subKey) {
    std::string rootName = root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY";
    return "registry key \"" + rootName + "\\" + (subKey ? subKey : "") + "\"";
}
#else
namespace {
const char* registryFile() {
    const char* path = std::getenv("QUILLON_REGISTRY");
    return path && *path ? path : "/etc/velmora/quillon.conf";
}
}  // namespace

std::string OrlProperties::describe(HKEY, const char*) {
    return std::string("file \"") + registryFile() + "\"";
}

long OrlProperties::load(HKEY, const char*) {
    return load(registryFile());
}
#endif

const char* OrlProperties::getProperty(const char* key, const char* defaultValue) const {
    if (!key) return defaultValue;
    auto it = m_values.find(key);
    return it == m_values.end() ? defaultValue : it->second.c_str();
}

void OrlProperties::setProperty(const char* key, const char* value) {
    if (key) m_values[key] = value ? value : "";
}

// String properties read from the registry (a key=value file elsewhere) or a file.
#ifndef ORL2_ORLPROPERTIES_H
#define ORL2_ORLPROPERTIES_H

#include <map>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
typedef void* HKEY;
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(0x80000002UL))
#endif

class OrlProperties {
public:
    // Reads every string value of the registry key. Where there is no
    // registry, the key is a key=value file: the one named by the environment
    // variable QUILLON_REGISTRY, else /etc/velmora/quillon.conf. 0 = loaded.
    long load(HKEY root, const char* subKey);
    // Reads a key=value file ('#' comments and blank lines allowed). 0 = loaded.
    long load(const char* fileName);
    // Takes key=value lines from a text read elsewhere. 0 = taken.
    long parse(const std::string& text);
    // Where load(root, subKey) reads, for messages: 'registry key "..."' or
    // 'file "..."' where the registry is a file.
    static std::string describe(HKEY root, const char* subKey);

    // The value, or `defaultValue` when the key is absent.
    const char* getProperty(const char* key, const char* defaultValue) const;
    void setProperty(const char* key, const char* value);

private:
    void takeLine(const std::string& line);

    std::map<std::string, std::string> m_values;
};

#endif

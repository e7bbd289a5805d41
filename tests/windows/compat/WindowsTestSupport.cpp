#include "WindowsTestSupport.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>

namespace wintest {

namespace {

constexpr const char* kSubKey = "SOFTWARE\\Velmora\\Quillon";

std::string trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

}  // namespace

std::string makeScratchDir(const char* prefix) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    for (unsigned attempt = 0;; ++attempt) {
        std::string dir = std::string(temp) + prefix + "-" + std::to_string(GetCurrentProcessId()) +
                          "-" + std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    }
}

bool removeTree(const std::string& dir) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryA(dir.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

void setEnv(const char* name, const char* value) {
    _putenv_s(name, value);
}
void unsetEnv(const char* name) {
    _putenv_s(name, "");
}

void mirrorRegistryStandIn() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSubKey);
    const char* path = std::getenv("QUILLON_REGISTRY");
    if (!path || !*path) return;
    std::ifstream in(path);
    if (!in) return;  // no stand-in: no key, so "ravenell.conf" counts
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    std::string line;
    while (std::getline(in, line)) {
        std::string text = trim(line);
        if (text.empty() || text[0] == '#') continue;
        size_t eq = text.find('=');
        if (eq == std::string::npos) continue;
        std::string name = trim(text.substr(0, eq));
        std::string value = trim(text.substr(eq + 1));
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    }
    RegCloseKey(key);
}

}  // namespace wintest

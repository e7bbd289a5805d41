// The configuration reader: any file must load without a crash, and every
// key it yields reads back through getProperty as the last value given.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

#include "OrlProperties.h"

namespace {

std::string s_path;

std::string trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return std::string();
    return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

// The file format as documented: key=value lines, blanks and '#' lines
// skipped, both sides trimmed, the last value of a key wins.
std::map<std::string, std::string> expectedProperties(const std::string& file) {
    std::map<std::string, std::string> out;
    std::istringstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::string text = trim(line);
        if (text.empty() || text[0] == '#') continue;
        size_t eq = text.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(text.substr(0, eq));
        if (!key.empty()) out[key] = trim(text.substr(eq + 1));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char path[] = "/tmp/quillon-fuzz-config-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) std::abort();
    close(fd);
    s_path = path;
    std::atexit([] { unlink(s_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(s_path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    OrlProperties properties;
    if (properties.load(s_path.c_str()) != 0) std::abort();  // the file is there
    for (const auto& kv :
         expectedProperties(std::string(reinterpret_cast<const char*>(data), size))) {
        if (kv.first.find('\0') != std::string::npos) continue;  // not reachable by a C text
        const char* value = properties.getProperty(kv.first.c_str(), nullptr);
        if (!value || std::strcmp(value, kv.second.c_str()) != 0) {
            std::fprintf(stderr, "key \"%s\" reads back wrong\n", kv.first.c_str());
            std::abort();
        }
    }
    if (properties.getProperty("no such key here", "fallback") == nullptr) std::abort();
    // The provider's own reading of the same keys: the log level is a number
    // of leading digits, the card library a path.
    setenv("QUILLON_REGISTRY", s_path.c_str(), 1);
    OrlProperties registry;
    registry.load(nullptr, nullptr);
    (void)registry.getProperty("loglevel", nullptr);
    return 0;
}

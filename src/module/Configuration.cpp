#include "Configuration.h"

#include "Platform.h"

namespace {
constexpr const char* kRegistrySubKey = "SOFTWARE\\Velmora\\Quillon";
constexpr const char* kConfigFile = "ravenell.conf";
}  // namespace

Configuration readConfiguration() {
    Configuration config;
    std::string registry = OrlProperties::describe(HKEY_LOCAL_MACHINE, kRegistrySubKey);
    if (config.properties.load(HKEY_LOCAL_MACHINE, kRegistrySubKey) == 0) {
        config.source = registry;
        return config;
    }
    // A file in the current directory is trusted only when nobody but the
    // user (or root) could have put it there or changed it: anyone who can
    // write a folder could otherwise make every application started there
    // load a library of their choosing.
    std::string text, path, why;
    switch (platform::readCurrentDirectoryConfig(kConfigFile, text, path, why)) {
        case platform::ConfigFileResult::Read:
            config.properties.parse(text);
            config.source = "file \"" + path + "\"";
            break;
        case platform::ConfigFileResult::Refused:
            config.ignoredFile = "\"" + path + "\" ignored: " + why;
            config.source = "none (" + registry + " cannot be read; " + config.ignoredFile + ")";
            break;
        default:
            config.source = "none (" + registry + " cannot be read; \"" + path + "\": " + why + ")";
            break;
    }
    return config;
}

uint32_t parseLogLevel(const char* text) {
    if (!text) return 0;
    const char* p = text;
    if (*p == '+' || *p == '-') ++p;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > UINT32_MAX) value = UINT32_MAX;  // stays non-zero from here on
    }
    return static_cast<uint32_t>(value);
}

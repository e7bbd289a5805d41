// The provider's configuration, read once at load: the registry key (a file
// where there is no registry) or, only when that cannot be read, the file
// "ravenell.conf" in the current directory. The two are never merged.
#ifndef QUILLON_MODULE_CONFIGURATION_H
#define QUILLON_MODULE_CONFIGURATION_H

#include <cstdint>
#include <string>

#include "OrlProperties.h"

// The keys the provider reads.
constexpr const char* kKeyLogLevel = "loglevel";
constexpr const char* kKeyLogFile = "ckilogfile";
constexpr const char* kKeyCardLibrary = "zt";
constexpr const char* kKeyMechanisms = "mechanisms";

struct Configuration {
    OrlProperties properties;
    // Where the properties came from, for messages: 'file "..."', 'registry
    // key "..."', or "none (...)" with the reasons.
    std::string source;
    // Set when a "ravenell.conf" was found but not trusted: why it was ignored.
    std::string ignoredFile;

    const char* value(const char* key) const { return properties.getProperty(key, nullptr); }
};

Configuration readConfiguration();

// "loglevel": an optionally signed decimal number of any length; text that is
// no number gives 0. Any non-zero number turns the full log on, so the result
// is non-zero exactly when the number is (large numbers saturate).
uint32_t parseLogLevel(const char* text);

#endif

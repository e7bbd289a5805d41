// The provider's diagnostic log. Lines are written only when the configured
// log level is non-zero; with level 0 nothing is even formatted. Never throws.
#ifndef QUILLON_MODULE_LOG_H
#define QUILLON_MODULE_LOG_H

#include <cstdint>

#include "cryptoki.h"

class OrlLoggerAdv;

extern uint32_t g_logLevel;
OrlLoggerAdv& logger();
// Switches logging off and releases the logger (at unload).
void closeLog();

#if defined(__GNUC__)
#define QUILLON_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define QUILLON_PRINTF(a, b)
#endif

// At most 1 000 characters per line; longer lines are cut.
void logError(const char* format, ...) QUILLON_PRINTF(1, 2);
// At most 3 000 characters per line; longer lines are cut.
void logMessage(const char* format, ...) QUILLON_PRINTF(1, 2);
void logMechanism(const CK_MECHANISM* mechanism);

inline bool loggingEnabled() {
    return g_logLevel != 0;
}

#endif

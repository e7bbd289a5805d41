#include "Log.h"

#include <cstdarg>
#include <cstdio>

#include "OrlLoggerAdv.h"

uint32_t g_logLevel = 0;

namespace {
// Created on first use and destroyed explicitly at unload, after logging has
// been switched off, so no static destructor runs while the host still calls.
OrlLoggerAdv* s_logger = nullptr;
}  // namespace

OrlLoggerAdv& logger() {
    if (!s_logger) s_logger = new OrlLoggerAdv("quilltok.log");
    return *s_logger;
}

void closeLog() {
    g_logLevel = 0;
    delete s_logger;
    s_logger = nullptr;
}

namespace {

template <size_t N>
void formatLine(char (&line)[N], const char* format, va_list args) {
    line[0] = 0;
    if (format) std::vsnprintf(line, N, format, args);
}

}  // namespace

void logError(const char* format, ...) {
    if (!g_logLevel) return;
    try {
        char line[1000];
        va_list args;
        va_start(args, format);
        formatLine(line, format, args);
        va_end(args);
        logger().logError(line, 0, "Error");
    } catch (...) {
    }
}

void logMessage(const char* format, ...) {
    if (!g_logLevel) return;
    try {
        char line[3000];
        va_list args;
        va_start(args, format);
        formatLine(line, format, args);
        va_end(args);
        logger().logMessage(line, 0, "Message");
    } catch (...) {
    }
}

void logMechanism(const CK_MECHANISM* mechanism) {
    if (!g_logLevel || !mechanism) return;
    logMessage("Mechanism : %lx", static_cast<unsigned long>(mechanism->mechanism));
    logMessage("Parameter: %p", mechanism->pParameter);
    logMessage("Parameter len: %lx", static_cast<unsigned long>(mechanism->ulParameterLen));
}

// The diagnostic log: one time-stamped line per call, never throwing.
#ifndef ORL2_ORLLOGGER_H
#define ORL2_ORLLOGGER_H

class OrlLogger {
public:
    virtual ~OrlLogger() = default;
    virtual void logMessage(const char* text, unsigned int flags, const char* category) = 0;
    virtual void logError(const char* text, unsigned int flags, const char* category) = 0;
};

#endif

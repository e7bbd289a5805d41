// File logger: each line carries a time stamp, the thread and the category.
// Lines of concurrent callers never interleave. The file is opened on the
// first line, so a logger that never writes creates no file.
#ifndef ORL2_ORLLOGGERADV_H
#define ORL2_ORLLOGGERADV_H

#include <cstdio>
#include <mutex>
#include <string>

#include "OrlLogger.h"

class OrlLoggerAdv : public OrlLogger {
public:
    explicit OrlLoggerAdv(const char* fileName);
    ~OrlLoggerAdv() override;
    OrlLoggerAdv(const OrlLoggerAdv&) = delete;
    OrlLoggerAdv& operator=(const OrlLoggerAdv&) = delete;

    void setLogFile(const char* fileName);
    void logMessage(const char* text, unsigned int flags, const char* category) override;
    void logError(const char* text, unsigned int flags, const char* category) override;

private:
    void write(const char* text, const char* category) noexcept;

    std::mutex m_mutex;
    std::string m_fileName;
    FILE* m_file = nullptr;
};

#endif

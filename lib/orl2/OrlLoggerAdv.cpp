#include "OrlLoggerAdv.h"

#include <chrono>
#include <ctime>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The log holds data sent for signing and object attributes: a new log file
// is readable by its owner only. The folder is left as it is.
FILE* openLog(const std::string& name) {
#ifdef _WIN32
    return std::fopen(name.c_str(), "a");
#else
    int fd = open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "a");
    if (!file) close(fd);
    return file;
#endif
}

}  // namespace

OrlLoggerAdv::OrlLoggerAdv(const char* fileName) : m_fileName(fileName ? fileName : "") {}

OrlLoggerAdv::~OrlLoggerAdv() {
    if (m_file) std::fclose(m_file);
}

void OrlLoggerAdv::setLogFile(const char* fileName) {
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_file) std::fclose(m_file);
        m_file = nullptr;
        m_fileName = fileName ? fileName : "";
    } catch (...) {
    }
}

void OrlLoggerAdv::logMessage(const char* text, unsigned int, const char* category) {
    write(text, category ? category : "Message");
}

void OrlLoggerAdv::logError(const char* text, unsigned int, const char* category) {
    write(text, category ? category : "Error");
}

void OrlLoggerAdv::write(const char* text, const char* category) noexcept {
    try {
        using namespace std::chrono;
        auto now = system_clock::now();
        std::time_t seconds = system_clock::to_time_t(now);
        long millis =
            static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &seconds);
#else
        localtime_r(&seconds, &local);
#endif
        char stamp[32];
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
        unsigned long thread =
            static_cast<unsigned long>(std::hash<std::thread::id>()(std::this_thread::get_id()));

        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_file && !m_fileName.empty()) m_file = openLog(m_fileName);
        if (!m_file) return;
        std::fprintf(m_file, "%s.%03ld [%08lx] %-7s %s\n", stamp, millis, thread & 0xFFFFFFFFUL,
                     category, text ? text : "");
        std::fflush(m_file);
    } catch (...) {
    }
}

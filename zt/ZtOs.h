// The operating-system services of the virtual token: where the store lives,
// private folders, atomic file replacement and per-reader file locks. One
// interface; ZtOs.cpp holds a POSIX and a Win32 half.
#ifndef QUILLON_ZT_ZTOS_H
#define QUILLON_ZT_ZTOS_H

#include <cstdint>
#include <string>
#include <vector>

namespace zt {
namespace os {

extern const char kSeparator;

// $ZT_HOME; else $XDG_DATA_HOME/quillon/zt, else ~/.local/share/quillon/zt
// (Win32: %ZT_HOME%, else %LOCALAPPDATA%\Quillon\zt). Empty when none is known.
std::string storeHome();

std::string join(const std::string& dir, const std::string& name);

// Creates the folder (and missing parents) and makes it private to its owner
// (0700 whatever the umask). True when it exists afterwards.
bool makePrivateDir(const std::string& path);
bool isDir(const std::string& path);
bool isFile(const std::string& path);

enum class ReadResult { Ok, Missing, Failed };
ReadResult readFile(const std::string& path, std::string& out);

// Writes a new file beside `path` (0600), flushes it to the disk, renames it
// over `path` and flushes the folder: a crash leaves the old or the new file,
// never a torn one.
// The temporary name never collides with a living writer's, and a stale file
// left by a killed one only makes the writer pick the next name.
bool writeFileAtomic(const std::string& path, const std::string& data);
bool writeFileAtomic(const std::string& path, const void* data, size_t size);

// Temporary files of writeFileAtomic: "NAME.tmp.*". Never read as data.
bool isTemporaryName(const std::string& name);
// Removes the temporary files directly in `dir`. Only safe while no writer
// can be at work there (the caller holds the lock that writers hold).
void removeTemporaries(const std::string& dir);

// Renames a file or folder to a name that does not exist yet.
bool renamePath(const std::string& from, const std::string& to);

// Missing files count as removed.
bool removeFile(const std::string& path);
bool removeTree(const std::string& path);

// Names in a folder, sorted; folders only or regular files only.
std::vector<std::string> listDir(const std::string& path, bool folders);

// Identity and version of a file, to tell when a cached copy went stale.
struct FileStamp {
    uint64_t id = 0;
    uint64_t size = 0;
    int64_t modified = 0;
    bool operator==(const FileStamp& o) const {
        return id == o.id && size == o.size && modified == o.modified;
    }
};
bool fileStamp(const std::string& path, FileStamp& out);

// An exclusive lock on a lock file, held from acquire() to destruction. It
// excludes other processes and other FileLock objects of this process.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Creates the lock file (0600) when missing; waits for the lock.
    bool acquire(const std::string& path);

private:
    intptr_t m_handle = -1;
};

}  // namespace os
}  // namespace zt

#endif

// A lock that every process of the machine using one token respects, with the
// token's change counter (its generation) kept in the same small file.
//
// The file lives in a folder every user of the machine can reach (POSIX:
// $QUILLON_LOCK_DIR or /tmp, then "quillon-tokens", sticky and world-writable
// like /tmp; Windows: %QUILLON_LOCK_DIR% or %ProgramData%, then
// "Quillon\tokens"), named after a hash of what identifies the card. Bytes 0-7
// hold the generation, little-endian; the lock covers a byte far beyond them,
// so the generation can be read while a writer holds the lock. The operating
// system releases the lock of a process that ends, however it ends.
//
// Not thread-safe: its user (the slot's token store) runs under the global lock.
#ifndef QUILLON_PLATFORM_TOKENLOCK_H
#define QUILLON_PLATFORM_TOKENLOCK_H

#include <cstdint>
#include <string>

namespace platform {

class TokenLock {
public:
    TokenLock() = default;
    ~TokenLock();
    TokenLock(const TokenLock&) = delete;
    TokenLock& operator=(const TokenLock&) = delete;

    // Opens (creating when needed) the lock file for the key; false when the
    // folder or the file cannot be used safely. Closes a file opened before.
    bool open(const std::string& key);
    void close();
    bool isOpen() const { return m_handle != kClosed; }
    // The key the file was opened for ("" when closed).
    const std::string& key() const { return m_key; }

    // Waits for the lock; false when the system refuses it.
    bool lock();
    void unlock();
    // Reads the generation; a file never written reads as 0. Needs no lock:
    // writers replace the 8 bytes with one write.
    bool readGeneration(uint64_t& generation) const;
    // Under the lock.
    bool writeGeneration(uint64_t generation);

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t m_handle = kClosed;
    bool m_bLocked = false;
    std::string m_key;
};

// The file name for a key: "token-" and 16 hex digits of a 64-bit hash.
std::string tokenLockFileName(const std::string& key);

}  // namespace platform

#endif

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace korvalo {

// One pass per volume at a time, across processes: an advisory flock() on
// $XDG_RUNTIME_DIR/korvalo/volume-<device>.lock (without a runtime folder, on
// <temp>/korvalo-<uid>/volume-<device>.lock), held for a whole pass; on Windows LockFileEx() on
// %LOCALAPPDATA%\Korvalo\volume-<serial>.lock (else <temp>\Korvalo). The lock file is never
// written onto the volume itself. It is keyed by the volume's device number (deviceOf()): inode
// numbers of a folder are no key, since exfat-fuse gives one folder opened as "Music" and "MUSIC"
// two.
class PassLock
{
public:
    // The lock of the volume with this device number; nullopt when another process holds it.
    static std::optional<PassLock> tryAcquire(std::uint64_t device);
    // The folder the lock files are kept in.
    static std::filesystem::path lockFolder();

    PassLock(PassLock &&other) noexcept;
    PassLock &operator=(PassLock &&other) noexcept;
    PassLock(const PassLock &) = delete;
    PassLock &operator=(const PassLock &) = delete;
    ~PassLock();

private:
    static constexpr std::intptr_t kNone = -1;
    explicit PassLock(std::intptr_t handle) : m_handle(handle) {}
    // The file descriptor or the Windows handle; kNone: nothing held (no place for a lock file
    // was found).
    std::intptr_t m_handle = kNone;
};

} // namespace korvalo

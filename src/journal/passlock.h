#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace korvalo {

struct LockAttempt;

// One pass per volume at a time, across processes: an advisory flock() on
// <lock folder>/volume-<device>.lock, held for a whole pass; on Windows LockFileEx() on
// %LOCALAPPDATA%\Korvalo\volume-<serial>.lock. The lock file is never written onto the volume
// itself. It is keyed by the volume's device number (deviceOf()): inode numbers of a folder are no
// key, since exfat-fuse gives one folder opened as "Music" and "MUSIC" two.
//
// Every process of one user must find the same lock, whatever its environment (a desktop session,
// sudo, cron): the lock folder is /run/user/<uid>/korvalo where /run/user/<uid> is a real folder
// of the user's own, else the state folder (statefolder.h); never a folder other users share,
// where one of them could take the place first. Whoever takes a lock says in which folder: the
// rule's (lockFolder()), or the one a journal was given (Journal::lockFolder()). The folder and the
// lock file are private files (see journalfile.h). Where no private lock can be had, the attempt
// says so: a pass must then not run, since it could not keep another Korvalo off the volume.
class PassLock
{
public:
    // The lock of the volume with this device number, kept in `folder`.
    static LockAttempt tryAcquire(const std::filesystem::path &folder, std::uint64_t device);

    // The lock of one journal record (record-<name>.lock), for the short writes of a record that
    // two processes may make at once. Waits for it up to `wait`, then reports it busy. `name`:
    // letters, digits, "-", "_" and "." (not first); anything else is refused (EINVAL).
    static constexpr std::chrono::milliseconds kRecordWait{2000};
    static LockAttempt acquireRecord(const std::filesystem::path &folder, std::string_view name,
                                     std::chrono::milliseconds wait = kRecordWait);

    // The folder the rule above chooses for the lock files (it may not exist yet). Any other
    // folder given must pass the same checks.
    static std::filesystem::path lockFolder();

    PassLock(PassLock &&other) noexcept;
    PassLock &operator=(PassLock &&other) noexcept;
    PassLock(const PassLock &) = delete;
    PassLock &operator=(const PassLock &) = delete;
    ~PassLock();

private:
    static constexpr std::intptr_t kNone = -1;
    explicit PassLock(std::intptr_t handle) : m_handle(handle) {}
    // The lock file `fileName` in `folder`, taken within `wait`.
    static LockAttempt acquire(const std::filesystem::path &folder,
                               const std::filesystem::path &fileName,
                               std::chrono::milliseconds wait);
    // Per platform: the lock on an open lock file taken within `wait` (0, kBusy, or the error
    // number; the file is closed unless taken); the error numbers of a refused record name and of
    // no folder to keep locks in.
    static int hold(std::intptr_t handle, std::chrono::milliseconds wait);
    static constexpr int kBusy = -1;
    static const int kInvalidName;
    static const int kNoFolder;
    // The file descriptor or the Windows handle; kNone only once moved from.
    std::intptr_t m_handle = kNone;
};

// Why no private lock could be taken.
struct LockFailure
{
    int osError = 0;            // errno, or the Windows error code (see journalfile.h)
    std::filesystem::path path; // the lock folder, or the lock file, concerned
};

// What an attempt to take a lock gave: the lock, or that another process holds it (busy), or that
// no lock can be taken here (unavailable).
struct LockAttempt
{
    std::optional<PassLock> lock;
    std::optional<LockFailure> unavailable;

    bool held() const { return lock.has_value(); }
    bool busy() const { return !lock && !unavailable; }
};

} // namespace korvalo

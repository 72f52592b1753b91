#include "journal/passlock.h"

#include "browse/utf8path.h"
#include "journal/journalfile.h"

#include <string>
#include <utility>

namespace korvalo {

namespace {

// A record's name as the journal makes it: a hash, maybe a variant number. Nothing that could
// name a file outside the lock folder.
bool isRecordName(std::string_view name)
{
    if (name.empty() || name.front() == '.' || name.size() > 128)
        return false;
    for (const char c : name) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                        (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

LockAttempt PassLock::acquire(const std::filesystem::path &folder,
                              const std::filesystem::path &fileName, std::chrono::milliseconds wait)
{
    LockAttempt attempt;
    if (folder.empty()) {
        attempt.unavailable = LockFailure{kNoFolder, folder}; // no home folder to keep it in
        return attempt;
    }
    if (const int err = journalfile::makeFolder(folder)) {
        attempt.unavailable = LockFailure{err, folder};
        return attempt;
    }
    const std::filesystem::path file = folder / fileName;
    std::intptr_t handle = kNone;
    if (const int err = journalfile::openPrivateFile(file, handle)) {
        attempt.unavailable = LockFailure{err, file};
        return attempt;
    }
    const int err = hold(handle, wait);
    if (err == 0)
        attempt.lock = PassLock(handle);
    else if (err != kBusy)
        attempt.unavailable = LockFailure{err, file};
    return attempt;
}

LockAttempt PassLock::tryAcquire(const std::filesystem::path &folder, std::uint64_t device)
{
    return acquire(folder, "volume-" + std::to_string(device) + ".lock",
                   std::chrono::milliseconds(0));
}

LockAttempt PassLock::acquireRecord(const std::filesystem::path &folder, std::string_view name,
                                    std::chrono::milliseconds wait)
{
    if (!isRecordName(name)) {
        LockAttempt attempt;
        attempt.unavailable = LockFailure{kInvalidName, pathFromUtf8(name)};
        return attempt;
    }
    return acquire(folder, "record-" + std::string(name) + ".lock", wait);
}

PassLock::PassLock(PassLock &&other) noexcept : m_handle(other.m_handle)
{
    other.m_handle = kNone;
}

PassLock &PassLock::operator=(PassLock &&other) noexcept
{
    if (this != &other) {
        PassLock old(std::move(*this));
        m_handle = other.m_handle;
        other.m_handle = kNone;
    }
    return *this;
}

} // namespace korvalo

#pragma once

// Claiming a folder's volume before anything is renamed in it: the one place where a pass, a
// recovery or a look beforehand takes the volume's PassLock, after refusing a driver that damages
// folders when it renames.

#include "browse/mountinfo.h"
#include "journal/passlock.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace korvalo {

// Whether the claim keeps the lock.
enum class ClaimMode
{
    Hold,   // the lock is held until the claim is destroyed (or its lock reset)
    TryOnly // the lock is taken and let go at once: it only tells whether a pass could start now
};

// How much of the volume's mount the claim looks up, and so which refusals it can make.
enum class MountLookup
{
    // None: the lock alone. Recovery takes it so: putting names back is never refused for the
    // driver, and needs no mount.
    None,
    // The mount table; a FUSE mount that does not name its file system ("fuseblk", "fuse") is
    // resolved from its source, since it may be exFAT, whose stored order a pass arranges.
    MountTable,
    // The volume's identity as well (VolumeProbe::Resolve): a journal's key needs its UUID.
    Resolve
};

// What claiming a folder's volume gave.
struct VolumeClaim
{
    enum class Refusal
    {
        None,         // claimed (or there is no volume to claim: see device)
        UnsafeDriver, // the folder is on a driver that damages folders when it renames (fusefat)
        Busy,         // another pass, in this or another process, holds the volume
        Unavailable   // no private lock can be taken for the volume (see lockFailure)
    };
    Refusal refusal = Refusal::None;
    // ClaimMode::Hold and not refused: the volume's lock. Empty when the folder has no device.
    std::optional<PassLock> lock;
    // The folder's device; nullopt when it cannot be stat'ed: nothing is locked then, and the
    // first rename in it will say why.
    std::optional<std::uint64_t> device;
    // The mount that holds the folder, as `MountLookup` asked; also with UnsafeDriver.
    std::optional<MountInfo> mount;
    // Refusal::Unavailable: why no lock could be taken, and where.
    LockFailure lockFailure;

    bool granted() const { return refusal == Refusal::None; }
};

// The mount that holds `folder`, as `lookup` asks (nullopt with MountLookup::None, or when it
// cannot be told).
std::optional<MountInfo> lookUpMount(const std::filesystem::path &folder, MountLookup lookup);

// Claims the volume `folder` is on: its device, then its mount as `lookup` asks, the driver
// refused before the lock is tried, then the volume's lock, kept in `lockFolder`.
VolumeClaim claimVolume(const std::filesystem::path &folder, ClaimMode mode, MountLookup lookup,
                        const std::filesystem::path &lockFolder);

} // namespace korvalo

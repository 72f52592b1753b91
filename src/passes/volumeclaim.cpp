#include "passes/volumeclaim.h"

namespace korvalo {

std::optional<MountInfo> lookUpMount(const std::filesystem::path &folder, MountLookup lookup)
{
    if (lookup == MountLookup::None)
        return std::nullopt;
    const bool resolve = lookup == MountLookup::Resolve;
    std::optional<MountInfo> mount =
        mountOf(folder, resolve ? VolumeProbe::Resolve : VolumeProbe::MountTableOnly);
    if (mount && !resolve && (mount->mountFsType == "fuseblk" || mount->mountFsType == "fuse"))
        mount = mountOf(folder, VolumeProbe::Resolve);
    return mount;
}

VolumeClaim claimVolume(const std::filesystem::path &folder, ClaimMode mode, MountLookup lookup,
                        const std::filesystem::path &lockFolder)
{
    VolumeClaim claim;
    claim.device = deviceOf(folder);
    if (!claim.device)
        return claim;
    claim.mount = lookUpMount(folder, lookup);
    if (claim.mount && isUnsafeDriver(*claim.mount)) {
        claim.refusal = VolumeClaim::Refusal::UnsafeDriver;
        return claim;
    }
    LockAttempt attempt = PassLock::tryAcquire(lockFolder, *claim.device);
    if (attempt.unavailable) {
        claim.refusal = VolumeClaim::Refusal::Unavailable;
        claim.lockFailure = *attempt.unavailable;
    } else if (attempt.busy()) {
        claim.refusal = VolumeClaim::Refusal::Busy;
    } else if (mode == ClaimMode::Hold) {
        claim.lock = std::move(attempt.lock);
    }
    return claim;
}

} // namespace korvalo

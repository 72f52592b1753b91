#include "passes/volumeclaim.h"

namespace korvalo {

VolumeClaim claimVolume(const std::filesystem::path &folder, ClaimMode mode, MountLookup lookup)
{
    VolumeClaim claim;
    claim.device = deviceOf(folder);
    if (!claim.device)
        return claim;
    if (lookup != MountLookup::None) {
        const bool resolve = lookup == MountLookup::Resolve;
        claim.mount = mountOf(folder, resolve ? VolumeProbe::Resolve : VolumeProbe::MountTableOnly);
        if (claim.mount && !resolve &&
            (claim.mount->mountFsType == "fuseblk" || claim.mount->mountFsType == "fuse"))
            claim.mount = mountOf(folder, VolumeProbe::Resolve);
        if (claim.mount && isUnsafeDriver(*claim.mount)) {
            claim.refusal = VolumeClaim::Refusal::UnsafeDriver;
            return claim;
        }
    }
    LockAttempt attempt = PassLock::tryAcquire(*claim.device);
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

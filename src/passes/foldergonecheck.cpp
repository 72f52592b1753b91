#include "passes/foldergonecheck.h"

#include "browse/mountinfo.h"

namespace korvalo {

FolderGoneCheck::FolderGoneCheck(const std::filesystem::path &folder) : m_device(deviceOf(folder))
{
}

RenameOutcome FolderGoneCheck::explain(const std::filesystem::path &folder,
                                       RenameOutcome outcome) const
{
    if (outcome.ok() || !m_device)
        return outcome;
    if (deviceOf(folder) == m_device) {
        if (outcome.error == RenameError::FolderGone)
            outcome.error = RenameError::SourceMissing;
        return outcome;
    }
    // The folder is not where it was. The nearest folder above it that is still there tells
    // whether the volume is still mounted.
    std::filesystem::path above = folder.lexically_normal();
    std::optional<std::uint64_t> aboveDevice;
    while (!aboveDevice && above.has_relative_path()) {
        above = above.has_filename() ? above.parent_path() : above.parent_path().parent_path();
        aboveDevice = deviceOf(above);
    }
    outcome.error = aboveDevice == m_device ? RenameError::FolderGone : RenameError::DeviceGone;
    return outcome;
}

} // namespace korvalo

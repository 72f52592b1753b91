#include "folderrecovery.h"

namespace korvalo {

JournalKey journalKey(const MountInfo &)
{
    return {};
}

std::optional<JournalKey> journalKeyOf(const std::filesystem::path &)
{
    return std::nullopt;
}

RecoveryCheck checkForRecovery(const std::filesystem::path &, Journal &, PendingRecovery &,
                               JournalError *)
{
    return RecoveryCheck::Nothing;
}

RecoveryResult recoverFolder(const std::filesystem::path &, Journal &, const PendingRecovery &,
                             RecoveryChoice, ProgressSink &)
{
    RecoveryResult result;
    result.status = RecoveryResult::Status::Failed;
    return result;
}

} // namespace korvalo

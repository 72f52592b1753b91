#include "session/windowview.h"

namespace korvalo::session {

namespace title = texts::title;
using Outcome = Report::Outcome;

PassButtons buttonsFor(Mode mode)
{
    if (mode == Mode::AlreadyUsed)
        return {texts::caption::kShuffleAgain, false, true};
    return {texts::caption::kShuffle, true, false};
}

std::optional<Mode> modeFor(const FolderState &state)
{
    using Kind = FolderState::Kind;
    switch (state.kind) {
    case Kind::Unreadable:
    case Kind::Damaged:
    case Kind::JournalFailed:
    case Kind::OrderingFolder:
        return std::nullopt;
    default:
        break;
    }
    return state.fits == PassKind::Removal ? Mode::AlreadyUsed : Mode::FirstTime;
}

std::optional<Mode> modeAfter(const Report &report, bool pass, const FolderState &state)
{
    if (pass && report.outcome == Outcome::Done && !report.emptyList)
        return report.kind == PassKind::Shuffle || report.kind == PassKind::Replace
                   ? Mode::AlreadyUsed
                   : Mode::FirstTime;
    return modeFor(state);
}

namespace {

std::string problemTitle(const Report &report, const FolderState &state)
{
    // The folder went away: the title says where it went.
    if (report.outcome == Outcome::BadFolder && state.kind == FolderState::Kind::Unreadable) {
        if (state.listError.kind == Cause::DeviceGone)
            return title::kStickGone;
        if (state.listError.kind == Cause::FolderGone)
            return title::kFolderGone;
    }
    if (report.emptyList)
        return texts::caption::kWarningTitle;
    switch (report.outcome) {
    case Outcome::Done:
        return title::kAttention;
    case Outcome::Partial:
        return texts::unfinishedTitle(report.kind);
    case Outcome::Stopped:
        return title::kStopped;
    case Outcome::Refused:
        return texts::refusedTitle(report.kind);
    case Outcome::Cancelled:
    case Outcome::BadFolder:
        break;
    }
    return title::kFolderFailure;
}

} // namespace

std::vector<Notice> noticesOf(const Report &report, const FolderState &state, bool tellDone)
{
    std::vector<Notice> out;
    if (report.outcome == Outcome::Cancelled)
        return out;
    if (tellDone)
        for (const std::string &line : report.done)
            out.push_back({Notice::Kind::Information, title::kDone, line});
    const std::string heading = problemTitle(report, state);
    for (const std::string &problem : report.problems)
        out.push_back({Notice::Kind::Warning, heading, problem});
    return out;
}

std::optional<Notice> openingNotice(const FolderState &state)
{
    using Kind = FolderState::Kind;
    if (state.question || state.problem.empty())
        return std::nullopt;
    std::string heading;
    switch (state.kind) {
    case Kind::Busy:
        heading = title::kVolumeBusy;
        break;
    case Kind::LockUnavailable:
        heading = title::kLockUnavailable;
        break;
    case Kind::JournalFailed:
        heading = title::kJournalFailed;
        break;
    case Kind::OrderingFolder:
        heading = title::kOrderingFolder;
        break;
    default:
        heading = title::kFolderFailure;
        break;
    }
    return Notice{Notice::Kind::Warning, heading, state.problem};
}

Notice folderFailureNotice(const std::filesystem::path &folder, const ListError &error, Front front)
{
    return {Notice::Kind::Warning, title::kFolderFailure,
            texts::folderFailure(folder, error, front)};
}

} // namespace korvalo::session

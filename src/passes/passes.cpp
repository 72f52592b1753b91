#include "passes.h"

#include <cstdint>
#include <optional>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvalo {

namespace {

template <typename Char> bool isDigit(Char c)
{
    return c >= Char('0') && c <= Char('9');
}

template <typename String> bool startsWithFourDigits(const String &name)
{
    return name.size() >= 4 && isDigit(name[0]) && isDigit(name[1]) && isDigit(name[2]) &&
           isDigit(name[3]);
}

// The path of a bare name in a folder, as folder / name gives it, but as native text: a pass
// forms two for every file, and making path objects of them cost more than a sixth of the
// rename itself on a fast file system.
std::filesystem::path::string_type inFolder(const std::filesystem::path &folder,
                                            const std::filesystem::path::string_type &name)
{
#ifdef _WIN32
    return (folder / name).native();
#else
    std::string joined;
    joined.reserve(folder.native().size() + 1 + name.size());
    joined = folder.native();
    if (!joined.empty() && joined.back() != '/')
        joined += '/';
    joined += name;
    return joined;
#endif
}

// The file system a folder is on, if it can be told.
std::optional<std::uint64_t> deviceOf(const std::filesystem::path &folder)
{
#ifdef _WIN32
    (void)folder;
    return std::nullopt;
#else
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_dev);
#endif
}

// Tells a file that is gone from a medium that is gone. When a stick is unmounted lazily in the
// middle of a pass (ejected by the desktop, or pulled out), the folder's path leads to the empty
// folder under the mount point and a rename answers ENOENT, just as for a file someone deleted.
// The folder is then on another file system than when the pass began, or cannot be reached.
class MediumCheck
{
public:
    explicit MediumCheck(const std::filesystem::path &folder) : m_device(deviceOf(folder)) {}

    RenameOutcome explain(const std::filesystem::path &folder, RenameOutcome outcome) const
    {
        if (outcome.error != RenameError::SourceMissing || !m_device)
            return outcome;
        if (deviceOf(folder) != m_device)
            outcome.error = RenameError::DeviceGone;
        return outcome;
    }

private:
    std::optional<std::uint64_t> m_device;
};

// Counts a file that was renamed, or fills in why it was not. False when the pass must end.
bool settle(PassResult &result, int index, const std::filesystem::path &name,
            const std::filesystem::path &newName, const RenameOutcome &outcome)
{
    if (outcome.ok()) {
        ++result.renamed;
        return true;
    }
    result.status = PassResult::Status::Failed;
    result.failedIndex = index;
    result.oldName = name;
    result.newName = newName;
    result.cause = outcome;
    return false;
}

} // namespace

bool hasOrderPrefix(std::string_view name)
{
    return startsWithFourDigits(name);
}

namespace {

// The walk both passes share: the progress start, then every listed index in order, the file's
// own work followed by its progress step, and the re-read of the list at the end. handleFile
// returns false when the file could not be renamed; it has then filled in the result.
template <typename BeforeFirst, typename HandleFile>
PassResult walkList(PassContext &ctx, BeforeFirst beforeFirst, HandleFile handleFile)
{
    PassResult result;
    if (ctx.list.count() < 1)
        return result; // EmptyList

    ctx.progress.start(ctx.list.count());
    beforeFirst();
    const MediumCheck medium(ctx.folder.folder());
    const int last = ctx.list.count() - 1;
    for (int i = 0; i <= last && i < ctx.list.count(); ++i) {
        if (!handleFile(i, medium, result))
            return result;
        if (!ctx.progress.step(i, ctx.list.count())) {
            result.status = PassResult::Status::Stopped;
            return result;
        }
    }
    result.refreshError = ctx.list.refresh();
    result.status = PassResult::Status::Completed;
    return result;
}

} // namespace

PassResult runShufflePass(PassContext ctx, RandomSource &random)
{
    const auto shuffleFile = [&](int i, const MediumCheck &medium, PassResult &result) {
        const std::filesystem::path folder = ctx.folder.folder();
        const std::filesystem::path name = ctx.list.name(i);
        const std::filesystem::path::string_type from = inFolder(folder, name.native());

        // A drawn name that is taken already gets a new draw; any other failure ends the pass.
        RenameOutcome outcome;
        std::filesystem::path::string_type newName;
        for (int draw = 0; draw < kPrefixDraws; ++draw) {
            const std::string digits = std::to_string(prefixValue(random.next()));
            newName.assign(digits.begin(), digits.end());
            newName += name.native();
            outcome = renameNoReplaceText(from, inFolder(folder, newName), ctx.renameCalls);
            if (outcome.error != RenameError::TargetExists)
                break;
        }
        return settle(result, i, name, newName, medium.explain(folder, outcome));
    };
    return walkList(
        ctx, [&] { random.reseed(); }, shuffleFile);
}

PassResult runRemovalPass(PassContext ctx)
{
    const auto stripFile = [&](int i, const MediumCheck &medium, PassResult &result) {
        const std::filesystem::path name = ctx.list.name(i);
        const auto &bytes = name.native();
        // The stripped name must not begin with ".": "1234.mp3" would become the hidden ".mp3".
        if (!startsWithFourDigits(bytes) || bytes.size() <= 4 || bytes[4] == '.')
            return true;
        const std::filesystem::path folder = ctx.folder.folder();
        const std::filesystem::path::string_type newName = bytes.substr(4);
        const RenameOutcome outcome = renameNoReplaceText(
            inFolder(folder, bytes), inFolder(folder, newName), ctx.renameCalls);
        return settle(result, i, name, newName, medium.explain(folder, outcome));
    };
    return walkList(
        ctx, [] {}, stripFile);
}

} // namespace korvalo

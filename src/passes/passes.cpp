#include "passes/passes.h"
#include "browse/mountinfo.h"
#include "passes/passlock.h"

#include <cstdint>
#include <optional>
#include <string>

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
    using Char = std::filesystem::path::value_type;
    constexpr Char separator = std::filesystem::path::preferred_separator;
    std::filesystem::path::string_type joined;
    joined.reserve(folder.native().size() + 1 + name.size());
    joined = folder.native();
    // A drive's root ("E:\") ends in a separator already.
    if (!joined.empty() && joined.back() != Char('/') && joined.back() != separator)
        joined += separator;
    joined += name;
    return joined;
}

// Tells a file that is gone from a folder that is gone and from a medium that is gone. All three
// make a rename answer ENOENT: when a stick is unmounted lazily in the middle of a pass (ejected by
// the desktop, or pulled out), the folder's path leads to the empty folder under the mount point;
// when the folder was moved or deleted, nothing answers to its path at all.
class MediumCheck
{
public:
    explicit MediumCheck(const std::filesystem::path &folder) : m_device(deviceOf(folder)) {}

    const std::optional<std::uint64_t> &device() const { return m_device; }

    RenameOutcome explain(const std::filesystem::path &folder, RenameOutcome outcome) const
    {
        if ((outcome.error != RenameError::SourceMissing &&
             outcome.error != RenameError::FolderGone) ||
            !m_device)
            return outcome;
        if (deviceOf(folder) == m_device) {
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

    // Before anything is renamed: the driver, then the volume's lock, held to the end. A folder
    // that cannot be stat'ed has neither; its first rename will say why.
    const std::filesystem::path startFolder = ctx.folder.folder();
    const MediumCheck medium(startFolder);
    std::optional<PassLock> lock;
    if (medium.device()) {
        result.device = *medium.device();
        if (const auto mount = mountOf(startFolder, VolumeProbe::MountTableOnly)) {
            result.mountPoint = mount->mountPoint;
            if (isUnsafeDriver(*mount)) {
                result.status = PassResult::Status::Refused;
                result.refusal = PassResult::Refusal::UnsafeDriver;
                return result;
            }
        }
        lock = PassLock::tryAcquire(*medium.device());
        if (!lock) {
            result.status = PassResult::Status::Refused;
            result.refusal = PassResult::Refusal::VolumeBusy;
            return result;
        }
    }

    ctx.progress.start(ctx.list.count());
    beforeFirst();
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
    Renamer renamer(ctx.renameCalls);
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
            outcome = renamer.renameText(from, inFolder(folder, newName));
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
    Renamer renamer(ctx.renameCalls);
    const auto stripFile = [&](int i, const MediumCheck &medium, PassResult &result) {
        const std::filesystem::path name = ctx.list.name(i);
        const auto &bytes = name.native();
        // The stripped name must not begin with ".": "1234.mp3" would become the hidden ".mp3".
        if (!startsWithFourDigits(bytes) || bytes.size() <= 4 || bytes[4] == '.')
            return true;
        const std::filesystem::path folder = ctx.folder.folder();
        const std::filesystem::path::string_type newName = bytes.substr(4);
        const RenameOutcome outcome =
            renamer.renameText(inFolder(folder, bytes), inFolder(folder, newName));
        return settle(result, i, name, newName, medium.explain(folder, outcome));
    };
    return walkList(
        ctx, [] {}, stripFile);
}

} // namespace korvalo

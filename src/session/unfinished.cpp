#include "session/unfinished.h"

#include "browse/mountinfo.h"
#include "browse/utf8path.h"
#include "browse/volumes.h"
#include "passes/journalfile.h"
#include "passes/journalformat.h"
#include "passes/journalkey.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace korvalo::session {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxRecordBytes = std::uint64_t(256) << 20;

// Where a folder of this key would be on each mounted volume, the path inside the volume joined
// to the mount point, with that mount point. Only a candidate whose own key is the record's is the
// folder.
struct Candidate
{
    fs::path mountPoint;
    fs::path folder;
};

std::vector<Candidate> candidates(const JournalKey &key)
{
    std::vector<Candidate> out;
    const fs::path inVolume = pathFromUtf8(key.pathInVolume).relative_path();
    if (key.volume.empty()) {
        out.push_back({fs::path(), pathFromUtf8(key.pathInVolume)}); // known by its path alone
        return out;
    }
    for (const MountEntry &mount : readMountTable()) {
        // A mount of a folder inside the volume holds only the paths below that folder.
        const fs::path root = pathFromUtf8(mount.root).relative_path();
        const fs::path below = inVolume.lexically_relative(root);
        if (below.empty() || *below.begin() == "..")
            continue;
        const fs::path mountPoint = pathFromUtf8(mount.mountPoint);
        out.push_back({mountPoint, (mountPoint / below).lexically_normal()});
    }
    return out;
}

void locate(UnfinishedPass &found)
{
    const std::vector<Candidate> all = candidates(found.key);
    for (const Candidate &c : all) {
        std::error_code ec;
        if (!fs::is_directory(c.folder, ec))
            continue;
        if (const std::optional<JournalKey> there = journalKeyOf(c.folder);
            there && *there == found.key) {
            found.folder = withoutTrailingSeparator(c.folder);
            found.volumePresent = true;
            return;
        }
    }
    // Not found: is its volume there at all?
    for (const Candidate &c : all) {
        if (c.mountPoint.empty())
            continue;
        if (const std::optional<JournalKey> there = journalKeyOf(c.mountPoint);
            there && there->volume == found.key.volume) {
            found.volumePresent = true;
            return;
        }
    }
}

} // namespace

std::vector<UnfinishedPass> unfinishedPasses(const fs::path &journalFolder)
{
    std::vector<UnfinishedPass> out;
    if (journalFolder.empty())
        return out;
    std::error_code ec;
    for (fs::directory_iterator it(journalFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != ".journal")
            continue;
        // Read as the journal reads its records: only a private file of ours, never through a
        // link, never a pipe, and never more than a record of a very large folder could hold.
        std::string text;
        if (journalfile::readFile(it->path(), text, kMaxRecordBytes) != 0)
            continue;
        journalformat::Parsed parsed = journalformat::parse(text);
        if (!parsed.valid || !parsed.pass || parsed.pass->end == PassEnd::Completed)
            continue;
        UnfinishedPass found{parsed.key, std::move(*parsed.pass), {}};
        locate(found);
        out.push_back(std::move(found));
    }
    std::sort(out.begin(), out.end(), [](const UnfinishedPass &a, const UnfinishedPass &b) {
        return a.pass.startTime < b.pass.startTime;
    });
    return out;
}

std::optional<StartUpOffer> startUpOffer(const std::vector<UnfinishedPass> &passes,
                                         const fs::path &shown)
{
    std::vector<UnfinishedPass> reachable;
    std::copy_if(passes.begin(), passes.end(), std::back_inserter(reachable),
                 [&](const UnfinishedPass &p) {
                     return !p.folder.empty() &&
                            p.folder != withoutTrailingSeparator(shown.lexically_normal());
                 });
    if (reachable.empty())
        return std::nullopt;
    StartUpOffer offer;
    offer.question = texts::unfinishedAtStartQuestion(reachable);
    for (const UnfinishedPass &p : reachable)
        offer.folders.push_back(p.folder);
    return offer;
}

} // namespace korvalo::session

#include "session/unfinished.h"

#include "browse/mountinfo.h"
#include "browse/utf8path.h"
#include "browse/volumes.h"
#include "journal/journalfile.h"
#include "journal/journalformat.h"
#include "journal/journalkey.h"
#include "session/texts.h"

#include "journal/passlock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace korvalo::session {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxRecordBytes = std::uint64_t(256) << 20;

// Runs `work` on a thread of its own and gives its result, or nothing when it has not answered
// within `limit`: a look-up on a mount that does not answer (a stopped FUSE daemon, a dead network
// share) would wait for good. The thread is then left to finish on its own, with the program at
// the latest; it works on copies, so nothing it touches goes away under it.
template <typename T, typename Work>
std::optional<T> withinLimit(std::chrono::milliseconds limit, Work work)
{
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<T> value;
    };
    const auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, work = std::move(work)]() mutable {
            T value = work();
            const std::lock_guard<std::mutex> hold(shared->mutex);
            shared->value = std::move(value);
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return std::nullopt; // no thread to be had: unchecked, as a look-up that did not answer
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->done.wait_for(lock, limit, [&] { return shared->value.has_value(); }))
        return std::nullopt;
    return std::move(shared->value);
}

// What one look-up of a folder found.
struct FolderLook
{
    bool found = false;  // the folder is there, and it is the record's
    bool locked = false; // another Korvalo holds its volume
};

// Is `folder` the record's folder, and is a pass running on its volume now?
FolderLook lookAt(const fs::path &folder, const JournalKey &key)
{
    FolderLook look;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return look;
    const std::optional<JournalKey> there = journalKeyOf(folder);
    look.found = there && *there == key;
    if (look.found) {
        if (const std::optional<std::uint64_t> device = deviceOf(folder))
            look.locked = PassLock::tryAcquire(PassLock::lockFolder(), *device).busy();
    }
    return look;
}

// The mounted volumes of one scan, each known by the key the journal gives its folders, found
// from the mount table and from what the mount's source holds, never by looking into the mount
// itself. A mount that did not answer once is not asked again in the same scan.
class MountScan
{
public:
    MountScan() : m_table(readMountTable()), m_volumes(m_table.size()), m_stuck(m_table.size()) {}

    std::size_t size() const { return m_table.size(); }
    const MountEntry &entry(std::size_t i) const { return m_table[i]; }
    bool stuck(std::size_t i) const { return m_stuck[i]; }
    void setStuck(std::size_t i) { m_stuck[i] = true; }

    // The journal's name of the volume mounted by entry i; nothing when that could not be told
    // in time.
    std::optional<std::string> volume(std::size_t i)
    {
        if (m_stuck[i])
            return std::nullopt;
        if (!m_volumes[i]) {
            const MountEntry entry = m_table[i];
            const auto volumeOf = [entry](bool identify) {
                const auto identifier = [](const MountEntry &e) { return identifyVolume(e); };
                const MountInfo info = mountFromTable(
                    entry.mountPoint, entry.device, {entry},
                    identify ? identifier : std::function<VolumeId(const MountEntry &)>());
                return journalKey(info).volume;
            };
            // The mount table alone names most volumes; the source is read for the rest. A table
            // that names no sources (Windows' drive letters) leaves the volume to be asked.
            std::optional<std::string> name = volumeOf(false);
            if (entry.source.empty())
                name = withinLimit<std::string>(kLookUpLimit, [entry] {
                    return journalKeyOf(entry.mountPoint).value_or(JournalKey{}).volume;
                });
            else if (needsSource(entry))
                name =
                    withinLimit<std::string>(kLookUpLimit, [volumeOf] { return volumeOf(true); });
            if (!name) {
                m_stuck[i] = true;
                return std::nullopt;
            }
            m_volumes[i] = std::move(name);
        }
        return m_volumes[i];
    }

private:
    static bool needsSource(const MountEntry &entry)
    {
        return entry.source.starts_with("/dev/") || entry.fsType == "fuse" ||
               entry.fsType == "fuseblk";
    }

    std::vector<MountEntry> m_table;
    std::vector<std::optional<std::string>> m_volumes;
    std::vector<bool> m_stuck;
};

// Where the folder of this key would be below a mount of its volume: the path inside the volume
// joined to the mount point; empty when the mount holds only another part of the volume.
fs::path folderBelow(const MountEntry &mount, const JournalKey &key)
{
    // A mount of a folder inside the volume holds only the paths below that folder.
    const fs::path inVolume = pathFromUtf8(key.pathInVolume).relative_path();
    const fs::path root = pathFromUtf8(mount.root).relative_path();
    const fs::path below = inVolume.lexically_relative(root);
    if (below.empty() || *below.begin() == "..")
        return fs::path();
    return (pathFromUtf8(mount.mountPoint) / below).lexically_normal();
}

void locate(UnfinishedPass &found, MountScan &scan)
{
    const JournalKey key = found.key;
    const auto look = [&](const fs::path &folder) {
        const std::optional<FolderLook> seen =
            withinLimit<FolderLook>(kLookUpLimit, [folder, key] { return lookAt(folder, key); });
        if (!seen)
            return false;
        if (seen->found) {
            found.folder = withoutTrailingSeparator(folder);
            found.volumePresent = true;
            found.running = seen->locked;
            found.unchecked = false;
        }
        return true;
    };
    if (key.volume.empty()) {
        // Known by its path alone.
        found.unchecked = !look(pathFromUtf8(key.pathInVolume));
        return;
    }
    bool unanswered = false;
    for (std::size_t i = 0; i < scan.size() && found.folder.empty(); ++i) {
        const std::optional<std::string> volume = scan.volume(i);
        if (!volume) {
            unanswered = true; // it may be this volume
            continue;
        }
        if (*volume != key.volume)
            continue;
        found.volumePresent = true;
        const fs::path folder = folderBelow(scan.entry(i), key);
        if (folder.empty())
            continue;
        if (!look(folder)) {
            scan.setStuck(i);
            unanswered = true;
        }
    }
    // Not found where it could be looked for: where a mount did not answer, it may be there.
    found.unchecked = found.folder.empty() && unanswered;
}

} // namespace

std::vector<UnfinishedPass> unfinishedPasses(const fs::path &journalFolder)
{
    std::vector<UnfinishedPass> out;
    if (journalFolder.empty())
        return out;
    MountScan scan;
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
        locate(found, scan);
        out.push_back(std::move(found));
    }
    std::sort(out.begin(), out.end(), [](const UnfinishedPass &a, const UnfinishedPass &b) {
        return a.pass.startTime < b.pass.startTime;
    });
    return out;
}

StartUpScan::StartUpScan(std::function<void(std::vector<UnfinishedPass>)> done,
                         fs::path journalFolder)
    : m_thread([done = std::move(done), journalFolder = std::move(journalFolder)] {
          done(unfinishedPasses(journalFolder));
      })
{
}

StartUpScan::~StartUpScan()
{
    m_thread.join();
}

std::optional<StartUpOffer> startUpOffer(const std::vector<UnfinishedPass> &passes,
                                         const fs::path &shown)
{
    std::vector<UnfinishedPass> reachable;
    std::copy_if(passes.begin(), passes.end(), std::back_inserter(reachable),
                 [&](const UnfinishedPass &p) {
                     // A pass running now is another Korvalo's business.
                     return !p.folder.empty() && !p.running &&
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

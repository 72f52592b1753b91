#include "passes/journal.h"

#include "passes/journalfold.h"
#include "passes/journalformat.h"

#include <algorithm>
#include <system_error>

namespace korvalo {

using namespace journalformat;

namespace {

constexpr std::string_view kSuffix = ".journal";

// The largest record read. A record holds what is known of one folder and at most one pass over
// it, a line per file: far below this even for tens of thousands of long names. Anything larger
// was not written by Korvalo, and reading it whole (a link to /dev/zero) would exhaust memory.
constexpr std::uint64_t kMaxRecordBytes = std::uint64_t(64) << 20;

// Reads a whole record: a private regular file, never through a link, never waiting on a pipe.
// 0, or the error number (see journalfile.h).
int readAll(const std::filesystem::path &path, std::string &out)
{
    return journalfile::readFile(path, out, kMaxRecordBytes);
}

JournalError error(JournalError::Kind kind, int osError, std::filesystem::path path)
{
    return JournalError{kind, osError, std::move(path)};
}

} // namespace

Journal::Journal(std::filesystem::path folder, int maxRecords)
    : m_folder(std::move(folder)), m_maxRecords(std::max(maxRecords, 1))
{
}

Journal::~Journal() = default;

// Where the key's record is: its hash names the file; should another key have the same hash, the
// next free variant is used.
JournalError Journal::locate(const JournalKey &key, std::filesystem::path &path, bool &exists) const
{
    if (m_folder.empty())
        return error(JournalError::Kind::NoStateFolder, 0, {});
    const std::string hash = keyHash(key);
    for (int variant = 0;; ++variant) {
        std::string name = hash;
        if (variant > 0)
            name += '-' + std::to_string(variant);
        name += kSuffix;
        path = m_folder / name;
        // Whatever has the name counts, a link too: it is then refused when read, not followed.
        std::error_code ec;
        const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
        if (ec && ec != std::errc::no_such_file_or_directory)
            return error(JournalError::Kind::Read, ec.value(), path);
        exists = std::filesystem::exists(status);
        if (!exists)
            return {};
        std::string text;
        if (const int err = readAll(path, text))
            return error(JournalError::Kind::Read, err, path);
        const Parsed p = parse(text, true);
        // A file too damaged to name its key is taken as this key's, and replaced when written.
        if (!p.valid || p.key == key)
            return {};
    }
}

JournalError Journal::load(const JournalKey &key, FolderRecord &out) const
{
    out = FolderRecord();
    std::filesystem::path path;
    bool exists = false;
    if (JournalError err = locate(key, path, exists); !err.ok() || !exists)
        return err;
    std::string text;
    if (const int err = readAll(path, text))
        return error(JournalError::Kind::Read, err, path);
    Parsed p = parse(text);
    out.tornTail = p.torn;
    if (!p.valid)
        return {};
    out.known = true;
    out.prefixed = std::move(p.prefixed);
    if (p.pass && p.pass->end == PassEnd::Completed) {
        fold(*p.pass, statesAsRecorded(*p.pass), out.prefixed);
        out.passToFold = true;
    } else {
        out.pending = std::move(p.pass);
    }
    return {};
}

void Journal::dropOldRecords(const std::filesystem::path &keep) const
{
    // A file left by a writer killed before its rename is long stale after this while.
    constexpr auto kStaleTemporary = std::chrono::hours(1);
    const auto now = std::filesystem::file_time_type::clock::now();
    std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> records;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(m_folder, ec)) {
        const std::filesystem::path &p = entry.path();
        // Only regular files: a link is neither followed nor counted, a folder never emptied.
        std::error_code statusEc;
        if (!std::filesystem::is_regular_file(entry.symlink_status(statusEc)) || p == keep)
            continue;
        std::error_code timeEc;
        const auto time = std::filesystem::last_write_time(p, timeEc);
        if (timeEc)
            continue;
        if (journalfile::isTemporaryName(p)) {
            std::error_code removeEc;
            if (now - time > kStaleTemporary)
                std::filesystem::remove(p, removeEc);
            continue;
        }
        if (p.extension() == kSuffix)
            records.emplace_back(time, p);
    }
    // Room for the new record.
    std::size_t excess = records.size() + 1 > static_cast<std::size_t>(m_maxRecords)
                             ? records.size() + 1 - static_cast<std::size_t>(m_maxRecords)
                             : 0;
    std::sort(records.begin(), records.end());
    for (const auto &[time, path] : records) {
        if (excess == 0)
            break;
        // A record that cannot be read as a private file of ours (another user's, swapped for a
        // link meanwhile) is left alone.
        std::string text;
        if (readAll(path, text) != 0)
            continue;
        const Parsed p = parse(text);
        if (p.pass && p.pass->end != PassEnd::Completed)
            continue; // a folder still to be recovered
        // Removes the name itself: a link put there since would go, not what it points to.
        std::error_code removeEc;
        if (std::filesystem::remove(path, removeEc))
            --excess;
    }
}

JournalError Journal::beginPass(const JournalKey &key, const PassStart &start)
{
    if (passOpen())
        return error(JournalError::Kind::PassOpen, 0, m_path);
    if (m_folder.empty())
        return error(JournalError::Kind::NoStateFolder, 0, {});
    if (const int err = journalfile::makeFolder(m_folder))
        return error(JournalError::Kind::Folder, err, m_folder);

    std::filesystem::path path;
    bool exists = false;
    if (JournalError err = locate(key, path, exists); !err.ok())
        return err;
    std::map<FileName, int> prefixed;
    // A record that holds only what is known of the folder gets the pass appended. Any other is
    // written afresh first: a new one, one with a pass to fold in, or one whose last line was cut
    // off (lines after it would not be read).
    bool rewrite = !exists;
    if (exists) {
        std::string text;
        if (const int err = readAll(path, text))
            return error(JournalError::Kind::Read, err, path);
        Parsed p = parse(text);
        rewrite = !p.valid || p.torn || p.pass;
        if (p.valid) {
            prefixed = std::move(p.prefixed);
            if (p.pass && p.pass->end == PassEnd::Completed) {
                fold(*p.pass, statesAsRecorded(*p.pass), prefixed);
            } else if (p.pass) {
                if (!start.settlePending)
                    return error(JournalError::Kind::PassPending, 0, path);
                fold(*p.pass, fileStates(*p.pass, start.listed), prefixed);
            }
        }
    } else {
        dropOldRecords(path);
    }
    prune(prefixed, start.listed);

    PassRecord pass;
    pass.kind = start.kind;
    pass.startTime = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    pass.fileCount = start.fileCount;
    pass.orderFolder = start.orderFolder;
    pass.files.assign(start.planned.begin(), start.planned.end());
    pass.refused.assign(pass.files.size(), false);

    std::string lines = rewrite ? knownLines(key, prefixed) : std::string();
    lines += passLine(pass);
    appendFileLines(lines, start.planned);
    if (rewrite) {
        if (const int err = journalfile::replaceFile(path, lines, journalfile::Lasting::Now))
            return error(JournalError::Kind::Write, err, path);
        if (const int err = m_file.open(path))
            return error(JournalError::Kind::Write, err, path);
    } else {
        // The pass's first records are made lasting before its first rename.
        int err = m_file.open(path);
        if (!err)
            err = m_file.append(lines);
        if (!err)
            err = m_file.sync();
        if (err) {
            m_file.close();
            return error(JournalError::Kind::Write, err, path);
        }
    }

    m_path = std::move(path);
    m_key = key;
    m_prefixed = std::move(prefixed);
    m_pass = std::move(pass);
    m_lastSync = std::chrono::steady_clock::now();
    return {};
}

JournalError Journal::appendLine(const std::string &text)
{
    if (!passOpen())
        return error(JournalError::Kind::NoPass, 0, {});
    if (const int err = m_file.append(text))
        return error(JournalError::Kind::Write, err, m_path);
    return maybeSync(false);
}

JournalError Journal::maybeSync(bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastSync < kSyncInterval)
        return {};
    m_lastSync = now;
    if (const int err = m_file.sync())
        return error(JournalError::Kind::Sync, err, m_path);
    return {};
}

JournalError Journal::announce(std::span<const PlannedRename> more)
{
    if (!passOpen())
        return error(JournalError::Kind::NoPass, 0, {});
    std::string text;
    appendFileLines(text, more);
    if (JournalError err = appendLine(text); !err.ok())
        return err;
    m_pass.files.insert(m_pass.files.end(), more.begin(), more.end());
    m_pass.refused.resize(m_pass.files.size(), false);
    return {};
}

JournalError Journal::revise(int index, const FileName &to)
{
    if (!passOpen())
        return error(JournalError::Kind::NoPass, 0, {});
    if (index < 0 || index >= static_cast<int>(m_pass.files.size()))
        return error(JournalError::Kind::Write, EINVAL, m_path);
    if (JournalError err = appendLine(reviseLine(index, to)); !err.ok())
        return err;
    m_pass.files[static_cast<std::size_t>(index)].to = to;
    return {};
}

JournalError Journal::refused(int index)
{
    if (!passOpen())
        return error(JournalError::Kind::NoPass, 0, {});
    if (index < 0 || index >= static_cast<int>(m_pass.files.size()))
        return error(JournalError::Kind::Write, EINVAL, m_path);
    if (JournalError err = appendLine(refusedLine(index)); !err.ok())
        return err;
    m_pass.refused[static_cast<std::size_t>(index)] = true;
    return {};
}

JournalError Journal::endPass(PassEnd end, int attempted)
{
    if (!passOpen())
        return error(JournalError::Kind::NoPass, 0, {});
    attempted = std::clamp(attempted, 0, static_cast<int>(m_pass.files.size()));
    m_pass.end = end;
    m_pass.attempted = attempted;
    JournalError result;
    if (const int err = m_file.append(endLine(end, attempted)))
        result = error(JournalError::Kind::Write, err, m_path);
    if (end != PassEnd::Completed) {
        if (JournalError err = maybeSync(true); result.ok())
            result = err;
    }
    // A completed pass is folded into what is known of the folder when the folder is next opened
    // (foldCompleted()) or the next pass starts, not here: that costs the pass nothing at its end.
    // The end line is not made lasting at once; lost in a power cut, the record shows a pass
    // without an end, and the folder shows that every file was renamed.
    m_file.close();
    m_pass = PassRecord();
    m_prefixed.clear();
    return result;
}

JournalError Journal::settle(const JournalKey &key, std::span<const FileName> folderNames)
{
    return rewrite(key, folderNames, false);
}

JournalError Journal::foldCompleted(const JournalKey &key)
{
    return rewrite(key, {}, true);
}

JournalError Journal::rewrite(const JournalKey &key, std::span<const FileName> folderNames,
                              bool completedOnly)
{
    if (m_folder.empty())
        return error(JournalError::Kind::NoStateFolder, 0, {});
    std::filesystem::path path;
    bool exists = false;
    if (JournalError err = locate(key, path, exists); !err.ok() || !exists)
        return err;
    std::string text;
    if (const int err = readAll(path, text))
        return error(JournalError::Kind::Read, err, path);
    Parsed p = parse(text);
    if (!p.valid)
        return {};
    const bool completed = p.pass && p.pass->end == PassEnd::Completed;
    if (completedOnly && !completed)
        return {};
    if (p.pass) {
        fold(*p.pass, completed ? statesAsRecorded(*p.pass) : fileStates(*p.pass, folderNames),
             p.prefixed);
    }
    prune(p.prefixed, folderNames);
    if (const int err = journalfile::replaceFile(path, knownLines(key, p.prefixed),
                                                 journalfile::Lasting::Eventually))
        return error(JournalError::Kind::Write, err, path);
    return {};
}

} // namespace korvalo

#include "passes/journal.h"

#include "passes/journalfold.h"
#include "passes/journalformat.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace korvalo {

using namespace journalformat;

namespace {

constexpr std::string_view kSuffix = ".journal";

// Reads a whole record of at most `maxBytes`. 0, or the error number: EFBIG when the file is
// larger (what was read is left out), ELOOP for a link and EINVAL for anything but a regular file
// (Korvalo writes neither). It never reads more than `maxBytes` and a byte, whatever the file.
int readRecord(const std::filesystem::path &path, std::string &out, std::uintmax_t maxBytes)
{
    out.clear();
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    if (ec)
        return ec.value();
    if (std::filesystem::is_symlink(status))
        return ELOOP;
    if (!std::filesystem::is_regular_file(status))
        return EINVAL;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > maxBytes)
        return EFBIG;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::filesystem::exists(path, ec) ? EACCES : ENOENT;
    // Read in place, in one piece when the size is known: a character or a block at a time would
    // take longer than parsing what it reads. A byte more than the size tells a file that grew.
    std::uintmax_t chunk = ec ? std::uintmax_t(1) << 16 : size + 1;
    for (;;) {
        const std::size_t have = out.size();
        const std::uintmax_t room = maxBytes + 1 - have;
        const std::size_t want = static_cast<std::size_t>(std::min(chunk, room));
        if (want == 0)
            break;
        out.resize(have + want);
        in.read(out.data() + have, static_cast<std::streamsize>(want));
        out.resize(have + static_cast<std::size_t>(in.gcount()));
        if (static_cast<std::size_t>(in.gcount()) < want)
            break;
        chunk = std::uintmax_t(1) << 16;
    }
    if (in.bad())
        return EIO;
    if (out.size() > maxBytes) {
        out.clear();
        return EFBIG;
    }
    return 0;
}

JournalError error(JournalError::Kind kind, int osError, std::filesystem::path path)
{
    return JournalError{kind, osError, std::move(path)};
}

// A record that is too large, or no file Korvalo wrote, is damaged; anything else is an error of
// reading.
JournalError readError(int err, std::filesystem::path path)
{
    const bool damaged = err == EFBIG || err == ELOOP || err == EINVAL;
    return error(damaged ? JournalError::Kind::Damaged : JournalError::Kind::Read, err,
                 std::move(path));
}

// "20261208-153000Z": when a damaged record was set aside.
std::string utcStamp()
{
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02u%02u-%02d%02d%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

} // namespace

Journal::Journal(std::filesystem::path folder, int maxRecords)
    : m_folder(std::move(folder)), m_maxRecords(std::max(maxRecords, 1))
{
}

Journal::~Journal() = default;

void Journal::setFolder(const std::filesystem::path &musicFolder)
{
    m_musicFolder = musicFolder;
    m_musicEntries.reset();
}

JournalError Journal::readBounded(const std::filesystem::path &path, std::string &text) const
{
    int err = readRecord(path, text, kRecordSizeFloor);
    if (err == EFBIG && !m_musicFolder.empty()) {
        if (!m_musicEntries) {
            std::uintmax_t entries = 0;
            std::error_code ec;
            for (std::filesystem::directory_iterator it(m_musicFolder, ec), end; !ec && it != end;
                 it.increment(ec))
                ++entries;
            m_musicEntries = entries;
        }
        if (const std::uintmax_t bound = recordSizeBound(*m_musicEntries); bound > kRecordSizeFloor)
            err = readRecord(path, text, bound);
    }
    return err ? readError(err, path) : JournalError{};
}

// Where the key's record is: its hash names the file; should another key have the same hash, the
// next free variant is used. A file whose key cannot be read is nobody's to replace: damaged.
JournalError Journal::locate(const JournalKey &key, std::filesystem::path &path, bool &exists,
                             std::string &text) const
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
        std::error_code ec;
        const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
        if (!std::filesystem::status_known(status))
            return error(JournalError::Kind::Read, ec.value(), path);
        exists = std::filesystem::exists(status);
        if (!exists)
            return {};
        if (JournalError err = readBounded(path, text); !err.ok())
            return err;
        const Parsed p = parse(text, true);
        if (!p.valid)
            return error(JournalError::Kind::Damaged, 0, path);
        if (p.key == key)
            return {};
    }
}

JournalError Journal::load(const JournalKey &key, FolderRecord &out) const
{
    out = FolderRecord();
    std::filesystem::path path;
    bool exists = false;
    std::string text;
    if (JournalError err = locate(key, path, exists, text); !err.ok() || !exists)
        return err;
    Parsed p = parse(text);
    if (!p.valid)
        return error(JournalError::Kind::Damaged, 0, path);
    out.tornTail = p.torn;
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
    std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> records;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(m_folder, ec)) {
        const std::filesystem::path &p = entry.path();
        if (p.extension() != kSuffix || p == keep)
            continue;
        std::error_code timeEc;
        const auto time = std::filesystem::last_write_time(p, timeEc);
        if (!timeEc)
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
        // A folder still to be recovered, and a record that is damaged or too large to read, are
        // kept: the user is told of them when the folder is opened.
        std::string text;
        if (readRecord(path, text, kRecordSizeFloor) != 0)
            continue;
        const Parsed p = parse(text);
        if (!p.valid || (p.pass && p.pass->end != PassEnd::Completed))
            continue;
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
    std::string text;
    if (JournalError err = locate(key, path, exists, text); !err.ok())
        return err;
    std::map<FileName, int> prefixed;
    // A record that holds only what is known of the folder gets the pass appended. Any other is
    // written afresh first: a new one, one with a pass to fold in, or one whose last line was cut
    // off (lines after it would not be read).
    bool rewrite = !exists;
    if (exists) {
        Parsed p = parse(text);
        if (!p.valid)
            return error(JournalError::Kind::Damaged, 0, path);
        rewrite = p.torn || p.pass || p.version != 2;
        prefixed = std::move(p.prefixed);
        if (p.pass && p.pass->end == PassEnd::Completed) {
            fold(*p.pass, statesAsRecorded(*p.pass), prefixed);
        } else if (p.pass) {
            if (!start.settlePending)
                return error(JournalError::Kind::PassPending, 0, path);
            fold(*p.pass, fileStates(*p.pass, start.listed), prefixed);
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
    const FileName &from = m_pass.files[static_cast<std::size_t>(index)].from;
    if (JournalError err = appendLine(reviseLine(index, from, to)); !err.ok())
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
    std::string text;
    if (JournalError err = locate(key, path, exists, text); !err.ok() || !exists)
        return err;
    Parsed p = parse(text);
    if (!p.valid)
        return error(JournalError::Kind::Damaged, 0, path);
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

JournalError Journal::setAsideDamaged(const JournalKey &key, std::filesystem::path &keptAs)
{
    keptAs.clear();
    std::filesystem::path path;
    bool exists = false;
    std::string text;
    if (const JournalError err = locate(key, path, exists, text); !err.ok()) {
        if (err.kind != JournalError::Kind::Damaged)
            return err;
        path = err.path;
    } else if (!exists || parse(text).valid) {
        return {};
    }
    const std::string stamp = utcStamp();
    for (int n = 1; n <= 100; ++n) {
        std::filesystem::path aside = path;
        aside += ".damaged-" + stamp + (n > 1 ? '-' + std::to_string(n) : std::string());
        const int err = journalfile::keepAside(path, aside);
        if (err == 0) {
            keptAs = std::move(aside);
            return {};
        }
        if (err != EEXIST)
            return error(JournalError::Kind::Write, err, path);
    }
    return error(JournalError::Kind::Write, EEXIST, path);
}

} // namespace korvalo

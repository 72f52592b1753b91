#include "journal/journal.h"

#include "journal/journalfold.h"
#include "journal/journalformat.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace korvalo {

using namespace journalformat;

namespace {

constexpr std::string_view kSuffix = ".journal";

JournalError error(JournalError::Kind kind, int osError, std::filesystem::path path)
{
    return JournalError{kind, osError, std::move(path)};
}

// The variant a file name gives among the files of one key's hash ("HASH.journal" is 0,
// "HASH-N.journal" is N); -1 for any other name. Compared as the file system's own characters:
// the folder may hold names that do not convert.
int variantOf(const FileName &name, std::string_view hash)
{
    const auto ascii = [](std::string_view text) { return FileName(text.begin(), text.end()); };
    const FileName head = ascii(hash), tail = ascii(kSuffix);
    if (name.size() < head.size() + tail.size() || !name.starts_with(head) || !name.ends_with(tail))
        return -1;
    const FileName middle = name.substr(head.size(), name.size() - head.size() - tail.size());
    if (middle.empty())
        return 0;
    if (middle.size() < 2 || middle.size() > 6 || middle[0] != '-' || middle[1] == '0')
        return -1;
    int variant = 0;
    for (std::size_t i = 1; i < middle.size(); ++i) {
        if (middle[i] < '0' || middle[i] > '9')
            return -1;
        variant = variant * 10 + static_cast<int>(middle[i] - '0');
    }
    return variant;
}

// The stick's identity a record is written with: the folder's when it can be read, else the one
// the record has (the folder may well be on that stick; nothing says otherwise).
const std::string &stickToWrite(const JournalKey &key, const Parsed &p)
{
    return key.stick.empty() ? p.stick : key.stick;
}

// A record that is too large, or no private file Korvalo wrote (a link, a folder, a pipe, another
// user's file), is damaged; anything else is an error of reading.
JournalError readError(int err, std::filesystem::path path)
{
    const bool damaged = journalfile::misfitOf(err) != journalfile::Misfit::None;
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

Journal::Journal(std::filesystem::path folder, int maxRecords, std::filesystem::path lockFolder)
    : m_folder(std::move(folder)), m_maxRecords(std::max(maxRecords, 1)),
      m_lockFolder(std::move(lockFolder))
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
    int err = journalfile::readFile(path, text, kRecordSizeFloor);
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
            err = journalfile::readFile(path, text, bound);
    }
    return err ? readError(err, path) : JournalError{};
}

// The key's record among the files its hash names (another key may have the same hash, and
// sticks written from one image have the same key): the one of the key's stick, else the first
// whose stick or the folder's is unknown, which is taken as this folder's. A record of another
// stick is never this folder's. Without one, `path` is the first free name.
JournalError Journal::findRecord(const JournalKey &key, std::filesystem::path &path,
                                 bool &found) const
{
    const std::string hash = keyHash(key);
    std::vector<int> variants;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(m_folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const int variant = variantOf(it->path().filename().native(), hash);
        if (variant >= 0)
            variants.push_back(variant);
    }
    if (ec && ec != std::errc::no_such_file_or_directory)
        return error(JournalError::Kind::Read, ec.value(), m_folder);
    std::sort(variants.begin(), variants.end());
    const auto nameOf = [&](int variant) {
        return m_folder / (hash + (variant > 0 ? '-' + std::to_string(variant) : std::string()) +
                           std::string(kSuffix));
    };
    found = false;
    int free = 0;
    for (const int variant : variants) {
        if (variant == free)
            ++free;
        const std::filesystem::path candidate = nameOf(variant);
        std::string text;
        if (JournalError err = readBounded(candidate, text); !err.ok()) {
            if (err.osError == ENOENT)
                continue; // removed meanwhile
            return err;
        }
        const Parsed p = parse(text, true);
        // A file too damaged to name its key is taken as this key's, and found damaged when read:
        // nobody's to replace.
        if (p.valid && !(p.key == key))
            continue;
        const bool bothKnown = p.valid && !p.stick.empty() && !key.stick.empty();
        if (bothKnown && p.stick != key.stick)
            continue; // another stick's
        if (!found || bothKnown) {
            path = candidate;
            found = true;
        }
        if (bothKnown)
            return {};
    }
    if (!found)
        path = nameOf(free);
    return {};
}

JournalError Journal::locate(const JournalKey &key, Location &where) const
{
    if (m_folder.empty())
        return error(JournalError::Kind::NoStateFolder, 0, {});
    where = Location();
    if (JournalError err = findRecord(key, where.path, where.exists); !err.ok())
        return err;
    where.writeTo = where.path;
    // Written before under the letter case typed, or under the device's name while the volume's
    // UUID could not be read: read there, written under the key's own name.
    std::vector<JournalKey> former;
    if (!key.typedPath.empty())
        former.push_back({key.volume, key.typedPath});
    if (!key.sourceVolume.empty() && key.sourceVolume != key.volume) {
        former.push_back({key.sourceVolume, key.pathInVolume});
        if (!key.typedPath.empty())
            former.push_back({key.sourceVolume, key.typedPath});
    }
    for (JournalKey &other : former) {
        if (where.exists)
            break;
        other.stick = key.stick;
        std::filesystem::path old;
        bool found = false;
        if (JournalError err = findRecord(other, old, found); !err.ok())
            return err;
        if (found) {
            where.path = std::move(old);
            where.exists = true;
        }
    }
    return {};
}

// Takes the lock keyed by the record of `key` (clones of a stick share the key, so they share it
// too). A record write is short: another writer is waited for a moment before giving up.
JournalError Journal::lockRecord(const JournalKey &key, std::optional<PassLock> &lock) const
{
    LockAttempt attempt = PassLock::acquireRecord(m_lockFolder, keyHash(key));
    if (attempt.unavailable)
        return error(JournalError::Kind::Folder, attempt.unavailable->osError,
                     attempt.unavailable->path);
    if (attempt.busy())
        return error(JournalError::Kind::RecordBusy, 0, m_folder);
    lock = std::move(attempt.lock);
    return {};
}

// Every write of a record file goes through here, under the record's lock (lockRecord(), taken
// before the record is read for the write); the lines a pass adds later go to the file opened
// here for it (m_file) until endPass().
JournalError Journal::writeRecord(const Location &where, std::string_view text, RecordWrite how)
{
    const std::filesystem::path &path = where.writeTo;
    int err = 0;
    switch (how) {
    case RecordWrite::Rewrite:
        err = journalfile::replaceFile(path, text, journalfile::Lasting::Eventually);
        break;
    case RecordWrite::RewriteForPass:
        err = journalfile::replaceFile(path, text, journalfile::Lasting::Now);
        if (!err)
            err = m_file.open(path);
        break;
    case RecordWrite::AppendForPass:
        // The pass's first records are made lasting before its first rename.
        err = m_file.open(path);
        if (!err)
            err = m_file.append(text);
        if (!err)
            err = m_file.sync();
        if (err)
            m_file.close();
        break;
    }
    if (err)
        return error(JournalError::Kind::Write, err, path);
    // A record read under the letter case typed lives under its key's own name now.
    if (where.path != path) {
        std::error_code ec;
        std::filesystem::remove(where.path, ec);
    }
    return {};
}

std::shared_ptr<const Parsed> Journal::parseRecord(std::string &&text) const
{
    const std::lock_guard<std::mutex> hold(m_parsedMutex);
    if (!m_parsed || text != m_parsedText) {
        static std::atomic<std::uint64_t> generations{0};
        m_parsed = std::make_shared<const Parsed>(parse(text));
        m_parsedText = std::move(text);
        m_parsedGeneration = ++generations;
    }
    return m_parsed;
}

std::uint64_t Journal::lastReadGeneration() const
{
    const std::lock_guard<std::mutex> hold(m_parsedMutex);
    return m_parsedGeneration;
}

JournalError Journal::readRecord(const JournalKey &key, StoredRecord &out,
                                 std::optional<std::span<const FileName>> settleAgainst) const
{
    out = StoredRecord();
    if (JournalError err = locate(key, out.where); !err.ok() || !out.where.exists)
        return err;
    std::string text;
    if (JournalError err = readBounded(out.where.path, text); !err.ok())
        return err;
    out.parsed = parseRecord(std::move(text));
    const Parsed &p = *out.parsed;
    if (!p.valid)
        return error(JournalError::Kind::Damaged, 0, out.where.path);
    out.prefixed = p.prefixed;
    if (p.pass && p.pass->end == PassEnd::Completed) {
        fold(*p.pass, statesAsRecorded(*p.pass), out.prefixed);
        out.completed = true;
    } else if (p.pass && settleAgainst) {
        fold(*p.pass, fileStates(*p.pass, *settleAgainst), out.prefixed);
    } else if (p.pass) {
        out.unfinished = true;
    }
    return {};
}

JournalError Journal::load(const JournalKey &key, FolderRecord &out) const
{
    out = FolderRecord();
    StoredRecord record;
    if (JournalError err = readRecord(key, record); !err.ok() || !record.parsed)
        return err;
    const Parsed &p = *record.parsed;
    out.tornTail = p.torn;
    out.known = true;
    out.stick = p.stick;
    out.prefixed = std::move(record.prefixed);
    out.passToFold = record.completed;
    if (record.unfinished)
        out.pending = p.pass;
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
        // A folder still to be recovered, and a record that is damaged or too large to read, are
        // kept: the user is told of them when the folder is opened.
        std::string text;
        if (journalfile::readFile(path, text, kRecordSizeFloor) != 0)
            continue;
        const Parsed p = parse(text);
        if (!p.valid || (p.pass && p.pass->end != PassEnd::Completed))
            continue;
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
    // Held to the pass's end; let go here if the pass does not begin.
    if (JournalError err = lockRecord(key, m_recordLock); !err.ok())
        return err;
    struct ReleaseUnlessBegun
    {
        std::optional<PassLock> &lock;
        const journalfile::AppendFile &file;
        ~ReleaseUnlessBegun()
        {
            if (!file.isOpen())
                lock.reset();
        }
    } release{m_recordLock, m_file};

    StoredRecord record;
    if (JournalError err = readRecord(
            key, record, start.settlePending ? std::optional(start.listed) : std::nullopt);
        !err.ok())
        return err;
    const Location &where = record.where;
    std::map<FileName, int> prefixed = std::move(record.prefixed);
    std::string stick = key.stick;
    // A record that holds only what is known of the folder gets the pass appended. Any other is
    // written afresh first: a new one, one with a pass to fold in, one whose last line was cut
    // off (lines after it would not be read), one without the stick's identity, or one found
    // under the letter case typed.
    bool rewrite = !where.exists;
    if (record.parsed) {
        const Parsed &p = *record.parsed;
        if (record.unfinished)
            return error(JournalError::Kind::PassPending, 0, where.path);
        stick = stickToWrite(key, p);
        rewrite =
            p.torn || p.pass || p.version != 2 || p.stick != stick || where.path != where.writeTo;
    } else {
        dropOldRecords(where.writeTo);
    }
    // Names gone from the folder are forgotten. An appended record would keep them: the record is
    // written afresh when any went.
    const std::size_t known = prefixed.size();
    prune(prefixed, start.listed);
    rewrite = rewrite || prefixed.size() != known;

    PassRecord pass;
    pass.kind = start.kind;
    pass.startTime = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    pass.fileCount = start.fileCount;
    pass.orderFolder = start.orderFolder;
    pass.files.assign(start.planned.begin(), start.planned.end());
    pass.refused.assign(pass.files.size(), false);

    std::string lines = rewrite ? knownLines(key, stick, prefixed) : std::string();
    lines += passLine(pass);
    appendFileLines(lines, start.planned);
    if (JournalError err = writeRecord(
            where, lines, rewrite ? RecordWrite::RewriteForPass : RecordWrite::AppendForPass);
        !err.ok())
        return err;

    m_path = where.writeTo;
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
    m_recordLock.reset();
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
    std::optional<PassLock> lock;
    if (passOpen() && key == m_key) {
        // This journal's own pass holds the record's lock already.
    } else if (JournalError err = lockRecord(key, lock); !err.ok()) {
        return err;
    }
    StoredRecord record;
    if (JournalError err =
            readRecord(key, record, completedOnly ? std::nullopt : std::optional(folderNames));
        !err.ok() || !record.parsed)
        return err;
    if (completedOnly && !record.completed)
        return {};
    prune(record.prefixed, folderNames);
    return writeRecord(record.where,
                       knownLines(key, stickToWrite(key, *record.parsed), record.prefixed),
                       RecordWrite::Rewrite);
}

JournalError Journal::setAsideDamaged(const JournalKey &key, std::filesystem::path &keptAs)
{
    keptAs.clear();
    if (m_folder.empty())
        return error(JournalError::Kind::NoStateFolder, 0, {});
    std::optional<PassLock> lock;
    if (JournalError err = lockRecord(key, lock); !err.ok())
        return err;
    std::filesystem::path path;
    Location where;
    if (const JournalError err = locate(key, where); !err.ok()) {
        if (err.kind != JournalError::Kind::Damaged)
            return err;
        path = err.path;
    } else if (!where.exists) {
        return {};
    } else {
        std::string text;
        if (const JournalError err = readBounded(where.path, text); !err.ok()) {
            if (err.kind != JournalError::Kind::Damaged)
                return err;
        } else if (parse(text).valid) {
            return {};
        }
        path = where.path;
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

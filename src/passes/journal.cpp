#include "passes/journal.h"

#include "passes/recovery.h"

#include "browse/asciichars.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <unordered_set>

// The record of one folder is a text file of lines, each ended by "\n":
//
//   korvalo-journal 1
//   key VOLUME PATH              the folder's key
//   has NAME DEPTH               a name carrying DEPTH prefixes that Korvalo wrote
//   pass KIND START COUNT        a pass began (shuffle, removal, restore or order; seconds; files)
//   dir NAME                     an order pass's files pass through the folder NAME
//   f FROM TO                    the pass will rename FROM to TO (the files in pass order)
//   r INDEX TO                   the file at INDEX will be renamed to TO instead
//   no INDEX                     the rename of the file at INDEX was refused
//   end HOW ATTEMPTED            the pass ended (completed, stopped or failed)
//
// Names are percent-encoded: printable ASCII other than "%" stays, every other byte is "%XX"
// (a UTF-16 unit above 0xFF is "%uXXXX"), and an empty text is a lone "%". A last line without
// its "\n", or any line that cannot be read, ends the record there: it was cut off by a kill or a
// power cut while being appended.

namespace korvalo {

namespace {

constexpr std::string_view kMagic = "korvalo-journal 1";
constexpr std::string_view kSuffix = ".journal";
constexpr char kHex[] = "0123456789ABCDEF";

template <typename Unit> bool keptAsIs(Unit u)
{
    return u > 0x20 && u < 0x7F && u != '%';
}

template <typename String> void encodeTo(std::string &out, const String &text)
{
    using Unit = std::make_unsigned_t<typename String::value_type>;
    if (text.empty()) {
        out += '%';
        return;
    }
    // A pass writes names for every file: runs of plain characters are copied whole.
    if constexpr (sizeof(typename String::value_type) == 1) {
        const char *p = text.data();
        const char *const end = p + text.size();
        while (p < end) {
            const char *run = p;
            while (run < end && keptAsIs(static_cast<unsigned char>(*run)))
                ++run;
            out.append(p, static_cast<std::size_t>(run - p));
            for (p = run; p < end && !keptAsIs(static_cast<unsigned char>(*p)); ++p) {
                const auto u = static_cast<unsigned char>(*p);
                const char escaped[3] = {'%', kHex[u >> 4], kHex[u & 0xF]};
                out.append(escaped, 3);
            }
        }
        return;
    }
    for (const auto c : text) {
        const auto u = static_cast<std::uint32_t>(static_cast<Unit>(c));
        if (keptAsIs(u)) {
            out += static_cast<char>(u);
        } else if (u <= 0xFF) {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += "%u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(u >> shift) & 0xF];
        }
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

template <typename String> bool decode(std::string_view token, String &out)
{
    using Unit = typename String::value_type;
    out.clear();
    if (token == "%")
        return true;
    if (token.empty())
        return false;
    for (std::size_t i = 0; i < token.size();) {
        const char c = token[i];
        if constexpr (sizeof(Unit) == 1) {
            // A run of plain characters is copied whole.
            std::size_t run = i;
            while (run < token.size() && keptAsIs(static_cast<unsigned char>(token[run])))
                ++run;
            if (run > i) {
                out.append(token.data() + i, run - i);
                i = run;
                continue;
            }
        }
        if (c != '%') {
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                return false;
            out += static_cast<Unit>(c);
            ++i;
            continue;
        }
        const bool wide = i + 1 < token.size() && token[i + 1] == 'u';
        const std::size_t digits = wide ? 4 : 2;
        const std::size_t start = i + (wide ? 2 : 1);
        if (start + digits > token.size())
            return false;
        std::uint32_t u = 0;
        for (std::size_t k = start; k < start + digits; ++k) {
            const int v = hexValue(token[k]);
            if (v < 0)
                return false;
            u = (u << 4) | static_cast<std::uint32_t>(v);
        }
        if (wide && (sizeof(Unit) < 2 || u <= 0xFF))
            return false;
        out += static_cast<Unit>(u);
        i = start + digits;
    }
    return true;
}

template <typename Int> bool parseInt(std::string_view token, Int &out)
{
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), out);
    return ec == std::errc() && end == token.data() + token.size();
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos <= line.size()) {
        const std::size_t space = line.find(' ', pos);
        const std::size_t end = space == std::string_view::npos ? line.size() : space;
        out.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

const char *kindWord(PassKind kind)
{
    switch (kind) {
    case PassKind::Shuffle:
        return "shuffle";
    case PassKind::Removal:
        return "removal";
    case PassKind::Restore:
        return "restore";
    case PassKind::Order:
        return "order";
    }
    return "";
}

// The value whose word `wordOf` gives, among `values`.
template <typename Value, std::size_t N>
bool parseWord(std::string_view word, const Value (&values)[N], const char *(*wordOf)(Value),
               Value &out)
{
    for (const Value v : values) {
        if (word == wordOf(v)) {
            out = v;
            return true;
        }
    }
    return false;
}

bool parseKind(std::string_view word, PassKind &kind)
{
    constexpr PassKind kinds[] = {PassKind::Shuffle, PassKind::Removal, PassKind::Restore,
                                  PassKind::Order};
    return parseWord(word, kinds, kindWord, kind);
}

const char *endWord(PassEnd end)
{
    switch (end) {
    case PassEnd::Completed:
        return "completed";
    case PassEnd::Stopped:
        return "stopped";
    case PassEnd::Failed:
        return "failed";
    }
    return "";
}

bool parseEnd(std::string_view word, PassEnd &end)
{
    constexpr PassEnd ends[] = {PassEnd::Completed, PassEnd::Stopped, PassEnd::Failed};
    return parseWord(word, ends, endWord, end);
}

std::string keyLines(const JournalKey &key)
{
    std::string out(kMagic);
    out += "\nkey ";
    encodeTo(out, key.volume);
    out += ' ';
    encodeTo(out, key.pathInVolume);
    out += '\n';
    return out;
}

std::string knownLines(const JournalKey &key, const std::map<FileName, int> &prefixed)
{
    std::string out = keyLines(key);
    // Room for every line at once: the record of a large folder is a megabyte, and growing it
    // step by step would copy it again and again.
    std::size_t size = out.size();
    for (const auto &entry : prefixed)
        size += entry.first.size() + 8;
    out.reserve(size + size / 8 + 4096); // and the worst case of a last name
    for (const auto &[name, depth] : prefixed) {
        out += "has ";
        encodeTo(out, name);
        out += ' ';
        out += std::to_string(depth);
        out += '\n';
    }
    return out;
}

std::string passLine(const PassRecord &pass)
{
    std::string out = std::string("pass ") + kindWord(pass.kind) + ' ' +
                      std::to_string(pass.startTime) + ' ' + std::to_string(pass.fileCount) + '\n';
    if (pass.kind == PassKind::Order) {
        out += "dir ";
        encodeTo(out, pass.orderFolder);
        out += '\n';
    }
    return out;
}

// A planned name is most often the old one with four digits put in front (a shuffle) or taken off
// (a removal), or the old one itself (a move to store the order): such a name is written as that
// change, "%+" and the digits, "%-" or "%=", which halves what a pass writes. A name that is
// encoded never begins so.
void encodeNewNameTo(std::string &out, const FileName &from, const FileName &to)
{
    constexpr std::size_t kDigits = 4;
    if (to == from) {
        out += "%=";
    } else if (to.size() == from.size() + kDigits && startsWithFourDigits(to) &&
               std::equal(from.begin(), from.end(), to.begin() + kDigits)) {
        out += "%+";
        for (std::size_t i = 0; i < kDigits; ++i)
            out += static_cast<char>(to[i]);
    } else if (from.size() == to.size() + kDigits && startsWithFourDigits(from) &&
               std::equal(to.begin(), to.end(), from.begin() + kDigits)) {
        out += "%-";
    } else {
        encodeTo(out, to);
    }
}

bool decodeNewName(std::string_view token, const FileName &from, FileName &to)
{
    constexpr std::size_t kDigits = 4;
    if (token == "%=") {
        to = from;
        return true;
    }
    if (token == "%-") {
        if (!startsWithFourDigits(from))
            return false;
        to = from.substr(kDigits);
        return true;
    }
    if (token.starts_with("%+")) {
        const std::string_view digits = token.substr(2);
        if (digits.size() != kDigits || !startsWithFourDigits(digits))
            return false;
        to.assign(digits.begin(), digits.end());
        to += from;
        return true;
    }
    return decode(token, to);
}

void appendFileLines(std::string &out, std::span<const PlannedRename> files)
{
    std::size_t size = out.size();
    for (const PlannedRename &file : files)
        size += file.from.size() + file.to.size() + 4;
    out.reserve(size + size / 8 + 4096); // and the worst case of a last name
    for (const PlannedRename &file : files) {
        out += "f ";
        encodeTo(out, file.from);
        out += ' ';
        encodeNewNameTo(out, file.from, file.to);
        out += '\n';
    }
}

// A record file as read.
struct Parsed
{
    bool valid = false; // it begins with the magic line and a key
    JournalKey key;
    std::map<FileName, int> prefixed;
    std::optional<PassRecord> pass;
    bool torn = false;
};

// Reads one line into `p`. False when the line cannot be read where it stands.
bool parseLine(std::string_view line, int lineNo, Parsed &p)
{
    if (lineNo == 0)
        return line == kMagic;
    const std::vector<std::string_view> f = fields(line);
    const std::string_view tag = f[0];
    if (lineNo == 1) {
        return tag == "key" && f.size() == 3 && decode(f[1], p.key.volume) &&
               decode(f[2], p.key.pathInVolume);
    }
    if (tag == "has" && !p.pass && f.size() == 3) {
        FileName name;
        int depth = 0;
        if (!decode(f[1], name) || !parseInt(f[2], depth) || depth < 1)
            return false;
        p.prefixed[name] = depth;
        return true;
    }
    if (tag == "pass" && !p.pass && f.size() == 4) {
        PassRecord pass;
        if (!parseKind(f[1], pass.kind) || !parseInt(f[2], pass.startTime) ||
            !parseInt(f[3], pass.fileCount) || pass.fileCount < 0)
            return false;
        p.pass = std::move(pass);
        return true;
    }
    if (!p.pass || p.pass->end)
        return false;
    PassRecord &pass = *p.pass;
    const auto index = [&](std::string_view token, int &i) {
        return parseInt(token, i) && i >= 0 && i < static_cast<int>(pass.files.size());
    };
    if (tag == "dir" && f.size() == 2 && pass.kind == PassKind::Order && pass.files.empty() &&
        pass.orderFolder.empty())
        return decode(f[1], pass.orderFolder) && !pass.orderFolder.empty();
    if (tag == "f" && f.size() == 3) {
        PlannedRename file;
        if (!decode(f[1], file.from) || !decodeNewName(f[2], file.from, file.to))
            return false;
        pass.files.push_back(std::move(file));
        pass.refused.push_back(false);
        return true;
    }
    if (tag == "r" && f.size() == 3) {
        int i = 0;
        FileName to;
        if (!index(f[1], i) || !decode(f[2], to))
            return false;
        pass.files[static_cast<std::size_t>(i)].to = std::move(to);
        return true;
    }
    if (tag == "no" && f.size() == 2) {
        int i = 0;
        if (!index(f[1], i))
            return false;
        pass.refused[static_cast<std::size_t>(i)] = true;
        return true;
    }
    if (tag == "end" && f.size() == 3) {
        PassEnd end;
        int attempted = 0;
        if (!parseEnd(f[1], end) || !parseInt(f[2], attempted) || attempted < 0 ||
            attempted > static_cast<int>(pass.files.size()))
            return false;
        pass.end = end;
        pass.attempted = attempted;
        return true;
    }
    return false;
}

// Reads the record's lines; with `headerOnly`, only the magic line and the key.
Parsed parse(std::string_view text, bool headerOnly = false)
{
    Parsed p;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size() && !(headerOnly && lineNo == 2)) {
        const std::size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos ||
            !parseLine(text.substr(pos, newline - pos), lineNo, p)) {
            p.torn = true;
            break;
        }
        ++lineNo;
        pos = newline + 1;
    }
    p.valid = lineNo >= 2;
    return p;
}

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

// Folds renames into what is known of the folder: a file renamed by a pass that writes a prefix
// carries one more prefix than before; one renamed by a pass that takes four digits off carries
// one fewer (none if its digits were not Korvalo's). A file gone elsewhere is forgotten.
void fold(const PassRecord &pass, const std::vector<FileState> &states,
          std::map<FileName, int> &prefixed)
{
    // Files that only passed through another folder keep their names and their prefixes.
    if (pass.kind == PassKind::Order)
        return;
    // The old names go first, then the new ones come in sorted, each next to the one before: a
    // pass over a large folder brings as many names, and inserting them one by one in pass order
    // would search the whole tree for each. No file of a pass takes a name that a file after it
    // leaves (the rename would have found it taken), so the order gives the same result.
    std::vector<std::pair<FileName, int>> added;
    std::vector<const FileName *> cleared;
    for (std::size_t i = 0; i < pass.files.size(); ++i) {
        if (states[i] == FileState::NotDone)
            continue;
        const PlannedRename &file = pass.files[i];
        int depth = 0;
        if (const auto it = prefixed.find(file.from); it != prefixed.end()) {
            depth = it->second;
            prefixed.erase(it);
        }
        if (states[i] == FileState::Missing)
            continue;
        depth = addsPrefix(pass.kind) ? depth + 1 : std::max(depth - 1, 0);
        if (depth > 0)
            added.emplace_back(file.to, depth);
        else
            cleared.push_back(&file.to);
    }
    for (const FileName *name : cleared)
        prefixed.erase(*name);
    std::sort(added.begin(), added.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    auto hint = prefixed.begin();
    for (auto &[name, depth] : added)
        hint = std::next(prefixed.insert_or_assign(hint, std::move(name), depth));
}

// The states of a pass that ended: every file it tried and was not refused is renamed.
std::vector<FileState> statesAsRecorded(const PassRecord &pass)
{
    std::vector<FileState> states(pass.files.size(), FileState::NotDone);
    for (int i = 0; i < pass.attempted && i < static_cast<int>(states.size()); ++i) {
        if (!isRefused(pass, static_cast<std::size_t>(i)))
            states[static_cast<std::size_t>(i)] = FileState::Done;
    }
    return states;
}

void prune(std::map<FileName, int> &prefixed, std::span<const FileName> listed)
{
    if (listed.empty() || prefixed.empty())
        return;
    using View = std::basic_string_view<FileName::value_type>;
    const std::unordered_set<View> present(listed.begin(), listed.end());
    std::erase_if(prefixed, [&](const auto &entry) { return !present.count(View(entry.first)); });
}

// FNV-1a, 64 bits: a short, stable file name for a key.
std::string keyHash(const JournalKey &key)
{
    std::string text;
    encodeTo(text, key.volume);
    text += ' ';
    encodeTo(text, key.pathInVolume);
    std::uint64_t h = 14695981039346656037ull;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    std::string out;
    for (int shift = 60; shift >= 0; shift -= 4)
        out += kHex[(h >> shift) & 0xF];
    return out;
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
    std::string text = "r " + std::to_string(index) + ' ';
    encodeTo(text, to);
    text += '\n';
    if (JournalError err = appendLine(text); !err.ok())
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
    if (JournalError err = appendLine("no " + std::to_string(index) + '\n'); !err.ok())
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
    if (const int err = m_file.append(std::string("end ") + endWord(end) + ' ' +
                                      std::to_string(attempted) + '\n'))
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

#include "journal/journalformat.h"

#include "browse/asciichars.h"
#include "journal/namecodec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <system_error>
#include <vector>

// The record of one folder is a text file of lines: see journalformat.h.

namespace korvalo::journalformat {

using namecodec::decode;
using namecodec::decodeNewName;
using namecodec::encodeNewNameTo;
using namecodec::encodeTo;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// CRC-32 (the one of zip and PNG), eight bytes at a time: a pass seals a line for every file
// before its first rename, and a large folder's record is checked line by line when it is read.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables makeCrcTables()
{
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
}

constexpr CrcTables kCrc = makeCrcTables();

constexpr std::uint32_t crc32(std::string_view text)
{
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i]));
    };
    std::uint32_t c = 0xFFFFFFFFu;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        const std::uint32_t one =
            c ^ (byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24);
        const std::uint32_t two =
            byte(i + 4) | byte(i + 5) << 8 | byte(i + 6) << 16 | byte(i + 7) << 24;
        c = kCrc[7][one & 0xFF] ^ kCrc[6][(one >> 8) & 0xFF] ^ kCrc[5][(one >> 16) & 0xFF] ^
            kCrc[4][one >> 24] ^ kCrc[3][two & 0xFF] ^ kCrc[2][(two >> 8) & 0xFF] ^
            kCrc[1][(two >> 16) & 0xFF] ^ kCrc[0][two >> 24];
    }
    for (; i < text.size(); ++i)
        c = kCrc[0][(c ^ byte(i)) & 0xFF] ^ (c >> 8);
    return ~c;
}

static_assert(crc32("123456789") == 0xCBF43926u);
static_assert(crc32("a line longer than eight bytes") == 0x0F1FF5B2u);

// " #" and eight hex digits.
constexpr std::size_t kSealSize = 10;

// The text of a sealed line (without its "\n"), when its checksum holds.
bool unseal(std::string_view line, std::string_view &text)
{
    if (line.size() < kSealSize || line[line.size() - kSealSize] != ' ' ||
        line[line.size() - kSealSize + 1] != '#')
        return false;
    std::uint32_t sum = 0;
    for (std::size_t i = line.size() - 8; i < line.size(); ++i) {
        const char c = line[i];
        const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0)
            return false;
        sum = sum << 4 | static_cast<std::uint32_t>(v);
    }
    text = line.substr(0, line.size() - kSealSize);
    return crc32(text) == sum;
}

// The names a pass of each kind plans: a shuffle puts four digits in front, a removal and a
// restore take four off, an order pass keeps the name.
bool fitsKind(PassKind kind, const FileName &from, const FileName &to)
{
    const auto prefixedOf = [](const FileName &longer, const FileName &shorter) {
        return longer.size() == shorter.size() + 4 && startsWithFourDigits(longer) &&
               std::equal(shorter.begin(), shorter.end(), longer.begin() + 4);
    };
    switch (kind) {
    case PassKind::Shuffle:
        return prefixedOf(to, from);
    case PassKind::Removal:
    case PassKind::Restore:
        return prefixedOf(from, to);
    case PassKind::Order:
        return from == to;
    case PassKind::Replace:
        // New digits for old ones, or a prefix put in front of a name that had none (and, undone,
        // taken off again).
        return prefixedOf(to, from) || prefixedOf(from, to) ||
               (from.size() == to.size() && from != to && startsWithFourDigits(from) &&
                startsWithFourDigits(to) &&
                std::equal(from.begin() + 4, from.end(), to.begin() + 4));
    }
    return false;
}

const FileName &orderingPrefix()
{
    static const FileName prefix =
        std::filesystem::path(std::u8string(kOrderingFolderPrefix)).native();
    return prefix;
}

template <typename Int> bool parseInt(std::string_view token, Int &out)
{
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), out);
    return ec == std::errc() && end == token.data() + token.size();
}

// The blank-separated fields of a line: no line has more than four, so a fifth stands for any
// more. Kept in place, since every line of a large record is split.
class Fields
{
public:
    explicit Fields(std::string_view line)
    {
        std::size_t pos = 0;
        while (pos <= line.size() && m_count < m_at.size()) {
            const std::size_t space = line.find(' ', pos);
            const std::size_t end = space == std::string_view::npos ? line.size() : space;
            m_at[m_count++] = line.substr(pos, end - pos);
            pos = end + 1;
        }
    }
    std::size_t size() const { return m_count; }
    std::string_view operator[](std::size_t i) const { return m_at[i]; }

private:
    std::array<std::string_view, 5> m_at;
    std::size_t m_count = 0;
};

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

// Reads one line (its text, without the checksum) into `p`. False when the line does not fit
// where it stands.
bool parseLine(std::string_view line, int lineNo, Parsed &p)
{
    const Fields f(line);
    const std::string_view tag = f[0];
    if (lineNo == 1) {
        return tag == "key" && f.size() == 3 && decode(f[1], p.key.volume) &&
               decode(f[2], p.key.pathInVolume);
    }
    if (tag == "stick" && lineNo == 2 && f.size() == 2)
        return decode(f[1], p.stick) && !p.stick.empty();
    if (tag == "has" && !p.pass && f.size() == 3) {
        FileName name;
        int depth = 0;
        // Each prefix is four characters of the name.
        if (!decode(f[1], name) || !isBareName(name) || !parseInt(f[2], depth) || depth < 1 ||
            static_cast<std::size_t>(depth) > name.size() / 4)
            return false;
        // Written in order: each name goes in at the end of the map.
        const std::size_t before = p.prefixed.size();
        p.prefixed.emplace_hint(p.prefixed.end(), std::move(name), depth);
        return p.prefixed.size() > before; // a name twice is not Korvalo's writing
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
        pass.orderFolder.empty()) {
        // Taken only once it is known to be Korvalo's folder inside this one.
        FileName folder;
        if (!decode(f[1], folder) || !isBareName(folder) || !folder.starts_with(orderingPrefix()))
            return false;
        pass.orderFolder = std::move(folder);
        return true;
    }
    if (tag == "f" && f.size() == 3) {
        // No more files than the pass set out to rename; an order pass names its folder first.
        if (static_cast<int>(pass.files.size()) >= pass.fileCount ||
            (pass.kind == PassKind::Order && pass.orderFolder.empty()))
            return false;
        PlannedRename file;
        if (!decode(f[1], file.from) || !decodeNewName(f[2], file.from, file.to) ||
            !isBareName(file.from) || !isBareName(file.to) ||
            !fitsKind(pass.kind, file.from, file.to))
            return false;
        pass.files.push_back(std::move(file));
        pass.refused.push_back(false);
        return true;
    }
    if (tag == "r" && f.size() == 3) {
        int i = 0;
        FileName to;
        if (!index(f[1], i))
            return false;
        PlannedRename &file = pass.files[static_cast<std::size_t>(i)];
        if (!decodeNewName(f[2], file.from, to) || !isBareName(to) ||
            !fitsKind(pass.kind, file.from, to))
            return false;
        file.to = std::move(to);
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

} // namespace

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
    case PassKind::Replace:
        return "replace";
    }
    return "";
}

bool parseKind(std::string_view word, PassKind &kind)
{
    constexpr PassKind kinds[] = {PassKind::Shuffle, PassKind::Removal, PassKind::Restore,
                                  PassKind::Order, PassKind::Replace};
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

void sealLine(std::string &out, std::size_t lineStart)
{
    const std::uint32_t sum = crc32(std::string_view(out).substr(lineStart));
    char seal[kSealSize + 1] = {' ', '#'};
    for (std::size_t i = 0; i < 8; ++i)
        seal[2 + i] = kHex[(sum >> (28 - 4 * i)) & 0xF];
    seal[kSealSize] = '\n';
    out.append(seal, sizeof seal);
}

bool isBareName(const FileName &name)
{
    if (name.empty())
        return false;
    if (name.size() <= 2 && std::all_of(name.begin(), name.end(), [](auto c) { return c == '.'; }))
        return false; // "." or ".."
    return std::none_of(name.begin(), name.end(),
                        [](auto c) { return c == 0 || leavesTheEntry(c); });
}

std::uintmax_t recordSizeBound(std::uintmax_t entries)
{
    // A name of 255 UTF-16 units (exFAT, NTFS), each three bytes of UTF-8 and each byte "%XX".
    constexpr std::uintmax_t name = 255 * 3 * 3;
    constexpr std::uintmax_t number = 11; // an int, with its sign
    constexpr std::uintmax_t seal = kSealSize + 1;
    constexpr std::uintmax_t perEntry = (4 + name + 1 + number + seal)   // has
                                        + (2 + name + 1 + name + seal)   // f
                                        + (2 + number + 1 + name + seal) // r
                                        + (3 + number + seal);           // no
    constexpr std::uintmax_t most = (UINTMAX_MAX - kRecordSizeFloor) / perEntry;
    return kRecordSizeFloor + std::min(entries, most) * perEntry;
}

std::string keyLines(const JournalKey &key, const std::string &stick)
{
    std::string out(kMagic);
    sealLine(out, 0);
    const std::size_t start = out.size();
    out += "key ";
    encodeTo(out, key.volume);
    out += ' ';
    encodeTo(out, key.pathInVolume);
    sealLine(out, start);
    if (!stick.empty()) {
        const std::size_t stickStart = out.size();
        out += "stick ";
        encodeTo(out, stick);
        sealLine(out, stickStart);
    }
    return out;
}

std::string knownLines(const JournalKey &key, const std::string &stick,
                       const std::map<FileName, int> &prefixed)
{
    std::string out = keyLines(key, stick);
    // Room for every line at once: the record of a large folder is a megabyte, and growing it
    // step by step would copy it again and again.
    std::size_t size = out.size();
    for (const auto &entry : prefixed)
        size += entry.first.size() + 8 + kSealSize;
    out.reserve(size + size / 8 + 4096); // and the worst case of a last name
    for (const auto &[name, depth] : prefixed) {
        const std::size_t start = out.size();
        out += "has ";
        encodeTo(out, name);
        out += ' ';
        char digits[16];
        const auto written = std::to_chars(digits, digits + sizeof digits, depth);
        out.append(digits, written.ptr);
        sealLine(out, start);
    }
    return out;
}

std::string passLine(const PassRecord &pass)
{
    std::string out = std::string("pass ") + kindWord(pass.kind) + ' ' +
                      std::to_string(pass.startTime) + ' ' + std::to_string(pass.fileCount);
    sealLine(out, 0);
    if (pass.kind == PassKind::Order) {
        const std::size_t start = out.size();
        out += "dir ";
        encodeTo(out, pass.orderFolder);
        sealLine(out, start);
    }
    return out;
}

void appendFileLines(std::string &out, std::span<const PlannedRename> files)
{
    std::size_t size = out.size();
    for (const PlannedRename &file : files)
        size += file.from.size() + file.to.size() + 4 + kSealSize;
    out.reserve(size + size / 8 + 4096); // and the worst case of a last name
    for (const PlannedRename &file : files) {
        const std::size_t start = out.size();
        out += "f ";
        encodeTo(out, file.from);
        out += ' ';
        encodeNewNameTo(out, file.from, file.to);
        sealLine(out, start);
    }
}

std::string reviseLine(int index, const FileName &from, const FileName &to)
{
    // Written as the change it makes to the file's old name, as an "f" line is.
    std::string text = "r " + std::to_string(index) + ' ';
    encodeNewNameTo(text, from, to);
    sealLine(text, 0);
    return text;
}

std::string refusedLine(int index)
{
    std::string text = "no " + std::to_string(index);
    sealLine(text, 0);
    return text;
}

std::string endLine(PassEnd end, int attempted)
{
    std::string text = std::string("end ") + endWord(end) + ' ' + std::to_string(attempted);
    sealLine(text, 0);
    return text;
}

Parsed parse(std::string_view text, bool headerOnly)
{
    Parsed p;
    int lineNo = 0;
    bool stopped = false; // a line could not be read: what follows is the tail a kill left
    std::size_t pos = 0;
    // The header ends with the key, or with the stick's line after it.
    const auto headerRead = [&] {
        return lineNo == 3 || (lineNo == 2 && !text.substr(pos).starts_with("stick "));
    };
    while (pos < text.size() && !(headerOnly && headerRead())) {
        const std::size_t newline = text.find('\n', pos);
        const bool whole = newline != std::string_view::npos;
        const std::string_view line = text.substr(pos, (whole ? newline : text.size()) - pos);
        pos = whole ? newline + 1 : text.size();
        if (lineNo == 0) {
            // The header is written in one step with the whole record: it is read whole or the
            // record is damaged.
            std::string_view magic;
            if (whole && line == kMagicVersion1)
                p.version = 1;
            else if (whole && unseal(line, magic) && magic == kMagic)
                p.version = 2;
            else
                break;
            ++lineNo;
            continue;
        }
        // A line written whole: its checksum holds (in the first version, it has its "\n").
        std::string_view body = line;
        const bool sealed = whole && (p.version == 1 || unseal(line, body));
        if (stopped) {
            if (sealed) {
                p.damaged = true; // whole lines after one that could not be read
                break;
            }
            continue;
        }
        if (sealed && parseLine(body, lineNo, p)) {
            ++lineNo;
            continue;
        }
        // A whole line that does not fit where it stands was not cut off by a kill. The first
        // version cannot tell a whole line from a cut one.
        if (lineNo == 1 || (sealed && p.version == 2)) {
            p.damaged = true;
            break;
        }
        stopped = true;
        p.torn = true;
    }
    if (p.pass && p.pass->kind == PassKind::Order && p.pass->orderFolder.empty()) {
        // The pass line and its folder's line are written in one step, before anything moves: a
        // record cut off between them holds a pass that did nothing.
        if (p.torn)
            p.pass.reset();
        else if (!headerOnly)
            p.damaged = true;
    }
    if (lineNo < 2)
        p.damaged = true;
    p.valid = !p.damaged;
    return p;
}

// FNV-1a, 64 bits.
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

} // namespace korvalo::journalformat

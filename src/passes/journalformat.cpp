#include "passes/journalformat.h"

#include "passes/namecodec.h"

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
    if (tag == "stick" && lineNo == 2 && f.size() == 2)
        return decode(f[1], p.stick) && !p.stick.empty();
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
    }
    return "";
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

std::string keyLines(const JournalKey &key, const std::string &stick)
{
    std::string out(kMagic);
    out += "\nkey ";
    encodeTo(out, key.volume);
    out += ' ';
    encodeTo(out, key.pathInVolume);
    out += '\n';
    if (!stick.empty()) {
        out += "stick ";
        encodeTo(out, stick);
        out += '\n';
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

std::string reviseLine(int index, const FileName &to)
{
    std::string text = "r " + std::to_string(index) + ' ';
    encodeTo(text, to);
    text += '\n';
    return text;
}

std::string refusedLine(int index)
{
    return "no " + std::to_string(index) + '\n';
}

std::string endLine(PassEnd end, int attempted)
{
    return std::string("end ") + endWord(end) + ' ' + std::to_string(attempted) + '\n';
}

Parsed parse(std::string_view text, bool headerOnly)
{
    Parsed p;
    int lineNo = 0;
    std::size_t pos = 0;
    // The header ends with the key, or with the stick's line after it.
    const auto headerRead = [&] {
        return lineNo == 3 || (lineNo == 2 && !text.substr(pos).starts_with("stick "));
    };
    while (pos < text.size() && !(headerOnly && headerRead())) {
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

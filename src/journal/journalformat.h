#pragma once

// The journal's text: how a folder's record is written as lines and read back. The record of one
// folder is a text file of lines:
//
//   korvalo-journal 2
//   key VOLUME PATH              the folder's key
//   stick IDENTITY               the stick the record is about (absent: unknown)
//   has NAME DEPTH               a name carrying DEPTH prefixes that Korvalo wrote
//   pass KIND START COUNT        a pass began (shuffle, removal, restore or order; seconds; files)
//   dir NAME                     an order pass's files pass through the folder NAME
//   f FROM TO                    the pass will rename FROM to TO (the files in pass order)
//   r INDEX TO                   the file at INDEX will be renamed to TO instead
//   no INDEX                     the rename of the file at INDEX was refused
//   end HOW ATTEMPTED            the pass ended (completed, stopped or failed)
//
// Every line ends with " #", eight hex digits of the CRC-32 of the text before them, and "\n":
// a line written whole tells itself from one cut off or garbled. Names are percent-encoded (see
// namecodec.h).
//
// Reading tells apart what a kill or a power cut leaves from damage. A pass's lines are appended
// as it goes, so the last line may be cut off, or followed by zeros that were never written: that
// tail is not read, and what came before it is used. Damage is anything else: a header that
// cannot be read, a line written whole (its checksum holds) that does not fit where it stands, or
// a whole line after one that could not be read. A damaged record is never used.
//
// Records of the first version ("korvalo-journal 1") have no checksums and are still read; in
// them, a line that cannot be read is taken as the cut-off tail when nothing follows it.

#include "journal/passrecord.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvalo::journalformat {

inline constexpr std::string_view kMagic = "korvalo-journal 2";
inline constexpr std::string_view kMagicVersion1 = "korvalo-journal 1";

// Ends the line that begins at `lineStart` in `out`: its checksum and "\n".
void sealLine(std::string &out, std::size_t lineStart);

// True for a name that is one entry of a folder: not empty, not "." or "..", and without a
// separator or a NUL.
bool isBareName(const FileName &name);

// Per platform (journalformat_*.cpp): true for a character that makes a name more than one
// entry of a folder, NUL aside: '/' everywhere; on Windows '\\' and ':' too.
bool leavesTheEntry(FileName::value_type c);

// The largest a genuine record of a folder with `entries` entries can be: per entry a "has", an
// "f", an "r" and a "no" line with the longest names, and room for the names of files removed
// since the record was written. A larger record is damaged, and is not read.
std::uintmax_t recordSizeBound(std::uintmax_t entries);
// The bound for a folder with no entries: records up to this size are read without counting.
inline constexpr std::uintmax_t kRecordSizeFloor = std::uintmax_t(16) << 20;

const char *kindWord(PassKind kind);
bool parseKind(std::string_view word, PassKind &kind);
const char *endWord(PassEnd end);
bool parseEnd(std::string_view word, PassEnd &end);

// The magic line, the key and the stick's identity (no line for an unknown one).
std::string keyLines(const JournalKey &key, const std::string &stick);
// The magic line, the key, the stick's identity and what is known of the folder.
std::string knownLines(const JournalKey &key, const std::string &stick,
                       const std::map<FileName, int> &prefixed);
// The line that begins a pass (with its "dir" line for an order pass).
std::string passLine(const PassRecord &pass);
// One "f" line per planned rename, appended to `out`.
void appendFileLines(std::string &out, std::span<const PlannedRename> files);
std::string reviseLine(int index, const FileName &from, const FileName &to);
std::string refusedLine(int index);
std::string endLine(PassEnd end, int attempted);

// A record file as read.
struct Parsed
{
    bool valid = false;   // it begins with the magic line and a key, and is not damaged
    bool damaged = false; // see above: the record must not be used
    int version = 0;      // 1 or 2, once the magic line was read
    JournalKey key;
    std::string stick; // empty when the record has no "stick" line
    std::map<FileName, int> prefixed;
    std::optional<PassRecord> pass;
    bool torn = false; // the tail after the last line that could be read was left out
};

// Reads the record's lines; with `headerOnly`, only the magic line, the key and the stick.
Parsed parse(std::string_view text, bool headerOnly = false);

// A short, stable file name for a key.
std::string keyHash(const JournalKey &key);

} // namespace korvalo::journalformat

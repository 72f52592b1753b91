#pragma once

// The journal's text: how a folder's record is written as lines and read back. The record of one
// folder is a text file of lines, each ended by "\n":
//
//   korvalo-journal 1
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
// Names are percent-encoded (see namecodec.h). A last line without
// its "\n", or any line that cannot be read, ends the record there: it was cut off by a kill or a
// power cut while being appended.

#include "passes/passrecord.h"

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvalo::journalformat {

inline constexpr std::string_view kMagic = "korvalo-journal 1";

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
std::string reviseLine(int index, const FileName &to);
std::string refusedLine(int index);
std::string endLine(PassEnd end, int attempted);

// A record file as read.
struct Parsed
{
    bool valid = false; // it begins with the magic line and a key
    JournalKey key;
    std::string stick; // empty when the record has no "stick" line
    std::map<FileName, int> prefixed;
    std::optional<PassRecord> pass;
    bool torn = false;
};

// Reads the record's lines; with `headerOnly`, only the magic line, the key and the stick.
Parsed parse(std::string_view text, bool headerOnly = false);

// A short, stable file name for a key.
std::string keyHash(const JournalKey &key);

} // namespace korvalo::journalformat

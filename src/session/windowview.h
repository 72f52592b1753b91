#pragma once

// What a window shows of a folder session, as plain data for every window front end: the mode
// option that fits an opened folder, the pass buttons a mode sets, and the boxes that tell (their
// kind, title and text). A window draws these; it decides nothing of its own.

#include "session/foldersession.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvalo::session {

// The two options: Option1 "第一次使用本软件" and Option2 "已经使用过本软件".
enum class Mode
{
    FirstTime,
    AlreadyUsed
};

// The pass buttons as a mode sets them.
struct PassButtons
{
    std::string command1Caption;
    bool command1 = true;
    bool command2 = false;
};
PassButtons buttonsFor(Mode mode);

// The option that fits an opened folder, selected for the user as if clicked: already used where
// names carry Korvalo's prefix, else first time. None where nothing fits: the folder could not be
// read, its record could not be read, or it is the folder files pass through to be stored.
std::optional<Mode> modeFor(const FolderState &state);
// The option that fits the folder after a plan has run (`pass`: a shuffle or a removal): after a
// completed pass the one for the names it made, whose prefixes the state does not read again;
// else the one that fits the state as it is now.
std::optional<Mode> modeAfter(const Report &report, bool pass, const FolderState &state);

// A box that tells and asks nothing.
struct Notice
{
    enum class Kind
    {
        Information,
        Warning
    };
    Kind kind = Kind::Warning;
    std::string title;
    std::string text;
};

// What a window tells after a plan, or instead of one: each problem as a warning, titled by what
// went wrong (`state`: the folder's state afterwards, which knows a stick pulled out), and with
// `tellDone` what was done as information (where a damaged record went). Nothing for a plain
// success (the list, the buttons and the song count label show it) or for the user's own "no".
std::vector<Notice> noticesOf(const Report &report, const FolderState &state,
                              bool tellDone = false);
// What opening a folder tells when it has a problem and no question to ask.
std::optional<Notice> openingNotice(const FolderState &state);
// A folder or drive the folder list could not open.
Notice folderFailureNotice(const std::filesystem::path &folder, const ListError &error,
                           Front front);

} // namespace korvalo::session

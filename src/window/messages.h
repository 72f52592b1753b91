#pragma once

// Every text the window shows about an error, in one place.

#include "browse/listerror.h"
#include "passes/passes.h"
#include "passes/rename.h"

#include <QString>

#include <filesystem>

namespace messages {

// The title of every warning box.
QString warningTitle();
// The refusal of a pass over an empty list.
QString emptyListText();

// One text per cause, each saying what to do next.
QString causeText(korvalo::Cause cause, int osError);
// Why a folder could not be read, in plain words.
QString listErrorText(const korvalo::ListError &error);
// Why a rename failed, in plain words.
QString renameErrorText(const korvalo::RenameOutcome &outcome);

// A pass refused on a stick mounted through fusefat.
QString unsafeDriverText();
// A pass refused because another one works on the same volume.
QString volumeBusyText();

// A path or bare name as the user reads it.
QString displayPath(const std::filesystem::path &path);

// A folder (or drive) that could not be opened.
QString folderFailure(const std::filesystem::path &folder, const korvalo::ListError &error);
// A pass over `total` files that ended at a rename that failed; `afterwards` says whether the list
// could be re-read after it.
QString renameFailure(const korvalo::PassResult &result, int total,
                      const korvalo::ListError &afterwards);
// A pass that renamed every file but could not read the folder again afterwards.
QString refreshFailure(const std::filesystem::path &folder, const korvalo::ListError &error);

} // namespace messages

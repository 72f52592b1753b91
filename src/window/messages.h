#pragma once

// The texts the window shows, as Qt strings: each comes from the table every front end shares
// (session/texts.h), with the window's next step.

#include "browse/listerror.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "passes/rename.h"
#include "session/question.h"
#include "window/question.h"

#include <QString>

#include <filesystem>
#include <vector>

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
// A pass or a recovery refused because no private lock could be taken for the volume: which
// folder, why, what to do.
QString lockUnavailableText(const korvalo::LockFailure &failure);

// A file name as a message box shows it: a long one loses its middle, so that it fits on one line
// of the box and its start and its extension stay readable.
QString boxName(const std::filesystem::path &name);

// A folder (or drive) that could not be opened.
QString folderFailure(const std::filesystem::path &folder, const korvalo::ListError &error);
// A pass over `total` files that ended at a rename that failed; `afterwards` says whether the list
// could be re-read after it.
QString renameFailure(const korvalo::PassResult &result, int total,
                      const korvalo::ListError &afterwards);
// A pass that renamed every file but could not read the folder again afterwards.
QString refreshFailure(const std::filesystem::path &folder, const korvalo::ListError &error);

// A pass whose journal could not be written (refused before the first rename, or stopped
// part-way): where the journal is kept and what to do.
QString journalFailure(const korvalo::JournalError &error);
// The folder's record in Korvalo's state folder is damaged; where it is and what to do.
QString damagedRecordText(const korvalo::JournalError &error);
// The record was set aside as `keptAs`.
QString damagedRecordLeftText(const std::filesystem::path &keptAs);
// A pass refused because the folder still has an unfinished pass.
QString recoveryPendingText();
// Opening a folder with an unfinished pass while another Korvalo works on the same volume.
QString recoveryBusyText();
// What went wrong while an unfinished pass was put right; empty when all went well.
QString recoveryReport(const korvalo::RecoveryResult &result);

// A completed pass whose files could not be stored in the list's order.
QString storedOrderFailure(const korvalo::PassResult &result);
// A pass that renamed every file but left some in the folder they passed through (filesLeftIn);
// renameFailure() gives this text for such a pass.
QString filesLeftOut(const korvalo::PassResult &result);

// The questions. Each choice's answer is the value of the enum named: DigitAnswer for the
// removal pass, RecoveryChoice for an unfinished pass, the answers of session/question.h for the
// others (kYes goes on, kNo does not).
Question stripDigitsQuestion(const std::vector<korvalo::FileName> &others, int qualifying);
Question shuffleAgainQuestion(const std::vector<korvalo::FileName> &prefixed, int listed);
// `filesAway`: for an interrupted ordering, the files still in the folder they passed through.
// `unconfirmed` (RecoveryCheck::Unconfirmed): Korvalo cannot tell that the pass was made on this
// stick; the question says so and offers kRecoveryLater, the answer of Esc, which does nothing.
Question recoveryQuestion(const korvalo::RecoveryStatus &status, int filesAway = 0,
                          bool unconfirmed = false);
inline constexpr int kRecoveryLater = korvalo::session::kLater;
// Opening a folder whose record is damaged: korvalo::session::kLeaveRecord sets the record aside
// and takes the folder as it is (leaveDamagedRecord()), kLater leaves everything as it is for now.
Question damagedRecordQuestion(const korvalo::JournalError &error);
// Opening the folder the files of a pass pass through to be stored in order: 1 moves them back
// into the folder above, 0 leaves them.
Question orderingFolderQuestion(const std::filesystem::path &folder);
// The window is closed while a pass runs: 1 stops after the file in hand, 0 goes on.
Question closeDuringPassQuestion();

} // namespace messages

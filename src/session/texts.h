#pragma once

// Every text a user of Korvalo reads, for every front end: messages, questions, reports, captions
// and accessible names, in Simplified Chinese, UTF-8. Where the window and the terminal need a
// different next step ("点「删除排序」" and "korvalo-cli remove …"), a text takes the front end and
// holds both halves; everything else is one text. A folder given to such a text is for the
// terminal's command line only (the window may give none: "文件夹" stands in). No text ends with a
// line break. The glossary heads texts.cpp.

#include "browse/listerror.h"
#include "browse/volumes.h"
#include "journal/journal.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "passes/recoveryplan.h"
#include "session/question.h"

#include <filesystem>
#include <string>
#include <vector>

namespace korvalo::session {
struct UnfinishedPass;
}

namespace korvalo::texts {

// Which front end a text is for: only the "what to do next" half differs.
enum class Front
{
    Window,
    Terminal
};

// The window's fixed texts.
namespace caption {
inline constexpr const char *kWindowTitle = "Korvalo- By Nemrit";
inline constexpr const char *kFrame1 = "基本选项";
inline constexpr const char *kFrame2 = "文件预览";
inline constexpr const char *kFrame3 = "操作进度";
inline constexpr const char *kLabel1 = "文件夹选择：";
inline constexpr const char *kLabel2 = "文件预览：";
inline constexpr const char *kLabel4 = "已完成进度：";
inline constexpr const char *kOption1 = "第一次使用本软件";
inline constexpr const char *kOption2 = "已经使用过本软件";
inline constexpr const char *kShuffle = "随机排序";      // Command1 at start-up
inline constexpr const char *kShuffleAgain = "重新排序"; // Command1 after a shuffle
inline constexpr const char *kRemove = "删除排序";       // Command2
inline constexpr const char *kWarningTitle = "警告";
inline constexpr const char *kOk = "确定";
// Accessible names of the controls that show no caption of their own.
inline constexpr const char *kDriveListName = "驱动器";
inline constexpr const char *kFolderListName = "文件夹";
inline constexpr const char *kFileListName = "歌曲列表";
inline constexpr const char *kProgressName = "改名进度";
inline constexpr const char *kPercentName = "已完成百分比";
} // namespace caption

// The titles of the boxes that tell, each saying what the box is about. The refusal of an empty
// list keeps the old program's "警告" (caption::kWarningTitle).
namespace title {
inline constexpr const char *kFolderFailure = "无法打开文件夹";
inline constexpr const char *kStickGone = "U盘已被拔出";
inline constexpr const char *kFolderGone = "文件夹已不在原处";
inline constexpr const char *kStopped = "已停止改名";
inline constexpr const char *kAttention = "改名已完成，但有问题";
inline constexpr const char *kRecoveryFailed = "上次的改名没有处理完";
inline constexpr const char *kVolumeBusy = "U盘正被另一个 Korvalo 使用";
inline constexpr const char *kLockUnavailable = "无法锁定U盘";
inline constexpr const char *kJournalFailed = "无法读取改名记录";
inline constexpr const char *kOrderingFolder = "Korvalo 的临时文件夹";
inline constexpr const char *kDone = "已完成";
} // namespace title

// --- Names, paths, numbers --------------------------------------------------------------------

// A path or bare name between Chinese quotation marks.
std::string quoted(const std::filesystem::path &path);
// A file name in a message. In a window's box a long one loses its middle, so that its start and
// extension stay; a terminal shows it whole.
std::string shownName(const std::filesystem::path &name, Front front);
// A drive in a drive list: its label, or a name for it, and where it is.
std::string driveText(const Volume &volume);
// Some names, one a line, and how many more there are (the same count for every front end).
std::string nameList(const std::vector<FileName> &names, Front front);
// The name of a pass as a message names it.
std::string passName(PassKind kind);

// --- Listing ------------------------------------------------------------------------------------

// Label3: "已选文件夹共有" + count + "首歌曲".
std::string songCount(int count);
// The refusal of a pass over an empty list: "你选择的文件夹里没有Mp3或者Flac文件".
std::string emptyList();
// One text per cause of a failed listing or rename, each saying what to do next.
std::string causeText(Cause cause, int osError, Front front);
std::string listErrorText(const ListError &error, Front front);
std::string renameErrorText(const RenameOutcome &outcome, Front front);
// A folder (or drive) that could not be opened.
std::string folderFailure(const std::filesystem::path &folder, const ListError &error, Front front);

// The folder a pass was clicked for is not where it was opened: the stick pulled out
// (Cause::DeviceGone) or the folder moved or deleted (Cause::FolderGone). Its first line is the
// news.
std::string folderGoneAway(Cause cause, Front front);

// --- Refusals before any rename -------------------------------------------------------------

std::string nothingRenamed();
std::string unsafeDriver(Front front);
std::string volumeBusy(Front front);
std::string lockUnavailable(const LockFailure &failure, Front front);
// The journal could not be read (opening a folder) or written (a pass): which, where, what next.
// Never blames the stick for a file in the user's state folder.
std::string journalFailure(const JournalError &error, Front front);
// The folder's record is damaged: nothing is renamed until it is left as it is.
std::string recordDamaged(const JournalError &error, const std::filesystem::path &folder,
                          Front front);
std::string damagedRecordLeft(const std::filesystem::path &keptAs);
// A pass refused because the folder still has an unfinished pass.
std::string recoveryPending(const std::filesystem::path &folder, Front front);
// An unfinished pass found while another Korvalo works on the same volume.
std::string recoveryBusy(Front front);
std::string cancelled();
// The folder changed between a pass's plan and its start, so the plan was made again from the
// folder as it is: `byKorvalo` when another Korvalo renamed in it meanwhile (its record changed).
std::string folderChangedMeanwhile(bool byKorvalo, Front front);
// The shuffle was not run because names carry a prefix and nobody could be asked.
std::string againDeclined(int prefixed, const std::filesystem::path &folder, Front front);
// The same for names whose four leading digits look like a prefix written elsewhere.
std::string foreignDeclined(int foreign, const std::filesystem::path &folder, Front front);

// --- What a pass did ----------------------------------------------------------------------------

std::string completed(PassKind kind, int renamed);
// Label3 after a completed pass: the song count, then on a second line what the pass did.
std::string songCountAfterPass(PassKind kind, int count, int renamed);
// Ctrl-C at a question on a terminal: the program ends at once, and says so.
std::string questionInterrupted();
// The song count label after a recovery carried out: the count and what it did.
std::string songCountAfterRecovery(PassKind kind, RecoveryChoice choice, int count);
// A title for a pass that could not be run ("无法随机排序"), or did not finish.
std::string refusedTitle(PassKind kind);
std::string unfinishedTitle(PassKind kind);
// A removal kept names' own digits; the terminal says how to strip them too.
std::string keptDigits(int kept, Front front);
// `reread`: why the list could not be read again after the failure, if it could not.
std::string renameFailure(PassKind kind, const PassResult &result, int total,
                          const std::filesystem::path &folder, Front front,
                          const ListError &reread = {});
std::string refreshFailure(const std::filesystem::path &folder, const ListError &error,
                           Front front);
std::string stopped(PassKind kind, int renamed, int total, const std::filesystem::path &folder,
                    Front front);
// The journal could not take the end of a completed pass.
std::string journalAfterPass(const JournalError &error, Front front);
// The same, after `renamed` files were all renamed: what was done, what the record shows, and how
// to have it show the pass completed.
std::string passEndNotRecorded(PassKind kind, int renamed, const JournalError &error,
                               const std::filesystem::path &folder, Front front);
// korvalo-cli: what it had to say could not be written to its output.
std::string outputNotWritten();
// Every name is right but the stored order was not arranged (StoredOrder::NotArranged or
// Stopped): why, and how to have it arranged; `namesOf` is the pass whose names the folder now
// has (a shuffle's prefixes, or none).
std::string storedOrderNotArranged(PassKind namesOf, const OrderingOutcome &order,
                                   const std::filesystem::path &folder, Front front);
// Every name is right, but some files were left in the folder they passed through.
std::string filesLeftOut(const OrderingOutcome &order, Front front);

// --- A dry run ----------------------------------------------------------------------------------

std::string dryRunHeading(PassKind kind);
std::string dryRunRename(const FileName &from, const FileName &to);
std::string dryRunSummary(PassKind kind, int renames, int kept);

// --- A folder's status and an unfinished pass -----------------------------------------------

std::string statusHeading(const std::filesystem::path &folder, int count);
std::string statusPrefixed(int prefixed, int stacked);
std::string statusUnknownFolder(int lookPrefixed);
std::string statusOtherDigits(int others);
std::string statusNothingPending();
std::string statusBusy();
// korvalo-cli status with no folder: every unfinished pass the journal holds, and where.
std::string unfinishedList(const std::vector<session::UnfinishedPass> &passes);
std::string pendingPass(const RecoveryPlan &plan, const std::filesystem::path &folder, Front front);
// Why Korvalo did not settle that pass on its own (RecoveryCheck::Unconfirmed).
std::string stickUnconfirmed(const std::filesystem::path &folder, Front front);
std::string nothingToRecover(const std::filesystem::path &folder);
std::string cannotUndo(PassKind kind, const std::filesystem::path &folder, Front front);
std::string recovered(PassKind kind, RecoveryChoice choice, int renamed);
std::string recoveryConflicts(const std::vector<FileName> &names, Front front);
std::string recoveryRefused(const std::vector<FileName> &names, const RenameOutcome &cause,
                            Front front);
// A recovery that could not run or broke off (busy, no lock, the journal, the medium gone).
std::string recoveryFailed(const RecoveryResult &result, const std::filesystem::path &folder,
                           Front front);
std::string recoveryStopped(int renamed, const std::filesystem::path &folder, Front front);
// The folder files pass through to be stored in order, opened by itself.
std::string orderingFolder(const std::filesystem::path &folder, Front front);
std::string orderedFilesReturned(int moved, const std::filesystem::path &parent);

// --- Questions ----------------------------------------------------------------------------------
// Each gives its choices with their answers (question.h), the default, the escape and the
// unattended answer.

// `folder`: for the terminal's command line.
session::Question shuffleAgainQuestion(const std::vector<FileName> &prefixed, int listed,
                                       const std::filesystem::path &folder, Front front);
// Most names begin with four digits that look like a prefix Korvalo did not write here (another
// computer, another state folder): NewDigits (the default), AddAnother or Cancel.
session::Question foreignPrefixesQuestion(const std::vector<FileName> &foreign, int listed,
                                          Front front);
// `leftAlone`: names beginning with four digits that no removal renames (only an extension
// would be left).
session::Question stripDigitsQuestion(const std::vector<FileName> &others, int qualifying,
                                      Front front, const std::vector<FileName> &leftAlone = {});
// `filesAway`: for an interrupted ordering, the files still in the folder they passed through.
// `unconfirmed`: Korvalo cannot tell that the pass was made on this stick; the question says so
// and its escape is Later.
session::Question recoveryQuestion(const RecoveryStatus &status, int filesAway, bool unconfirmed,
                                   Front front);
session::Question damagedRecordQuestion(const JournalError &error, Front front);
session::Question orderingFolderQuestion(const std::filesystem::path &folder, Front front);
// Once at start-up, the unfinished passes of folders other than the one shown, reachable now:
// an answer opens the folder of that index (OpenFolder), or is Later.
session::Question unfinishedAtStartQuestion(const std::vector<session::UnfinishedPass> &passes);
// `ordering`: every name is right, the files are being stored in order.
session::Question closeDuringPassQuestion(bool ordering = false);
// What a terminal asks the user to type for a question: its keys, and what Enter chooses.
std::string prompt(const session::Question &question);

// --- Progress ----------------------------------------------------------------------------------

// What every front end shows while the files are stored in order, instead of the plan's label,
// and after a stop while those already out go back.
std::string orderingProgressLabel();
std::string movingBackProgressLabel();

// --- korvalo-cli -------------------------------------------------------------------------------

// What the progress line of a running plan is headed with.
std::string progressLabel(PassKind kind);         // a pass
std::string recoveryProgressLabel(PassKind kind); // finishing or undoing an unfinished pass
std::string returnProgressLabel();                // files moving back from the ordering folder

// A command line that cannot be run, and what was wrong; each ends by pointing to --help.
std::string unknownCommand(const std::string &word);
std::string unknownOption(const std::string &option);
// `commands`: the commands the option belongs to.
std::string optionNotFor(const std::string &option, const std::vector<std::string> &commands);
std::string conflictingOptions(const std::string &first, const std::string &second);
std::string missingCommand();
std::string missingFolder(const std::string &command);
std::string extraArgument(const std::string &word);
std::string missingRecoveryChoice();

// --- korvalo, the window ------------------------------------------------------------------------

// What korvalo --help prints: its use, its options, and where the command line's program is.
std::string windowHelp();

} // namespace korvalo::texts

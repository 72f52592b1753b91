// Glossary: every text below keeps to it.
//
//   序号          the four random digits Korvalo puts in front of a name ("加上序号", "去掉序号");
//                 never 排序号 or 顺序号. The desktop entry says the same.
//   存放顺序      the order in which a folder's entries are stored on a FAT or exFAT stick, the
//                 order many car stereos play in; never 存储顺序.
//   passes        随机排序, 删除排序, 恢复原名, 整理存放顺序 (passName()); inside a sentence a pass
//                 stands between “…” like any other name.
//   首歌曲/个文件  "首歌曲" counts the songs of the music list (songCount(), statusHeading());
//                 "个文件" counts files in every other text.
//   numbers       one space between a number (or a Latin word: Korvalo, korvalo-cli) and Chinese
//                 text: "共 60 首歌曲", "已改 3 个文件". The fixed texts of the old program keep
//                 theirs without: "已选文件夹共有60首歌曲", "你选择的文件夹里没有Mp3或者Flac文件".
//   quotation     “…” around paths, file names, pass names and button captions (quoted()).
//   改名记录      the journal of a folder; it lives in the user's state folder, never on the
//                 stick, so a text about it never blames the stick (U盘).
//   没有完成的改名  a pass that was interrupted: a shuffle, a removal, a restore or an ordering.
//                 A title says 有未完成的改名: "有没有…" would read as a question.
//   预览          what a dry run shows (korvalo-cli --dry-run): the renames a pass would make.
//   next step     the window says what to click or where to open the folder again; the terminal
//                 gives the korvalo-cli command line, with the folder as a shell reads it.
//   line ends     no text ends with a line break: a front end ends each text as it shows it.
//                 Lines inside a text are separated by '\n'.

#include "session/texts.h"

#include "browse/oserror.h"
#include "browse/utf8path.h"
#include "journal/journalfile.h"
#include "session/textformat.h"
#include "session/unfinishedpass.h"

#include <algorithm>
#include <cerrno>

namespace korvalo::texts {

namespace {

// How many names a list of names shows before it only counts the rest.
constexpr std::size_t kListedNames = 10;
// About two dozen Chinese characters: narrower than any message box, wide enough for a name.
// A Chinese character counts two, a Latin letter one.
constexpr int kShownWidth = 40;

std::string n(long long value)
{
    return std::to_string(value);
}

std::string n(std::size_t value)
{
    return std::to_string(value);
}

// A path as the user's system writes it: "E:\\音乐" on Windows.
std::string utf8(const std::filesystem::path &path)
{
    return shownPath(path);
}

// A folder on a stick as an example, in the system's own spelling.
std::string exampleFolder()
{
    return std::filesystem::path::preferred_separator == '/' ? "/media/U盘/音乐" : "E:\\音乐";
}

bool window(Front front)
{
    return front == Front::Window;
}

// A korvalo-cli command line for a folder; "文件夹" stands for a folder not known here.
std::string command(const std::string &what, const std::filesystem::path &folder)
{
    return "korvalo-cli " + what + ' ' +
           (folder.empty() ? std::string("文件夹") : shellQuoted(folder));
}

std::string quotedPass(PassKind kind)
{
    return "“" + passName(kind) + "”";
}

// A name already made UTF-8 text (shownName()), or a caption, between quotation marks.
std::string inQuotes(const std::string &text)
{
    return "“" + text + "”";
}

// A button on the window, a choice typed on the terminal.
std::string choose(Front front, const char *what)
{
    return (window(front) ? "点" : "选") + inQuotes(what);
}

// What stands where Korvalo keeps a file or folder of its own, when it is not one of them: empty
// for an error with another cause.
std::string misfitText(int osError)
{
    using journalfile::Misfit;
    switch (journalfile::misfitOf(osError)) {
    case Misfit::Link:
        return "那里是一个链接，Korvalo 不会顺着链接去读写";
    case Misfit::Folder:
        return "那里是一个文件夹，而不是文件";
    case Misfit::Special:
        return "那里不是普通文件（可能是管道或设备文件）";
    case Misfit::Foreign:
        return "它属于别的用户，或者别的用户也能改动它";
    case Misfit::TooLarge:
        return "它大得不正常，不可能是 Korvalo 写的记录";
    case Misfit::None:
        break;
    }
    return std::string();
}

// Why a file or folder of Korvalo's own, in the user's state folder, could not be used. Unlike
// causeText() it names no stick: the state folder is on the user's own disk.
std::string stateCause(int osError)
{
    std::string why;
    if (osError == ENOTDIR)
        return "路径中的某一层是文件，不是文件夹（错误号 " + n(static_cast<long long>(osError)) +
               "）";
    switch (causeOfSystemError(osError, OsAction::Renaming)) {
    case Cause::PermissionDenied:
        why = "没有权限";
        break;
    case Cause::ReadOnly:
        why = "这个位置是只读的";
        break;
    case Cause::NoSpace:
        why = "磁盘已满";
        break;
    case Cause::NotFound:
        why = "路径中的某个文件夹不存在";
        break;
    case Cause::NotAFolder:
        why = "路径中的某一层是文件，不是文件夹";
        break;
    case Cause::IoError:
        why = "读写出错";
        break;
    default:
        why = "系统错误";
        break;
    }
    return why + "（错误号 " + n(static_cast<long long>(osError)) + "）";
}

std::string recordFacts(const JournalError &error)
{
    return std::string("Korvalo 在状态文件夹里保存的这个文件夹的改名记录") +
           (error.osError == EFBIG ? "大得不正常，可能已损坏" : "已损坏") + "：\n" +
           quoted(error.path) +
           "\nKorvalo 不会按这样的记录改名，所以没有改任何文件名；在处理它之前，"
           "也不能给这个文件夹排序。";
}

// Why the stored order could not be arranged, and the file it stopped at.
std::string storedOrderCause(const OrderingOutcome &order, Front front)
{
    // Without a cause of its own the journal could not be written: its message says so.
    std::string out = "原因：" + (order.inexact ? std::string("移回以后，U盘上的存放顺序仍然和文件"
                                                              "列表的顺序不一致。")
                                  : order.cause.ok() ? std::string("无法写入改名记录。")
                                                     : renameErrorText(order.cause, front));
    if (!order.failedName.empty())
        out += "\n出问题的文件：" +
               inQuotes(shownName(std::filesystem::path(order.failedName).filename(), front));
    return out;
}

// How to have the stored order arranged later, for names as the pass `namesOf` left them.
std::string arrangeLater(PassKind namesOf, const std::filesystem::path &folder, Front front)
{
    if (namesOf == PassKind::Shuffle || namesOf == PassKind::Replace)
        return window(front) ? std::string("再点“重新排序”，选“换新序号”。")
                             : "再运行 " + command("shuffle", folder) + " --replace。";
    // A removal with no prefix to take off renames nothing and only stores the files in order.
    return (window(front)
                ? "选" + inQuotes(caption::kOption2) + "，再点一次" + inQuotes(caption::kRemove)
                : "再运行一次 " + command("remove", folder)) +
           "：没有序号可去时，它只整理存放顺序。";
}

session::Question orderingRecoveryQuestion(int filesAway, Front front)
{
    using Choice = RecoveryChoice;
    session::Question q;
    q.kind = session::Question::Kind::Recovery;
    q.title = "上次整理存放顺序没有完成";
    q.text = "Korvalo 上次在整理这个文件夹里歌曲的存放顺序时被中断了，还有 " +
             n(static_cast<long long>(filesAway)) +
             " 个文件在它建的临时文件夹里（名字以“Korvalo 临时文件夹”开头），"
             "播放器在这个文件夹里找不到它们。文件名都没有变。\n\n请" +
             choose(front, "移回") + "把它们移回这个文件夹。";
    // Leaving them would hide them from the player, so every way out of the box moves them back.
    q.choices = {{"移回", Choice::Finish, "1"}};
    q.defaultAnswer = Choice::Finish;
    q.escapeAnswer = Choice::Finish;
    return q;
}

session::Question passRecoveryQuestion(const RecoveryStatus &status, int filesAway, Front front)
{
    using Choice = RecoveryChoice;
    if (status.kind == PassKind::Order)
        return orderingRecoveryQuestion(filesAway, front);
    session::Question q;
    q.kind = session::Question::Kind::Recovery;
    q.title = "上次的改名没有完成";
    std::string why;
    if (!status.end)
        why = "Korvalo 被意外关闭，或者U盘被拔出";
    else if (*status.end == PassEnd::Stopped)
        // Either front end may have stopped it: the window closed, or Ctrl-C in a terminal.
        why = "改名时被停止（关闭了 Korvalo 窗口，或在终端里按了 Ctrl-C）";
    else
        // The record keeps that a file failed, not why: the report of the pass said why (the stick
        // pulled out, a name taken, ...), and this does not say otherwise.
        why = "改名中途出了错，有一个文件没能改名";
    std::string done;
    switch (status.kind) {
    case PassKind::Shuffle:
        done = "加上了序号";
        break;
    case PassKind::Removal:
        done = "去掉了序号";
        break;
    case PassKind::Restore:
        done = "改回了原来的名字";
        break;
    case PassKind::Order:
        break; // asked by orderingRecoveryQuestion()
    case PassKind::Replace:
        done = "换上了新序号";
        break;
    }
    q.text = "这个文件夹里上次的" + quotedPass(status.kind) + "没有完成。\n原因：" + why +
             "。\n开始时间：" + localTime(status.startTime) + "\n" +
             n(static_cast<long long>(status.fileCount)) + " 个文件中已有 " +
             n(static_cast<long long>(status.done)) + " 个" + done + "。";
    if (status.missing > 0)
        q.text += "另有 " + n(static_cast<long long>(status.missing)) +
                  " 个文件已被别人改名或移走，Korvalo 不会动它们。";
    // The pass announces a file before it renames it: the files the record does not hold (it was
    // cut off) were never renamed.
    if (status.recorded < status.fileCount)
        q.text += "还有 " + n(static_cast<long long>(status.fileCount - status.recorded)) +
                  " 个文件的改名计划没有记进记录（记录在中途断了），"
                  "它们没有被改名，下面的处理也不会动它们。";
    q.text += "\n\n";
    if (status.kind == PassKind::Shuffle) {
        q.text += "恢复原名：把已加上序号的文件改回原来的名字（推荐）。\n"
                  "完成排序：给其余的文件也加上序号。\n"
                  "保持现状：不改任何文件名；以后仍可用“删除排序”去掉序号。";
        q.choices = {{"恢复原名", Choice::Undo, "1"},
                     {"完成排序", Choice::Finish, "2"},
                     {"保持现状", Choice::Leave, "3"}};
        q.defaultAnswer = Choice::Undo;
    } else if (status.kind == PassKind::Replace) {
        q.text += "恢复原名：把已换上新序号的文件改回原来的名字（推荐）。\n"
                  "完成排序：给其余的文件也换上新序号。\n"
                  "保持现状：不改任何文件名；以后仍可用“删除排序”去掉序号。";
        q.choices = {{"恢复原名", Choice::Undo, "1"},
                     {"完成排序", Choice::Finish, "2"},
                     {"保持现状", Choice::Leave, "3"}};
        q.defaultAnswer = Choice::Undo;
    } else {
        q.text += "完成：把其余的文件也改回原来的名字（推荐）。\n"
                  "保持现状：不改任何文件名。";
        q.choices = {{"完成", Choice::Finish, "1"}, {"保持现状", Choice::Leave, "2"}};
        q.defaultAnswer = Choice::Finish;
    }
    q.escapeAnswer = Choice::Leave;
    return q;
}

} // namespace

// --- Names, paths, numbers --------------------------------------------------------------------

std::string quoted(const std::filesystem::path &path)
{
    return "“" + utf8(path) + "”";
}

std::string shownName(const std::filesystem::path &name, Front front)
{
    // A terminal wraps long lines, and its user may copy the name: it is shown whole.
    return front == Front::Terminal ? utf8(name) : shortened(utf8(name), kShownWidth);
}

std::string driveText(const Volume &volume)
{
    // The root file system has no label of its own.
    return volumeText(volume, "根目录");
}

std::string nameList(const std::vector<FileName> &names, Front front)
{
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < kListedNames; ++i)
        out += (i > 0 ? "\n    " : "    ") + shownName(names[i], front);
    if (names.size() > kListedNames)
        out += "\n    ……还有 " + n(names.size() - kListedNames) + " 个文件";
    return out;
}

std::string passName(PassKind kind)
{
    switch (kind) {
    case PassKind::Shuffle:
        return "随机排序";
    case PassKind::Removal:
        return "删除排序";
    case PassKind::Restore:
        return "恢复原名";
    case PassKind::Order:
        return "整理存放顺序";
    case PassKind::Replace:
        return "换新序号";
    }
    return std::string();
}

// --- Listing ------------------------------------------------------------------------------------

std::string songCount(int count)
{
    return "已选文件夹共有" + n(static_cast<long long>(count)) + "首歌曲";
}

std::string emptyList()
{
    return "你选择的文件夹里没有Mp3或者Flac文件";
}

std::string causeText(Cause cause, int osError, Front front)
{
    const bool w = window(front);
    switch (cause) {
    case Cause::None:
        return std::string();
    case Cause::TargetExists:
        return "目标文件已存在。请先把同名的文件改名或移走，再试一次。";
    case Cause::SourceMissing:
        return std::string("文件不存在，可能已被别的程序改名或删除。") +
               (w ? "请在文件夹列表里重新打开文件夹后再试。"
                  : "请运行 korvalo-cli status 看看文件夹现在的样子，然后再试。");
    case Cause::FolderGone:
        return std::string("文件夹已被移动或删除，U盘仍在。") +
               (w ? "请在文件夹列表里重新选择文件夹后再试。" : "请确认文件夹现在的路径后再试。");
    case Cause::NotFound:
        return std::string("文件夹不存在。") +
               (w ? "请在文件夹列表里重新选择文件夹。" : "请检查文件夹的路径。");
    case Cause::NotAFolder:
        return std::string("不是文件夹。") +
               (w ? "请选择一个文件夹。" : "请给出一个文件夹的路径。");
    case Cause::PermissionDenied:
        return "没有权限。请检查这个文件夹的访问权限。";
    case Cause::ReadOnly:
        return "U盘或磁盘是只读的。如果U盘侧面有写保护开关，请把它拨到解锁的一边，"
               "重新插入U盘后再试；否则请以可写方式重新挂载。";
    case Cause::NameTooLong:
        return "文件名过长。请先把这个文件的名字改短，再试一次。";
    case Cause::InvalidName:
        return "文件名含有这个磁盘不允许的字符。请先把这个文件改名，再试一次。";
    case Cause::NoSpace:
        return "磁盘空间或目录已满（FAT 格式的根目录只能放有限的文件）。"
               "请腾出空间，或把歌曲放进子文件夹后再试。";
    case Cause::Busy:
        return "文件正被使用。请关闭正在使用它的程序后再试。";
    case Cause::IoError:
        return "读写错误。请检查磁盘或U盘是否完好。";
    case Cause::DeviceGone:
        return std::string("设备已移除。") + (w ? "请重新插入U盘，再在文件夹列表里打开这个文件夹。"
                                                : "请重新插入U盘，再运行一次。");
    case Cause::Other:
        break;
    }
    return "其他错误（错误号 " + n(static_cast<long long>(osError)) + "）。请再试一次。";
}

std::string listErrorText(const ListError &error, Front front)
{
    return causeText(error.kind, error.osError, front);
}

std::string renameErrorText(const RenameOutcome &outcome, Front front)
{
    return causeText(outcome.error, outcome.osError, front);
}

std::string folderFailure(const std::filesystem::path &folder, const ListError &error, Front front)
{
    return "无法打开文件夹" + quoted(folder) + "。\n原因：" + listErrorText(error, front);
}

std::string folderGoneAway(Cause cause, Front front)
{
    if (cause == Cause::DeviceGone)
        return "U盘已被拔出，没有改任何文件名。\n" +
               std::string(window(front) ? "请重新插入U盘，再在文件夹列表里打开这个文件夹。"
                                         : "请重新插入U盘，再运行一次。");
    return "文件夹已被移动或删除，没有改任何文件名。\n" +
           std::string(window(front) ? "请在文件夹列表里重新选择文件夹。"
                                     : "请确认文件夹现在的路径后再试。");
}

// --- Refusals before any rename -------------------------------------------------------------

std::string nothingRenamed()
{
    return "没有改任何文件名。";
}

std::string unsafeDriver(Front)
{
    return "这个U盘是用 fusefat 驱动挂载的。这个驱动在改名时会损坏文件夹、丢失文件，"
           "所以没有改任何文件名。请用系统自带的 FAT 驱动（vfat）重新挂载U盘后再试。";
}

std::string volumeBusy(Front front)
{
    return std::string("另一个 Korvalo（窗口或命令行）正在处理这个U盘，所以没有改任何文件名。") +
           (window(front) ? "请等它完成后再点一次。" : "请等它完成后再运行一次。");
}

std::string lockUnavailable(const LockFailure &failure, Front front)
{
    const std::string again = window(front) ? "再打开 Korvalo。" : "再运行一次。";
    if (failure.path.empty())
        return "找不到用户的主文件夹，没有地方放 Korvalo 的锁文件，所以没有改任何文件名。"
               "请设置 HOME（或 XDG_STATE_HOME）环境变量后" +
               again;
    std::string why = misfitText(failure.osError);
    if (!why.empty())
        why += "。";
    else if (failure.osError == ENOTDIR)
        why = "它（或它上面的某一层）是一个文件，不是文件夹。";
    else
        why = stateCause(failure.osError) + "。";
    return "Korvalo 无法在" + quoted(failure.path) +
           "建立或使用它的锁文件（锁文件用来防止两个 Korvalo 同时改同一个U盘上的文件名），"
           "所以没有改任何文件名。\n原因：" +
           why +
           "\n放锁文件的文件夹和锁文件都必须属于你自己、不是链接，而且只有你能写入。"
           "请检查它们的所有者和权限，或者把" +
           quoted(failure.path) + "移到别处，Korvalo 会重新建立。";
}

std::string journalFailure(const JournalError &error, Front front)
{
    using Kind = JournalError::Kind;
    const bool w = window(front);
    switch (error.kind) {
    case Kind::None:
        return std::string();
    case Kind::PassPending:
        return recoveryPending({}, front);
    case Kind::Damaged:
        return recordDamaged(error, {}, front);
    case Kind::NoStateFolder:
        return std::string(
                   "找不到用户的主文件夹，Korvalo 没有地方保存改名记录，所以没有改任何文件名。"
                   "请设置 HOME（或 XDG_STATE_HOME）环境变量后") +
               (w ? "再打开 Korvalo。" : "再运行一次。");
    case Kind::RecordBusy:
        return "另一个 Korvalo（窗口或命令行）正在写这个文件夹的改名记录，所以没有改任何文件名。"
               "请等它做完再试一次。";
    case Kind::PassOpen:
    case Kind::NoPass:
        return "Korvalo 的改名记录出了内部错误，所以没有继续改名。请再试一次。";
    case Kind::Folder:
    case Kind::Read:
    case Kind::Write:
    case Kind::Sync:
        break;
    }
    const std::string where = quoted(error.path);
    // Something that is not a private file of Korvalo's where it keeps one: planted there, or
    // left by another program. Told as a damaged record, not as a permission problem.
    if (const std::string misfit = misfitText(error.osError); !misfit.empty()) {
        if (error.kind == Kind::Folder)
            return "保存 Korvalo 改名记录的文件夹" + where + "不能用：" + misfit +
                   "。为了不丢失文件名，没有改任何文件名。\n"
                   "Korvalo 只用属于你自己、只有你能写入的真实文件夹。请把它移到别处（Korvalo "
                   "会重新建立一个），或者把它的所有者改成你、权限改成只有你能写入。";
        return "Korvalo 的记录文件" + where +
               "（或放它的文件夹）已损坏，或者不是 Korvalo 留下的：" + misfit +
               (error.kind == Kind::Read ? "。在处理它之前，Korvalo 不会给这个文件夹改名。"
                                         : "。为了不丢失文件名，没有继续改名。") +
               "\n请把这个文件移到别处，然后再试一次。";
    }
    if (error.kind == Kind::Read)
        // Opening the folder: the record is the user's own file, not on the stick.
        return "Korvalo 无法读取这个文件夹的改名记录。它在你自己的状态文件夹里：\n" + where +
               "\n原因：" + stateCause(error.osError) +
               "\n在能读取它之前，Korvalo 不会给这个文件夹改名。" +
               (error.osError == ENOTDIR
                    ? "请把路径中挡在那里的文件移到别处（Korvalo 会重新建立它的文件夹），然后"
                    : "请检查这个文件的所有者和访问权限（它应该属于你，而且你能读写），然后") +
               (w ? "在文件夹列表里重新打开这个文件夹。" : "再运行一次。");
    const std::string made = error.kind == Kind::Folder ? "Korvalo 无法建立保存改名记录的文件夹" +
                                                              where + "，所以无法写入改名记录"
                                                        : "Korvalo 无法写入改名记录" + where;
    return made + "。为了不丢失文件名，它没有继续改名。\n原因：" + stateCause(error.osError) +
           "\n请确认这个位置可以写入、磁盘没有满，然后" + (w ? "再试一次。" : "再运行一次。");
}

std::string recordDamaged(const JournalError &error, const std::filesystem::path &folder,
                          Front front)
{
    if (window(front))
        return recordFacts(error) +
               "\n\n请在文件夹列表里重新打开这个文件夹，在提示中选“保持现状”：Korvalo "
               "把这份记录改名另存，然后按文件夹现在的样子重新开始，不改任何文件名。";
    return recordFacts(error) + "\n\n请运行 " + command("recover", folder) +
           " --leave：它把这份记录改名另存在同一个文件夹里，然后按文件夹现在的样子重新开始，"
           "不改任何文件名。之后 Korvalo 会把这个文件夹当作没处理过的文件夹。";
}

std::string damagedRecordLeft(const std::filesystem::path &keptAs)
{
    return "损坏的记录已另存为：\n" + quoted(keptAs) +
           "\n文件名都没有改。Korvalo 现在把这个文件夹当作没处理过的文件夹。";
}

std::string recoveryPending(const std::filesystem::path &folder, Front front)
{
    const std::string facts =
        "这个文件夹上次的改名没有完成，要先处理它，所以这次没有改任何文件名。\n";
    if (window(front))
        return facts + "请在文件夹列表里重新打开这个文件夹，按提示恢复或完成上次的改名，然后再试。";
    return facts + "请运行 " + command("status", folder) + " 查看，再用 " +
           command("recover", folder) + " 处理，然后再试。";
}

std::string recoveryBusy(Front front)
{
    return std::string("这个文件夹上次的改名没有完成，但另一个 Korvalo（窗口或命令行）"
                       "正在处理这个U盘。\n") +
           (window(front) ? "请等它完成后重新打开这个文件夹，再决定怎样处理。"
                          : "请等它完成后运行 korvalo-cli status 文件夹 查看，再决定怎样处理。");
}

std::string cancelled()
{
    return "已取消，没有改任何文件名。";
}

std::string folderChangedMeanwhile(bool byKorvalo, Front front)
{
    (void)front;
    return std::string(byKorvalo
                           ? "另一个 Korvalo（窗口或命令行）刚刚改过这个文件夹里的文件名"
                           : "这个文件夹里的文件刚刚有了变动（有文件被改名、删除或新放进来）") +
           "，所以 Korvalo 按文件夹现在的样子重新安排了这次改名。";
}

std::string againDeclined(int prefixed, const std::filesystem::path &folder, Front front)
{
    const std::string facts = "有 " + n(static_cast<long long>(prefixed)) +
                              " 个文件名已经带着 Korvalo "
                              "加上的序号，再随机排序会在前面再加一个，所以没有改任何文件名。\n";
    if (window(front))
        return facts + "想换一种顺序，请再点“重新排序”，选“换新序号”。";
    return facts + "想换一种顺序，请运行 " + command("shuffle", folder) +
           " --replace（把序号换成新的）；确实要再加一个序号，请加上 --again。";
}

std::string foreignDeclined(int foreign, const std::filesystem::path &folder, Front front)
{
    const std::string facts =
        "有 " + n(static_cast<long long>(foreign)) +
        " 个文件名开头是四位数字，像是在另一台电脑上加上的序号，再随机排序会在前面再加一个，"
        "所以没有改任何文件名。\n";
    if (window(front))
        return facts + "想换一种顺序，请再点“随机排序”，选“换新序号”。";
    return facts + "想把这四位数字换成新的序号，请运行 " + command("shuffle", folder) +
           " --replace；确实要再加一个序号，请加上 --again。";
}

// --- What a pass did ----------------------------------------------------------------------------

std::string completed(PassKind kind, int renamed)
{
    const std::string count = n(static_cast<long long>(renamed));
    switch (kind) {
    case PassKind::Shuffle:
        return "随机排序完成：已给 " + count + " 个文件加上序号。";
    case PassKind::Removal:
        if (renamed == 0)
            return "删除排序完成：没有要去掉的序号，没有改任何文件名。";
        return "删除排序完成：已去掉 " + count + " 个文件名开头的四位数字。";
    case PassKind::Restore:
        return "恢复原名完成：已把 " + count + " 个文件改回原来的名字。";
    case PassKind::Replace:
        return "换新序号完成：已给 " + count + " 个文件换上新的序号，顺序已重新打乱。";
    case PassKind::Order:
        break;
    }
    return "整理存放顺序完成：已整理 " + count + " 个文件。";
}

std::string songCountAfterPass(PassKind kind, int count, int renamed)
{
    std::string did;
    if (kind == PassKind::Shuffle)
        did = "已全部加上序号";
    else if (kind == PassKind::Replace)
        did = "已全部换上新序号";
    else if (renamed == 0)
        did = "没有要去掉的序号";
    else
        did = "已去掉序号";
    // On a line of its own: the label is narrow.
    return songCount(count) + "，\n" + did;
}

std::string songCountAfterRecovery(PassKind kind, RecoveryChoice choice, int count)
{
    std::string did;
    if (kind == PassKind::Order)
        did = "文件已移回";
    else if (choice == RecoveryChoice::Undo)
        did = "已改回原来的名字";
    else if (choice == RecoveryChoice::Leave)
        did = "已保持现状";
    else
        did = kind == PassKind::Shuffle ? "已全部加上序号" : "已去掉序号";
    return songCount(count) + "，\n" + did;
}

std::string questionInterrupted()
{
    return "已按 Ctrl-C 退出，没有改任何文件名。";
}

std::string refusedTitle(PassKind kind)
{
    return "无法" + passName(kind);
}

std::string unfinishedTitle(PassKind kind)
{
    return passName(kind) + "没有做完";
}

std::string keptDigits(int kept, Front front)
{
    const std::string facts = "有 " + n(static_cast<long long>(kept)) +
                              " 个文件名开头的四位数字不是 Korvalo 加上的，已保留。";
    if (window(front))
        return facts;
    return facts + "如果也要去掉，请加上 --strip-all 再运行一次。";
}

std::string renameFailure(PassKind kind, const PassResult &result, int total,
                          const std::filesystem::path &folder, Front front, const ListError &reread)
{
    if (!result.filesLeftIn.empty())
        return filesLeftOut(storedOrderOf(result), front);
    const bool w = window(front);
    // The first line is the news: what happened to the folder. The names and the cause follow.
    const std::string outcome =
        result.renamed == 0 ? nothingRenamed() : quotedPass(kind) + "没有做完。";
    std::string out;
    bool nextStepTold = false;
    if (!result.cause.ok()) {
        const std::string from = inQuotes(shownName(result.oldName, front));
        const std::string to = inQuotes(shownName(result.newName, front));
        std::string news;
        std::string reason;
        switch (result.cause.error) {
        case Cause::TargetExists:
            news = "有一个文件无法改名，因为它要用的名字已被占用，";
            reason = "目标文件已存在。挡住它的是文件夹里的\n    " + to +
                     "\n请先把这个文件改名或移到别的文件夹，再运行一次。";
            break;
        case Cause::ReadOnly:
            news = "U盘是只读的，";
            reason = renameErrorText(result.cause, front);
            break;
        case Cause::DeviceGone:
            news = "U盘已被拔出，";
            // The news is the cause: said once.
            reason = std::string("已改过的文件名都有记录：重新插入U盘后") +
                     (w ? "在文件夹列表里打开这个文件夹，Korvalo 会提出把文件名恢复原样。"
                        : "运行 " + command("status", folder) + " 查看可以怎样处理。");
            nextStepTold = true;
            break;
        default:
            news = "有一个文件无法改名，";
            reason = renameErrorText(result.cause, front);
            break;
        }
        // Each name on a line of its own: a long one is never wrapped in the middle of a sentence.
        out = news + outcome + (nextStepTold ? "\n" : "\n原因：") + reason +
              "\n出问题的文件：\n    " + from + "\n要改成：\n    " + to + "\n";
    } else {
        out = "无法写入改名记录，" + outcome + "\n" + journalFailure(result.journalError, front) +
              "\n";
    }
    out += "在它之前已改名 " + n(static_cast<long long>(result.renamed)) + " 个文件。";
    // `total` counts the files the pass was to rename, in order: those after the one that failed.
    const int remaining = total - result.renamed - 1;
    if (result.failedIndex >= 0 && remaining > 0)
        out += "之后的 " + n(static_cast<long long>(remaining)) + " 个文件没有处理。";
    if (!reread.ok())
        out += "\n无法重新读取文件夹：" + listErrorText(reread, front);
    if (result.renamed > 0 && !nextStepTold)
        out += w ? "\n已改过的文件名都有记录：解决问题后再点一次同一个按钮，或者在文件夹列表里"
                   "重新打开这个文件夹，Korvalo 会先问你怎样处理已改过的文件。"
                 : "\n这次" + quotedPass(kind) + "没有做完：解决问题后，运行 " +
                       command("status", folder) + " 查看可以怎样处理。";
    return out;
}

std::string refreshFailure(const std::filesystem::path &folder, const ListError &error, Front front)
{
    return "所有文件已改名，但无法重新读取文件夹" + quoted(folder) + "。\n原因：" +
           listErrorText(error, front);
}

std::string stopped(PassKind kind, int renamed, int total, const std::filesystem::path &folder,
                    Front front)
{
    std::string out = "已停止：" + quotedPass(kind) + "在 " + n(static_cast<long long>(total)) +
                      " 个文件中改了 " + n(static_cast<long long>(renamed)) + " 个之后" +
                      (window(front) ? "停止。" : "按 Ctrl-C（或终端被关闭、收到结束信号）停止。") +
                      "\n";
    if (window(front))
        return out + "改过的文件名都有记录：下次打开这个文件夹时，可以恢复原来的名字，"
                     "或者把改名做完。";
    if (kind == PassKind::Shuffle || kind == PassKind::Replace)
        return out + "运行 " + command("recover", folder) +
               " --undo 把它们改回原来的名字，--finish 做完剩下的文件，或 --leave 保持现状。";
    return out + "运行 " + command("recover", folder) +
           " --finish 做完剩下的文件，或 --leave 保持现状。";
}

std::string passEndNotRecorded(PassKind kind, int renamed, const JournalError &error,
                               const std::filesystem::path &folder, Front front)
{
    const std::string count = n(static_cast<long long>(renamed));
    std::string out = quotedPass(kind) + "做完了：要改的 " + count +
                      " 个文件都已改好，没有文件漏改。但 Korvalo 没能把这次改名的结束写进改名记录" +
                      quoted(error.path) + "。\n原因：" + stateCause(error.osError) +
                      "\n所以记录里这次改名还显示为没有完成。请确认这个位置可以写入、磁盘没有满，";
    if (window(front))
        return out + "然后在文件夹列表里重新打开这个文件夹，在提示中选“做完”：已改好的文件名"
                     "不会再改。";
    return out + "然后运行 " + command("recover", folder) +
           " --finish 把它记为完成：已改好的文件名不会再改。";
}

std::string outputNotWritten()
{
    return "korvalo-cli 的结果没能写到标准输出（磁盘已满，或者接收输出的程序已经关闭）。"
           "如果这次改了文件名，改名都已记下：运行 korvalo-cli status 文件夹 查看。";
}

std::string journalAfterPass(const JournalError &error, Front front)
{
    return "文件都已改名，但这次的结果没能完整记下：" + journalFailure(error, front);
}

std::string storedOrderNotArranged(PassKind namesOf, const OrderingOutcome &order,
                                   const std::filesystem::path &folder, Front front)
{
    if (order.order == StoredOrder::Stopped)
        return std::string("已停止：文件名已经全部改好，但整理这些歌曲在U盘上的存放顺序时") +
               (window(front) ? "关闭了窗口" : "按了 Ctrl-C（或终端被关闭、收到结束信号）") +
               "，存放顺序没有整理。已经移出的文件都已移回原处。\n"
               "按文件名排序播放的播放器不受影响；按存放顺序播放的播放器（很多车载音响）"
               "不会按文件名的顺序播放。如果你用的是这种播放器，想整理时请" +
               arrangeLater(namesOf, folder, front);
    return "文件名已经全部改好，但 Korvalo 没能整理这些歌曲在U盘上的存放顺序。\n" +
           storedOrderCause(order, front) +
           "\n按文件名排序播放的播放器不受影响；按存放顺序播放的播放器（很多车载音响）"
           "仍会按原来的顺序播放。如果你用的是这种播放器，请先解决上面的问题，" +
           arrangeLater(namesOf, folder, front);
}

std::string filesLeftOut(const OrderingOutcome &order, Front front)
{
    const std::filesystem::path folder = order.filesLeftIn.parent_path();
    std::string out = "文件名已经全部改好，但有些歌曲没能从临时文件夹移回" + quoted(folder) +
                      "。\n" + storedOrderCause(order, front) + "\n\n这些歌曲还在临时文件夹" +
                      inQuotes(shownName(order.filesLeftIn.filename(), front)) +
                      "里，文件列表和播放器都看不到它们。";
    if (window(front))
        return out + "在文件夹列表里打开这个文件夹时，Korvalo 会提出把它们移回来。";
    return out + "请运行 " + command("recover", folder) +
           " --finish 把它们移回来（在 Korvalo 窗口里打开这个文件夹也会移回来）。";
}

// --- A dry run ----------------------------------------------------------------------------------

std::string dryRunHeading(PassKind kind)
{
    if (kind == PassKind::Shuffle || kind == PassKind::Replace)
        return "预览：" + passName(kind) +
               "会这样改名（序号只是示例，真正排序时会重新抽取）。没有改任何文件名。";
    return "预览：" + passName(kind) + "会这样改名。没有改任何文件名。";
}

std::string dryRunRename(const FileName &from, const FileName &to)
{
    return utf8(from) + " → " + utf8(to);
}

std::string dryRunSummary(PassKind kind, int renames, int kept)
{
    std::string out = passName(kind) + "会改名 " + n(static_cast<long long>(renames)) + " 个文件。";
    if (kept > 0)
        out += "\n有 " + n(static_cast<long long>(kept)) +
               " 个文件名开头的四位数字不是 Korvalo 加上的，会保留；"
               "加上 --strip-all 会把它们也去掉。";
    return out;
}

// --- A folder's status and an unfinished pass -----------------------------------------------

std::string statusHeading(const std::filesystem::path &folder, int count)
{
    return "文件夹" + quoted(folder) + "共有 " + n(static_cast<long long>(count)) + " 首歌曲。";
}

std::string statusPrefixed(int prefixed, int stacked)
{
    std::string out =
        "其中 " + n(static_cast<long long>(prefixed)) + " 个文件名带着 Korvalo 加上的序号";
    if (stacked > 0)
        out += "（" + n(static_cast<long long>(stacked)) + " 个带着不止一个）";
    return out + "。";
}

std::string statusUnknownFolder(int lookPrefixed)
{
    std::string out = "Korvalo 没有这个文件夹的改名记录。";
    if (lookPrefixed > 0)
        out += "有 " + n(static_cast<long long>(lookPrefixed)) +
               " 个文件名以四位数字开头，看起来像序号。";
    return out;
}

std::string statusOtherDigits(int others)
{
    return "有 " + n(static_cast<long long>(others)) +
           " 个文件名开头的四位数字看起来是文件名原有的，删除排序默认会保留它们。";
}

std::string statusNothingPending()
{
    return "没有需要处理的、没有完成的改名。";
}

std::string statusBusy()
{
    return "另一个 Korvalo 正在处理这个U盘，现在无法检查上次的改名有没有完成。请等它完成后再看。";
}

namespace {

// One line about an unfinished pass: where, which pass, when, how many files.
std::string unfinishedLine(const session::UnfinishedPass &p)
{
    const std::string inVolume = quoted(pathFromUtf8(p.key.pathInVolume));
    std::string where = quoted(p.folder);
    if (p.folder.empty() && p.unchecked)
        where = inVolume + "（无法检查：可能存放它的磁盘或网络位置没有响应）";
    else if (p.folder.empty())
        where = p.volumePresent || p.key.volume.empty()
                    ? inVolume + "（文件夹已被移动或删除）"
                    : "U盘没有插上（卷 " + p.key.volume + " 里的文件夹" + inVolume + "）";
    const std::string line = "    " + where + "：" + quotedPass(p.pass.kind) + "，开始于 " +
                             localTime(p.pass.startTime) + "，共 " +
                             n(static_cast<long long>(p.pass.fileCount)) + " 个文件";
    return p.running ? line + "（正在进行：另一个 Korvalo 正在处理它）" : line;
}

} // namespace

std::string unfinishedList(const std::vector<session::UnfinishedPass> &passes)
{
    if (passes.empty())
        return "Korvalo 的改名记录里没有没完成的改名。";
    std::string out = "Korvalo 的改名记录里有 " + n(passes.size()) + " 次没有完成的改名：";
    for (const session::UnfinishedPass &p : passes) {
        out += '\n';
        out += unfinishedLine(p);
    }
    return out + "\n运行 " + command("status", {}) + " 查看每个文件夹可以怎样处理。";
}

std::string pendingPass(const RecoveryPlan &plan, const std::filesystem::path &folder, Front front)
{
    const RecoveryStatus &s = plan.status;
    const bool w = window(front);
    if (s.kind == PassKind::Order)
        // The files only passed through a folder of their own: their names are right, and every
        // choice moves them back.
        return "有一次没有完成的" + quotedPass(s.kind) + "（开始于 " + localTime(s.startTime) +
               "）：还有 " + n(plan.finish.size()) +
               " 个文件在 Korvalo 建的临时文件夹里，播放器找不到它们。文件名都没有变。\n" +
               (w ? "请在文件夹列表里重新打开这个文件夹，点“移回”把它们移回来。"
                  : "请运行 " + command("recover", folder) + " --finish 把它们移回来。");
    std::string how;
    if (!s.end)
        how = "程序被意外终止";
    else if (*s.end == PassEnd::Stopped)
        how = "中途被停止";
    else
        how = "因为有文件无法改名而停止";
    std::string out = "有一次没有完成的" + quotedPass(s.kind) + "（开始于 " +
                      localTime(s.startTime) + "，" + how + "）：" +
                      n(static_cast<long long>(s.fileCount)) + " 个文件中已改名 " +
                      n(static_cast<long long>(s.done)) + " 个";
    if (s.missing > 0)
        out += "，另有 " + n(static_cast<long long>(s.missing)) + " 个文件已不在原处";
    // Files the record does not hold (it was cut off while the pass announced them) were never
    // renamed: the pass announces a file before it renames it.
    if (s.recorded < s.fileCount)
        out += "。还有 " + n(static_cast<long long>(s.fileCount - s.recorded)) +
               " 个文件的改名计划没有记进记录（记录在中途断了）：它们没有被改名，"
               "下面的处理也不会动它们";
    if (w)
        return out + "。\n请在文件夹列表里重新打开这个文件夹，按提示选择怎样处理。";
    out += "。\n可以这样处理：";
    const auto conflicts = [](const std::vector<RecoveryConflict> &c) {
        return c.empty() ? std::string()
                         : "（其中 " + n(c.size()) + " 个文件无法处理，会保持原样）";
    };
    if (plan.canUndo)
        out += "\n  " + command("recover", folder) + " --undo    把已改名的 " +
               n(plan.undo.size() + plan.undoConflicts.size()) + " 个文件改回原来的名字" +
               conflicts(plan.undoConflicts);
    out += "\n  " + command("recover", folder) + " --finish  做完剩下的 " +
           n(plan.finish.size() + plan.finishConflicts.size()) + " 个文件" +
           conflicts(plan.finishConflicts);
    out += "\n  " + command("recover", folder) + " --leave   保持现状，不改任何文件名";
    return out;
}

std::string stickUnconfirmed(const std::filesystem::path &folder, Front front)
{
    const std::string facts =
        "Korvalo 无法确认上次改名时插着的就是这个U盘（或存储卡）：用同一个镜像复制出来的U盘，"
        "或者在同一个读卡器里换过的存储卡，它有时分不出来，所以没有自己处理这次没有完成的改名。\n";
    if (window(front))
        return facts + "如果上次改名的就是这个U盘，请在提示中选择怎样处理；如果不是，"
                       "请点“以后再说”，插上上次改名的那个U盘再处理。";
    return facts + "如果上次改名的就是这个U盘，请用上面的 " + command("recover", folder) +
           " 选择怎样处理；如果不是，请插上上次改名的那个U盘，在那里处理。";
}

std::string nothingToRecover(const std::filesystem::path &folder)
{
    return "文件夹" + quoted(folder) + "没有需要处理的、没有完成的改名。";
}

std::string cannotUndo(PassKind kind, const std::filesystem::path &folder, Front front)
{
    const bool w = window(front);
    if (kind == PassKind::Order)
        return "没有完成的是" + quotedPass(kind) + "，只需要把文件移回来：" +
               (w ? std::string("请点“移回”。")
                  : "请运行 " + command("recover", folder) + " --finish。");
    return "没有完成的是" + quotedPass(kind) + "，它不能撤销，只能做完或保持现状：" +
           (w ? std::string("请选“完成”或“保持现状”。")
              : "请运行 " + command("recover", folder) + " --finish 或 --leave。");
}

std::string recovered(PassKind kind, RecoveryChoice choice, int renamed)
{
    switch (choice) {
    case RecoveryChoice::Undo:
        return "已把 " + n(static_cast<long long>(renamed)) + " 个文件改回原来的名字。";
    case RecoveryChoice::Finish:
        return "已做完" + quotedPass(kind) + "剩下的 " + n(static_cast<long long>(renamed)) +
               " 个文件。";
    case RecoveryChoice::Leave:
        break;
    }
    return "已保持现状：Korvalo 按文件夹现在的样子记下了这些文件名。";
}

std::string recoveryConflicts(const std::vector<FileName> &names, Front front)
{
    return "有 " + n(names.size()) +
           " 个文件在这期间被别的程序改名或移走，或者它要用的名字已被别的文件占用，"
           "Korvalo 没有动它们：\n" +
           nameList(names, front) + "\n请自行检查这些文件。";
}

std::string recoveryRefused(const std::vector<FileName> &names, const RenameOutcome &cause,
                            Front front)
{
    return "有 " + n(names.size()) + " 个文件无法改名：\n" + nameList(names, front) + "\n原因：" +
           renameErrorText(cause, front);
}

std::string recoveryFailed(const RecoveryResult &result, const std::filesystem::path &folder,
                           Front front)
{
    using Status = RecoveryResult::Status;
    switch (result.status) {
    case Status::Done:
        return std::string();
    case Status::VolumeBusy:
        return recoveryBusy(front);
    case Status::LockUnavailable:
        return lockUnavailable(result.lockFailure, front);
    case Status::Failed:
        break;
    }
    if (!result.journalError.ok())
        return journalFailure(result.journalError, front);
    return "上次的改名没有处理完（已改 " + n(static_cast<long long>(result.renamed)) +
           " 个文件）。\n原因：" +
           (result.cause.ok() ? std::string("U盘已被拔出，或者文件夹已无法访问。")
                              : renameErrorText(result.cause, front)) +
           "\n" +
           (window(front) ? std::string("请重新插入U盘后在文件夹列表里打开这个文件夹，"
                                        "Korvalo 会再次提示。")
                          : "解决问题后运行 " + command("status", folder) + " 查看，再用 " +
                                command("recover", folder) + " 接着处理。");
}

std::string recoveryStopped(int renamed, const std::filesystem::path &folder, Front front)
{
    const std::string count = n(static_cast<long long>(renamed));
    if (window(front))
        return "已停止：改了 " + count + " 个文件之后停止。下次打开这个文件夹时可以接着处理。";
    return "已停止：改了 " + count +
           " 个文件之后按 Ctrl-C（或终端被关闭、收到结束信号）停止。再运行一次 " +
           command("recover", folder) + " 可以接着处理。";
}

std::string orderingFolder(const std::filesystem::path &folder, Front front)
{
    const std::string facts =
        "文件夹" + quoted(folder) +
        "是 Korvalo 整理存放顺序时用的临时文件夹，里面的文件属于上一级文件夹" +
        quoted(folder.parent_path()) + "，所以没有改任何文件名。";
    if (window(front))
        return facts + "请在文件夹列表里重新打开它，点“移回”把它们移回上一级文件夹。";
    return facts + "请运行 " + command("recover", folder) + " --finish 把它们移回上一级文件夹。";
}

std::string orderedFilesReturned(int moved, const std::filesystem::path &parent)
{
    return "已把 " + n(static_cast<long long>(moved)) + " 个文件移回文件夹" + quoted(parent) + "。";
}

// --- Questions ----------------------------------------------------------------------------------

session::Question shuffleAgainQuestion(const std::vector<FileName> &prefixed, int listed,
                                       const std::filesystem::path &folder, Front front)
{
    (void)folder;
    session::Question q;
    q.kind = session::Question::Kind::ShuffleAgain;
    q.title = "文件名已经带着序号";
    q.text = "列表中的 " + n(static_cast<long long>(listed)) + " 个文件里，有 " +
             n(prefixed.size()) + " 个已经带着 Korvalo 加上的序号：\n\n" +
             nameList(prefixed, front) +
             "\n\n换新序号：把这些文件名开头的四位序号换成新的（其余文件加上序号），"
             "一次就换成新的顺序。\n"
             "再加一个序号：在这些文件名前面再加上一个序号（变成两个）。\n"
             "取消：不改任何文件名。";
    q.choices = {{"换新序号", session::PrefixedAnswer::NewDigits, "r"},
                 {"再加一个序号", session::PrefixedAnswer::AddAnother, "y"},
                 {"取消", session::PrefixedAnswer::Cancel, "n"}};
    q.defaultAnswer = session::PrefixedAnswer::Cancel;
    q.escapeAnswer = session::PrefixedAnswer::Cancel;
    q.unattendedAnswer = session::PrefixedAnswer::Cancel;
    return q;
}

session::Question foreignPrefixesQuestion(const std::vector<FileName> &foreign, int listed,
                                          Front front)
{
    session::Question q;
    q.kind = session::Question::Kind::ForeignPrefixes;
    q.title = "文件名开头已经有四位数字";
    q.text = "列表中的 " + n(static_cast<long long>(listed)) + " 个文件里，有 " +
             n(foreign.size()) +
             " 个文件名开头是四位数字，看起来像排序用的序号，但这台电脑上的 Korvalo "
             "没有给它们加过序号。它们可能是在另一台电脑上（或者用别的软件）加上的：\n\n" +
             nameList(foreign, front) +
             "\n\n换新序号：把这四位数字换成新的序号（其余文件加上序号），一次就换成新的顺序"
             "（推荐）。\n"
             "再加一个序号：不管它们，在前面再加上一个序号（变成八位数字）。\n"
             "取消：不改任何文件名。";
    q.choices = {{"换新序号", session::PrefixedAnswer::NewDigits, "r"},
                 {"再加一个序号", session::PrefixedAnswer::AddAnother, "y"},
                 {"取消", session::PrefixedAnswer::Cancel, "n"}};
    q.defaultAnswer = session::PrefixedAnswer::NewDigits;
    q.escapeAnswer = session::PrefixedAnswer::Cancel;
    q.unattendedAnswer = session::PrefixedAnswer::Cancel;
    return q;
}

session::Question stripDigitsQuestion(const std::vector<FileName> &others, int qualifying,
                                      Front front, const std::vector<FileName> &leftAlone)
{
    using Digits = session::DigitAnswer;
    session::Question q;
    q.kind = session::Question::Kind::StripOtherDigits;
    q.title = "文件名开头本来就有数字";
    // Every name beginning with four digits is counted, those no removal renames too, so that the
    // count agrees with what the user sees in the list.
    const long long all = qualifying + static_cast<long long>(leftAlone.size());
    q.text = "在 " + n(all) + " 个以四位数字开头的文件中，有 " + n(others.size()) +
             " 个开头的数字不是 Korvalo 加上的，可能是文件名本来就有的（比如年份或曲目号）：\n\n" +
             nameList(others, front);
    if (!leftAlone.empty())
        q.text += "\n\n另有 " + n(leftAlone.size()) +
                  " 个文件去掉四位数字后只剩扩展名，Korvalo 不会动它们：\n\n" +
                  nameList(leftAlone, front);
    q.text += "\n\n保留它们的数字：只删除 Korvalo 加上的序号（推荐）。\n"
              "也删除：这些文件名开头的四位数字也会被删掉。\n"
              "取消：不改任何文件名。";
    q.choices = {{"保留它们的数字", Digits::KeepOthers, "1"},
                 {"也删除", Digits::StripAll, "2"},
                 {"取消", Digits::Cancel, "3"}};
    q.defaultAnswer = Digits::KeepOthers;
    q.escapeAnswer = Digits::Cancel;
    q.unattendedAnswer = Digits::KeepOthers;
    return q;
}

session::Question recoveryQuestion(const RecoveryStatus &status, int filesAway, bool unconfirmed,
                                   Front front)
{
    session::Question q = passRecoveryQuestion(status, filesAway, front);
    q.unattendedAnswer = session::Later{};
    if (unconfirmed)
        q.text +=
            "\n\n注意：Korvalo 无法确认上次改名时插着的就是这个U盘（或存储卡）。用同一个镜像"
            "复制出来的U盘，或者在同一个读卡器里换过的存储卡，它有时分不出来。如果不是同一个，"
            "请" +
            choose(front, "以后再说") +
            "，插上上次改名的那个U盘再处理；在那之前，Korvalo 不会给这个文件夹里的文件改名。";
    // On a terminal "later" is always there: the end of the input, or nobody at the terminal,
    // must rename nothing.
    if (unconfirmed || !window(front)) {
        if (!unconfirmed)
            q.text += "\n以后再说：现在什么都不动；在处理它之前，不能给这个文件夹排序。";
        q.choices.push_back({"以后再说", session::Later{}, std::to_string(q.choices.size() + 1)});
        q.escapeAnswer = session::Later{};
    }
    return q;
}

session::Question damagedRecordQuestion(const JournalError &error, Front)
{
    session::Question q;
    q.kind = session::Question::Kind::DamagedRecord;
    q.title = "改名记录已损坏";
    q.text = recordFacts(error) +
             "\n\n保持现状：把这份记录改名另存在同一个文件夹里，然后按文件夹现在的样子重新开始，"
             "不改任何文件名。之后 Korvalo 会把这个文件夹当作没处理过的文件夹，删除排序时会按"
             "文件名判断哪些数字是序号。\n以后再说：什么都不动。";
    q.choices = {{"保持现状", session::LeaveRecord{}, "1"}, {"以后再说", session::Later{}, "2"}};
    q.defaultAnswer = session::LeaveRecord{};
    q.escapeAnswer = session::Later{};
    q.unattendedAnswer = session::Later{};
    return q;
}

session::Question orderingFolderQuestion(const std::filesystem::path &folder, Front front)
{
    session::Question q;
    q.kind = session::Question::Kind::OrderingFolder;
    q.title = "Korvalo 的临时文件夹";
    q.text = inQuotes(shownName(folder.filename(), front)) +
             "是 Korvalo 整理存放顺序时用的临时文件夹，里面的文件属于上一级文件夹" +
             inQuotes(shownName(folder.parent_path().filename(), front)) +
             "。不能在这里排序。\n\n移回：把这些文件移回上一级文件夹并打开它（推荐）。\n"
             "取消：现在不动它们。";
    q.choices = {{"移回", session::ReturnAnswer::MoveBack, "y"},
                 {"取消", session::ReturnAnswer::Cancel, "n"}};
    q.defaultAnswer = session::ReturnAnswer::MoveBack;
    q.escapeAnswer = session::ReturnAnswer::Cancel;
    q.unattendedAnswer = session::ReturnAnswer::Cancel;
    return q;
}

session::Question unfinishedAtStartQuestion(const std::vector<session::UnfinishedPass> &passes)
{
    // A button for each of the first few folders: a box holds no more.
    constexpr std::size_t kButtons = 3;
    session::Question q;
    q.kind = session::Question::Kind::UnfinishedElsewhere;
    q.title = "有未完成的改名";
    // And the lines of no more folders than a small screen shows with the buttons below them.
    constexpr std::size_t kLines = 8;
    q.text = std::string("Korvalo 上次在") + (passes.size() == 1 ? "这个" : "这些") +
             "文件夹里的改名没有完成：\n";
    for (std::size_t i = 0; i < passes.size() && i < kLines; ++i) {
        q.text += '\n';
        q.text += unfinishedLine(passes[i]);
    }
    if (passes.size() > kLines)
        q.text += "\n    还有 " + n(passes.size() - kLines) +
                  " 个文件夹；打开它们时会逐个提示，也可以运行 korvalo-cli status 全部列出。";
    q.text += "\n";
    for (std::size_t i = 0; i < passes.size() && i < kButtons; ++i) {
        const std::string caption =
            "打开" + inQuotes(shownName(passes[i].folder.filename(), Front::Window));
        q.text += "\n" + caption + "：在文件夹列表里打开" + quoted(passes[i].folder) +
                  "，再选择怎样处理。";
        q.choices.push_back({caption, session::OpenFolder{i}, std::to_string(i + 1)});
    }
    q.text += "\n以后再说：现在什么都不动；打开这些文件夹时还会提示。";
    q.choices.push_back({"以后再说", session::Later{}, std::to_string(q.choices.size() + 1)});
    q.defaultAnswer = session::OpenFolder{0};
    q.escapeAnswer = session::Later{};
    q.unattendedAnswer = session::Later{};
    return q;
}

session::Question closeDuringPassQuestion(bool ordering)
{
    session::Question q;
    q.kind = session::Question::Kind::CloseDuringPass;
    q.title = ordering ? "正在整理存放顺序" : "正在改名";
    q.text = ordering ? "文件名都已改好，Korvalo 正在整理这些歌曲在U盘上的存放顺序。\n\n"
                        "停止：不再移出文件，把已经移出的文件移回原处后关闭窗口。"
                        "文件名不受影响，只是存放顺序没有整理。\n"
                        "继续：整理完存放顺序，窗口不关闭。"
                      : "文件还没有全部改完。\n\n"
                        "停止：改完手上这个文件就停下并关闭窗口。改过的文件名都有记录，"
                        "下次打开这个文件夹时可以恢复原来的名字，或者把改名做完。\n"
                        "继续：改完所有文件，窗口不关闭。";
    q.choices = {{"停止", session::CloseAnswer::Stop, "y"},
                 {"继续", session::CloseAnswer::GoOn, "n"}};
    q.defaultAnswer = session::CloseAnswer::Stop;
    q.escapeAnswer = session::CloseAnswer::GoOn;
    // The one who closed the window wants it closed: stop after the file in hand.
    q.unattendedAnswer = session::CloseAnswer::Stop;
    return q;
}

std::string prompt(const session::Question &question)
{
    std::string keys;
    std::string byDefault;
    for (const session::Question::Choice &choice : question.choices) {
        keys += (keys.empty() ? "" : "/") + choice.key;
        if (choice.answer == question.defaultAnswer)
            byDefault = choice.caption;
    }
    return "请选择 [" + keys + "]，直接按回车选" + inQuotes(byDefault) + "：";
}

// --- Progress ----------------------------------------------------------------------------------

std::string orderingProgressLabel()
{
    return "正在整理存放顺序…";
}

std::string movingBackProgressLabel()
{
    return "已停止，正在把移出的文件移回…";
}

// --- korvalo-cli -------------------------------------------------------------------------------

std::string progressLabel(PassKind kind)
{
    return passName(kind);
}

std::string recoveryProgressLabel(PassKind kind)
{
    return "处理没完成的" + passName(kind);
}

std::string returnProgressLabel()
{
    return "移回文件";
}

namespace {

std::string badUse(const std::string &what)
{
    return what + "请运行 korvalo-cli --help 查看用法。";
}

} // namespace

std::string unknownCommand(const std::string &word)
{
    return badUse("没有“" + word + "”这个命令。");
}

std::string unknownOption(const std::string &option)
{
    return badUse("没有“" + option + "”这个选项。");
}

std::string optionNotFor(const std::string &option, const std::vector<std::string> &commands)
{
    std::string which;
    for (std::size_t i = 0; i < commands.size(); ++i)
        which += (i == 0 ? "" : " 或 ") + commands[i];
    return badUse("选项“" + option + "”只能和 " + which + " 一起用。");
}

std::string conflictingOptions(const std::string &first, const std::string &second)
{
    return badUse("选项“" + first + "”和“" + second + "”不能同时用，请只选一个。");
}

std::string missingCommand()
{
    return badUse("缺少命令。");
}

std::string missingFolder(const std::string &command)
{
    return badUse("命令 " + command + " 需要一个文件夹，例如：korvalo-cli " + command + " " +
                  exampleFolder() + "。");
}

std::string extraArgument(const std::string &word)
{
    return badUse("多了一个参数“" + word + "”：每次只能处理一个文件夹。");
}

std::string missingRecoveryChoice()
{
    return badUse("recover 需要选择怎样处理：--undo、--finish 或 --leave。"
                  "先运行 korvalo-cli status 文件夹 看看情况。");
}

std::string windowHelp()
{
    return "用法：korvalo [选项]\n"
           "\n"
           "打开 Korvalo 的窗口：给文件夹里每个 Mp3 和 Flac 文件的名字前加上随机的四位\n"
           "序号（1000～9999），让按文件名顺序播放的播放器按随机顺序播放；也可以把序号\n"
           "去掉。只改这些文件的名字，从不覆盖别的文件。窗口先列出启动时所在的文件夹。\n"
           "\n"
           "选项：\n"
           "  -h, --help     显示这个帮助\n"
           "  -V, --version  显示版本\n"
           "其余参数交给 Qt，例如 -platform offscreen。\n"
           "\n"
           "在命令行里或脚本中做同样的事：korvalo-cli --help";
}

} // namespace korvalo::texts

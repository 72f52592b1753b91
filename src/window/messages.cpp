#include "window/messages.h"

#include "browse/oserror.h"
#include "passes/journalfile.h"
#include "window/pathtext.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>

#include <algorithm>
#include <cerrno>

namespace messages {

QString warningTitle()
{
    return QStringLiteral("警告");
}

QString emptyListText()
{
    return QStringLiteral("你选择的文件夹里没有Mp3或者Flac文件");
}

QString causeText(korvalo::Cause cause, int osError)
{
    using korvalo::Cause;
    switch (cause) {
    case Cause::None:
        return QString();
    case Cause::TargetExists:
        return QStringLiteral("目标文件已存在。请先把同名的文件改名或移走，再试一次。");
    case Cause::SourceMissing:
        return QStringLiteral("文件不存在，可能已被别的程序改名或删除。请重新打开文件夹后再试。");
    case Cause::FolderGone:
        return QStringLiteral("文件夹已被移动或删除，U盘仍在。请重新选择文件夹后再试。");
    case Cause::NotFound:
        return QStringLiteral("文件夹不存在。请重新选择文件夹。");
    case Cause::NotAFolder:
        return QStringLiteral("不是文件夹。请选择一个文件夹。");
    case Cause::PermissionDenied:
        return QStringLiteral("没有权限。请检查这个文件夹的访问权限。");
    case Cause::ReadOnly:
        return QStringLiteral("U盘或磁盘是只读的。如果U盘侧面有写保护开关，请把它拨到解锁的一边，"
                              "重新插入U盘后再试；否则请以可写方式重新挂载。");
    case Cause::NameTooLong:
        return QStringLiteral("文件名过长。请先把这个文件的名字改短，再试一次。");
    case Cause::InvalidName:
        return QStringLiteral("文件名含有这个磁盘不允许的字符。请先把这个文件改名，再试一次。");
    case Cause::NoSpace:
        return QStringLiteral("磁盘空间或目录已满（FAT 格式的根目录只能放有限的文件）。"
                              "请腾出空间，或把歌曲放进子文件夹后再试。");
    case Cause::Busy:
        return QStringLiteral("文件正被使用。请关闭正在使用它的程序后再试。");
    case Cause::IoError:
        return QStringLiteral("读写错误。请检查磁盘或U盘是否完好。");
    case Cause::DeviceGone:
        return QStringLiteral("设备已移除。请重新插入U盘，再打开文件夹。");
    case Cause::Other:
        break;
    }
    return QStringLiteral("其他错误（错误号 %1）。").arg(osError);
}

QString listErrorText(const korvalo::ListError &error)
{
    return causeText(error.kind, error.osError);
}

QString renameErrorText(const korvalo::RenameOutcome &outcome)
{
    return causeText(outcome.error, outcome.osError);
}

QString unsafeDriverText()
{
    return QStringLiteral(
        "这个U盘是用 fusefat 驱动挂载的。这个驱动在改名时会损坏文件夹、丢失文件，"
        "所以没有改任何文件名。请用系统自带的 FAT 驱动（vfat）重新挂载U盘后再试。");
}

namespace {

// What stands where Korvalo keeps a file or folder of its own, when it is not one of them: empty
// for an error with another cause.
QString misfitText(int osError)
{
    using korvalo::journalfile::Misfit;
    switch (korvalo::journalfile::misfitOf(osError)) {
    case Misfit::Link:
        return QStringLiteral("那里是一个链接，Korvalo 不会顺着链接去读写");
    case Misfit::Folder:
        return QStringLiteral("那里是一个文件夹，而不是文件");
    case Misfit::Special:
        return QStringLiteral("那里不是普通文件（可能是管道或设备文件）");
    case Misfit::Foreign:
        return QStringLiteral("它属于别的用户，或者别的用户也能写入");
    case Misfit::TooLarge:
        return QStringLiteral("它大得不正常，不可能是 Korvalo 写的记录");
    case Misfit::None:
        break;
    }
    return QString();
}

} // namespace

QString lockUnavailableText(const korvalo::LockFailure &failure)
{
    if (failure.path.empty())
        return QStringLiteral("找不到用户的主文件夹，没有地方放 Korvalo 的锁文件，"
                              "所以没有改任何文件名。"
                              "请设置 HOME（或 XDG_STATE_HOME）环境变量后再打开 Korvalo。");
    QString why = misfitText(failure.osError);
    if (!why.isEmpty())
        why += QStringLiteral("。");
    else if (failure.osError == ENOTDIR)
        why = QStringLiteral("它（或它上面的某一层）是一个文件，不是文件夹。");
    else
        why = causeText(korvalo::causeOfSystemError(failure.osError, korvalo::OsAction::Renaming),
                        failure.osError);
    return QStringLiteral("Korvalo 无法在“%1”建立或使用它的锁文件（锁文件用来防止两个 Korvalo "
                          "同时改同一个U盘上的文件名），所以没有改任何文件名。\n原因：%2\n"
                          "放锁文件的文件夹和锁文件都必须属于你自己、不是链接，而且只有你能写入。"
                          "请检查它们的所有者和权限，或者把“%1”移到别处，Korvalo 会重新建立。")
        .arg(displayPath(failure.path), why);
}

QString volumeBusyText()
{
    return QStringLiteral("另一个 Korvalo 窗口正在处理这个U盘。请等它完成后再试。");
}

QString displayPath(const std::filesystem::path &path)
{
    return pathText(path);
}

QString folderFailure(const std::filesystem::path &folder, const korvalo::ListError &error)
{
    return QStringLiteral("无法打开文件夹“%1”。\n原因：%2")
        .arg(displayPath(folder), listErrorText(error));
}

QString boxName(const std::filesystem::path &name)
{
    // About two dozen Chinese characters: narrower than any message box, wide enough for a name.
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    const int width = metrics.horizontalAdvance(QChar(0x6C49)) * 24;
    return metrics.elidedText(displayPath(name), Qt::ElideMiddle, width);
}

QString renameFailure(const korvalo::PassResult &result, int total,
                      const korvalo::ListError &afterwards)
{
    if (!result.filesLeftIn.empty())
        return filesLeftOut(result);
    if (result.cause.ok() && !result.journalError.ok())
        return journalFailure(result.journalError);
    const QString from = boxName(result.oldName);
    const QString to = boxName(result.newName);
    QString reason;
    switch (result.cause.error) {
    case korvalo::Cause::TargetExists:
        reason = QStringLiteral("目标文件已存在。挡住它的是文件夹里的\n    “%1”\n"
                                "请先把这个文件改名或移到别的文件夹，再运行一次。")
                     .arg(to);
        break;
    case korvalo::Cause::DeviceGone:
        reason = QStringLiteral("U盘已被拔出。已改过的文件名都有记录：重新插入U盘后打开这个文件夹，"
                                "Korvalo 会提出把文件名恢复原样。");
        break;
    default:
        reason = renameErrorText(result.cause);
        break;
    }
    // Each name on a line of its own: a long one is never wrapped in the middle of a sentence.
    QString text =
        QStringLiteral(
            "无法把文件\n    “%1”\n改名为\n    “%2”\n原因：%3\n在它之前已改名 %4 个文件。")
            .arg(from, to, reason, QString::number(result.renamed));
    const int remaining = total - result.failedIndex - 1;
    if (remaining > 0)
        text += QStringLiteral("之后的 %1 个文件没有处理。").arg(remaining);
    if (!afterwards.ok())
        text += QStringLiteral("\n无法重新读取文件夹：%1").arg(listErrorText(afterwards));
    return text;
}

QString refreshFailure(const std::filesystem::path &folder, const korvalo::ListError &error)
{
    return QStringLiteral("所有文件已改名，但无法重新读取文件夹“%1”。\n原因：%2")
        .arg(displayPath(folder), listErrorText(error));
}

namespace {

// The first names of a list, one a line, then how many there are in all.
QString nameList(const std::vector<korvalo::FileName> &names)
{
    constexpr std::size_t kShown = 10;
    QString text;
    for (std::size_t i = 0; i < std::min(names.size(), kShown); ++i)
        text += QStringLiteral("    ") + boxName(names[i]) + QLatin1Char('\n');
    if (names.size() > kShown)
        text += QStringLiteral("    ……共 %1 个\n").arg(names.size());
    return text;
}

// Files left in the folder they passed through to be stored in order: there is nothing to choose.
// Leaving them would hide them from the player, so every way out of the box moves them back.
Question orderingRecoveryQuestion(int filesAway)
{
    using Choice = korvalo::RecoveryChoice;
    Question q;
    q.icon = QMessageBox::Warning;
    q.title = QStringLiteral("上次整理存放顺序没有完成");
    q.text = QStringLiteral("Korvalo 上次在整理这个文件夹里歌曲的存放顺序时被中断了，"
                            "还有 %1 个文件在它建的临时文件夹里（名字以“Korvalo 临时文件夹”开头），"
                            "播放器在这个文件夹里找不到它们。文件名都没有变。\n\n"
                            "请点“移回”把它们移回这个文件夹。")
                 .arg(filesAway);
    q.choices = {{QStringLiteral("移回"), int(Choice::Finish)}};
    q.defaultAnswer = int(Choice::Finish);
    q.escapeAnswer = int(Choice::Finish);
    return q;
}

QString passName(korvalo::PassKind kind)
{
    switch (kind) {
    case korvalo::PassKind::Shuffle:
        return QStringLiteral("“随机排序”");
    case korvalo::PassKind::Removal:
        return QStringLiteral("“删除排序”");
    case korvalo::PassKind::Restore:
        return QStringLiteral("恢复原文件名");
    case korvalo::PassKind::Order:
        return QStringLiteral("整理存放顺序");
    }
    return QString();
}

} // namespace

QString journalFailure(const korvalo::JournalError &error)
{
    using Kind = korvalo::JournalError::Kind;
    switch (error.kind) {
    case Kind::None:
        return QString();
    case Kind::PassPending:
        return recoveryPendingText();
    case Kind::Damaged:
        return damagedRecordText(error);
    case Kind::NoStateFolder:
        return QStringLiteral("找不到用户的主文件夹，Korvalo 无法记录改名，所以没有改任何文件名。"
                              "请设置 HOME（或 XDG_STATE_HOME）环境变量后再打开 Korvalo。");
    case Kind::RecordBusy:
        return QStringLiteral("另一个 Korvalo（窗口或脚本）正在写这个文件夹的记录，所以没有改任何"
                              "文件名。请等它做完再试一次。");
    default:
        break;
    }
    // Something that is not a private file of Korvalo's where it keeps one: planted there, or
    // left by another program. Told as a damaged record, not as a permission problem.
    if (const QString misfit = misfitText(error.osError); !misfit.isEmpty()) {
        if (error.kind == Kind::Folder)
            return QStringLiteral("保存 Korvalo 记录的文件夹“%1”不能用：%2。为了不丢失文件名，"
                                  "它没有改任何文件名。\nKorvalo 只用属于你自己、只有你能写入的"
                                  "真实文件夹。请把它移到别处（Korvalo 会重新建立一个），"
                                  "或者把它的所有者改成你、权限改成只有你能写入。")
                .arg(displayPath(error.path), misfit);
        return QStringLiteral("Korvalo 的记录文件“%1”（或放它的文件夹）已损坏，"
                              "或者不是 Korvalo 留下的：%2。为了不丢失文件名，它没有继续改名。\n"
                              "请把这个文件移到别处，然后再试一次。")
            .arg(displayPath(error.path), misfit);
    }
    const QString cause = causeText(
        korvalo::causeOfSystemError(error.osError, korvalo::OsAction::Renaming), error.osError);
    return QStringLiteral("Korvalo 无法写入改名记录“%1”。为了不丢失文件名，它没有继续改名。\n"
                          "原因：%2\n请确认这个位置可以写入、磁盘没有满，然后再运行一次。")
        .arg(displayPath(error.path), cause);
}

namespace {

QString damagedRecordFacts(const korvalo::JournalError &error)
{
    return QStringLiteral("Korvalo 在状态文件夹里保存的这个文件夹的改名记录%1：\n%2\n"
                          "Korvalo 不会按这样的记录改名，所以没有改任何文件名；"
                          "在处理它之前，也不能给这个文件夹排序。\n\n")
        .arg(error.osError == EFBIG ? QStringLiteral("大得不正常，可能已损坏")
                                    : QStringLiteral("已损坏"),
             displayPath(error.path));
}

} // namespace

QString damagedRecordText(const korvalo::JournalError &error)
{
    return damagedRecordFacts(error) +
           QStringLiteral("请在文件夹列表里重新打开这个文件夹，在提示中选“保持现状”；"
                          "或者运行 korvalo-cli recover 文件夹 --leave。");
}

QString damagedRecordLeftText(const std::filesystem::path &keptAs)
{
    return QStringLiteral("损坏的记录已另存为：\n%1\n文件名都没有改。Korvalo "
                          "现在把这个文件夹当作没处理过的文件夹。")
        .arg(displayPath(keptAs));
}

Question damagedRecordQuestion(const korvalo::JournalError &error)
{
    Question q;
    q.icon = QMessageBox::Warning;
    q.title = QStringLiteral("改名记录已损坏");
    q.text = damagedRecordFacts(error) +
             QStringLiteral("保持现状：把这份记录改名另存在同一个文件夹里，然后按文件夹现在的样子"
                            "重新开始，不改任何文件名。之后 Korvalo 会把这个文件夹当作没处理过的"
                            "文件夹，删除排序时会按文件名判断哪些数字是排序号。\n"
                            "以后再说：什么都不动。");
    q.choices = {{QStringLiteral("保持现状"), 1}, {QStringLiteral("以后再说"), 0}};
    q.defaultAnswer = 1;
    q.escapeAnswer = 0;
    return q;
}

QString recoveryPendingText()
{
    return QStringLiteral("这个文件夹上次的改名没有完成，要先处理它，所以这次没有改任何文件名。\n"
                          "请在文件夹列表里重新打开这个文件夹，按提示恢复或完成上次的改名，"
                          "然后再试。");
}

QString recoveryBusyText()
{
    return QStringLiteral("这个文件夹上次的改名没有完成，但另一个 Korvalo 窗口正在处理这个U盘。\n"
                          "请等它完成后重新打开这个文件夹，再决定怎样处理。");
}

QString recoveryReport(const korvalo::RecoveryResult &result)
{
    using Status = korvalo::RecoveryResult::Status;
    if (result.status == Status::VolumeBusy)
        return recoveryBusyText();
    if (result.status == Status::LockUnavailable)
        return lockUnavailableText(result.lockFailure);
    QString text;
    if (result.status == Status::Failed) {
        if (!result.journalError.ok())
            return journalFailure(result.journalError);
        text = QStringLiteral("U盘已被拔出或文件夹已无法访问，文件名没有全部处理完（已改 %1 个）。"
                              "请重新插入U盘后再打开这个文件夹，Korvalo 会再次提示。\n")
                   .arg(result.renamed);
    }
    if (!result.conflicts.empty())
        text +=
            QStringLiteral("有 %1 个文件在此期间被改名或移走，或者它要用的名字已被别的文件占用，"
                           "Korvalo 没有动它们：\n%2请自行检查这些文件。\n")
                .arg(result.conflicts.size())
                .arg(nameList(result.conflicts));
    if (!result.refused.empty())
        text += QStringLiteral("有 %1 个文件无法改名（%2）：\n%3")
                    .arg(result.refused.size())
                    .arg(renameErrorText(result.cause), nameList(result.refused));
    return text.trimmed();
}

Question stripDigitsQuestion(const std::vector<korvalo::FileName> &others, int qualifying)
{
    using Answer = korvalo::PassQuestions::DigitAnswer;
    Question q;
    q.title = QStringLiteral("删除排序");
    q.text =
        QStringLiteral("在 %1 个以四位数字开头的文件中，有 %2 个开头的数字不是 Korvalo 加上的，"
                       "可能是文件名本来就有的（比如年份或曲目号）：\n\n%3\n"
                       "保留它们的数字：只删除 Korvalo 加上的排序号（推荐）。\n"
                       "也删除：这些文件名开头的四位数字也会被删掉。\n"
                       "取消：不改任何文件名。")
            .arg(qualifying)
            .arg(others.size())
            .arg(nameList(others));
    q.choices = {{QStringLiteral("保留它们的数字"), int(Answer::KeepOthers)},
                 {QStringLiteral("也删除"), int(Answer::StripAll)},
                 {QStringLiteral("取消"), int(Answer::Cancel)}};
    q.defaultAnswer = int(Answer::KeepOthers);
    q.escapeAnswer = int(Answer::Cancel);
    return q;
}

Question shuffleAgainQuestion(const std::vector<korvalo::FileName> &prefixed, int listed)
{
    Question q;
    q.icon = QMessageBox::Warning;
    q.title = QStringLiteral("随机排序");
    q.text = QStringLiteral("列表中的 %1 个文件里，有 %2 个已经带着 Korvalo 加上的排序号：\n\n%3\n"
                            "继续的话，这些文件名前面会再加上一个排序号（变成两个）。"
                            "如果只是想换一种顺序，请先选“已经使用过本软件”，点“删除排序”，"
                            "再重新排序。")
                 .arg(listed)
                 .arg(prefixed.size())
                 .arg(nameList(prefixed));
    q.choices = {{QStringLiteral("继续排序"), 1}, {QStringLiteral("取消"), 0}};
    q.defaultAnswer = 0;
    q.escapeAnswer = 0;
    return q;
}

namespace {

Question passRecoveryQuestion(const korvalo::RecoveryStatus &status, int filesAway)
{
    using Choice = korvalo::RecoveryChoice;
    if (status.kind == korvalo::PassKind::Order)
        return orderingRecoveryQuestion(filesAway);
    Question q;
    q.icon = QMessageBox::Warning;
    q.title = QStringLiteral("上次的改名没有完成");
    const QString when = QDateTime::fromSecsSinceEpoch(status.startTime)
                             .toLocalTime()
                             .toString(QStringLiteral("yyyy年M月d日 HH:mm"));
    QString why;
    if (!status.end)
        why = QStringLiteral("Korvalo 被意外关闭，或者U盘被拔出");
    else if (*status.end == korvalo::PassEnd::Stopped)
        why = QStringLiteral("窗口在改名时被关闭");
    else
        why = QStringLiteral("有一个文件无法改名");
    QString done;
    switch (status.kind) {
    case korvalo::PassKind::Shuffle:
        done = QStringLiteral("加上了排序号");
        break;
    case korvalo::PassKind::Removal:
        done = QStringLiteral("去掉了排序号");
        break;
    case korvalo::PassKind::Restore:
        done = QStringLiteral("改回了原来的名字");
        break;
    case korvalo::PassKind::Order:
        break; // asked by orderingRecoveryQuestion()
    }
    q.text = QStringLiteral("这个文件夹里上次的%1没有完成。\n"
                            "原因：%2。\n"
                            "开始时间：%3\n"
                            "%4 个文件中已有 %5 个%6。")
                 .arg(passName(status.kind), why, when)
                 .arg(status.fileCount)
                 .arg(status.done)
                 .arg(done);
    if (status.missing > 0)
        q.text += QStringLiteral("另有 %1 个文件已被别人改名或移走，Korvalo 不会动它们。")
                      .arg(status.missing);
    // The pass announces a file before it renames it: the files the record does not hold (it was
    // cut off) were never renamed.
    if (status.recorded < status.fileCount)
        q.text += QStringLiteral("还有 %1 个文件的改名计划没有记进记录（记录在中途断了），"
                                 "它们没有被改名，下面的处理也不会动它们。")
                      .arg(status.fileCount - status.recorded);
    q.text += QStringLiteral("\n\n");
    if (status.kind == korvalo::PassKind::Shuffle) {
        q.text += QStringLiteral("恢复原名：把已加上排序号的文件改回原来的名字（推荐）。\n"
                                 "完成排序：给其余的文件也加上排序号。\n"
                                 "保持现状：不改任何文件名；以后仍可用“删除排序”去掉排序号。");
        q.choices = {{QStringLiteral("恢复原名"), int(Choice::Undo)},
                     {QStringLiteral("完成排序"), int(Choice::Finish)},
                     {QStringLiteral("保持现状"), int(Choice::Leave)}};
        q.defaultAnswer = int(Choice::Undo);
    } else {
        q.text += QStringLiteral("完成：把其余的文件也改回原来的名字（推荐）。\n"
                                 "保持现状：不改任何文件名。");
        q.choices = {{QStringLiteral("完成"), int(Choice::Finish)},
                     {QStringLiteral("保持现状"), int(Choice::Leave)}};
        q.defaultAnswer = int(Choice::Finish);
    }
    q.escapeAnswer = int(Choice::Leave);
    return q;
}

} // namespace

Question recoveryQuestion(const korvalo::RecoveryStatus &status, int filesAway, bool unconfirmed)
{
    Question q = passRecoveryQuestion(status, filesAway);
    if (!unconfirmed)
        return q;
    q.text += QStringLiteral(
        "\n\n注意：Korvalo 无法确认上次改名时插着的就是这个U盘（或存储卡）。用同一个镜像复制出来的"
        "U盘，或者在同一个读卡器里换过的存储卡，它有时分不出来。如果不是同一个，请点“以后再说”，"
        "插上上次改名的那个U盘再处理；在那之前，Korvalo 不会给这个文件夹里的文件改名。");
    q.choices.push_back({QStringLiteral("以后再说"), kRecoveryLater});
    q.escapeAnswer = kRecoveryLater;
    return q;
}

namespace {

// Why the stored order could not be arranged, and the file it stopped at.
QString storedOrderCause(const korvalo::PassResult &result)
{
    // Without a cause of its own the journal could not be written: its message says so.
    QString text =
        QStringLiteral("原因：%1")
            .arg(result.storedOrderCause.ok() ? QStringLiteral("无法写入改名记录。")
                                              : renameErrorText(result.storedOrderCause));
    if (!result.storedOrderFile.empty())
        text +=
            QStringLiteral("\n出问题的文件：%1").arg(boxName(result.storedOrderFile.filename()));
    return text;
}

} // namespace

QString storedOrderFailure(const korvalo::PassResult &result)
{
    return QStringLiteral("文件名已经全部改好，但 Korvalo 没能整理这些歌曲在U盘上的存放顺序。\n") +
           storedOrderCause(result) +
           QStringLiteral("\n按文件名排序播放的播放器不受影响；按存放顺序播放的播放器"
                          "（很多车载音响）仍会按原来的顺序播放。如果你用的是这种播放器，"
                          "请先解决上面的问题，再点“删除排序”，然后重新“随机排序”。");
}

QString filesLeftOut(const korvalo::PassResult &result)
{
    return QStringLiteral("文件名已经全部改好，但有些歌曲没能从临时文件夹移回“%1”。\n")
               .arg(displayPath(result.filesLeftIn.parent_path())) +
           storedOrderCause(result) +
           QStringLiteral("\n\n这些歌曲还在临时文件夹“%1”里，文件列表和播放器都看不到它们。"
                          "打开这个文件夹时，Korvalo 会提出把它们移回来。")
               .arg(boxName(result.filesLeftIn.filename()));
}

Question orderingFolderQuestion(const std::filesystem::path &folder)
{
    Question q;
    q.icon = QMessageBox::Warning;
    q.title = QStringLiteral("Korvalo 的临时文件夹");
    q.text = QStringLiteral("“%1”是 Korvalo 整理存放顺序时用的临时文件夹，"
                            "里面的文件属于上一级文件夹“%2”。不能在这里排序。\n\n"
                            "移回：把这些文件移回上一级文件夹并打开它（推荐）。\n"
                            "取消：现在不动它们。")
                 .arg(boxName(folder.filename()), boxName(folder.parent_path().filename()));
    q.choices = {{QStringLiteral("移回"), 1}, {QStringLiteral("取消"), 0}};
    q.defaultAnswer = 1;
    q.escapeAnswer = 0;
    return q;
}

Question closeDuringPassQuestion()
{
    Question q;
    q.title = QStringLiteral("正在改名");
    q.text = QStringLiteral("文件还没有全部改完。\n\n"
                            "停止：改完手上这个文件就停下并关闭窗口。改过的文件名都有记录，"
                            "下次打开这个文件夹时可以恢复原来的名字，或者把改名完成。\n"
                            "继续：改完所有文件，窗口不关闭。");
    q.choices = {{QStringLiteral("停止"), 1}, {QStringLiteral("继续"), 0}};
    q.defaultAnswer = 1;
    q.escapeAnswer = 0;
    return q;
}

} // namespace messages

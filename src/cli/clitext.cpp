#include "cli/clitext.h"

#include "cli/version.h"

#include "browse/oserror.h"
#include "passes/journalfile.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace korvalo::cli::text {

namespace {

std::string n(int value)
{
    return std::to_string(value);
}

std::string command(const std::string &what, const std::filesystem::path &folder)
{
    return "korvalo-cli " + what + ' ' + shellQuoted(folder);
}

std::string localTime(std::int64_t secondsSince1970)
{
    const std::time_t t = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    char buffer[32] = {};
    if (!localtime_r(&t, &local) ||
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &local) == 0)
        return "?";
    return buffer;
}

// At most a few names, one a line, and how many more there are.
std::string someNames(const std::vector<FileName> &names)
{
    constexpr std::size_t kShown = 5;
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i)
        out += "  " + names[i] + '\n';
    if (names.size() > kShown)
        out += "  ……还有 " + n(static_cast<int>(names.size() - kShown)) + " 个\n";
    return out;
}

std::string errorNumber(int osError)
{
    return "（错误号 " + n(osError) + "）";
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
        return "它属于别的用户，或者别的用户也能写入";
    case Misfit::TooLarge:
        return "它大得不正常，不可能是 Korvalo 写的记录";
    case Misfit::None:
        break;
    }
    return std::string();
}

} // namespace

std::string shellQuoted(const std::filesystem::path &path)
{
    const std::string &s = path.native();
    const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_/.,:+@%=-").find(c) != std::string_view::npos;
    });
    if (plain)
        return s;
    std::string out = "'";
    for (const char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::string quoted(const std::filesystem::path &path)
{
    return "“" + path.native() + "”";
}

std::string help()
{
    return "用法：korvalo-cli 命令 文件夹 [选项]\n"
           "\n"
           "给文件夹里每个 Mp3 和 Flac 文件的名字前加上随机的四位顺序号（1000～9999），让按文件名\n"
           "顺序播放的播放器按随机顺序播放；也可以把顺序号去掉。只改这些文件的名字，从不覆盖别的文"
           "件。\n"
           "\n"
           "命令：\n"
           "  list 文件夹      列出音乐文件（顺序和窗口里一样）和数量\n"
           "  shuffle 文件夹   随机排序：给每个文件名前加上随机顺序号\n"
           "  remove 文件夹    删除排序：去掉文件名开头的四位数字\n"
           "  status 文件夹    显示有多少个文件名带着 Korvalo 写的顺序号，以及有没有没完成的排序\n"
           "  recover 文件夹 --undo | --finish | --leave\n"
           "                   处理一次没完成的排序：--undo "
           "把已改的文件名改回原样（只用于随机排序），\n"
           "                   --finish 做完剩下的文件，--leave 保持现状\n"
           "                   （这个文件夹的记录损坏时，--leave 把它另存一份后清除）\n"
           "\n"
           "选项：\n"
           "  --dry-run               只显示会怎样改名，不改任何文件名（显示的顺序号只是示例）\n"
           "  --again                 shuffle：文件名已带有 Korvalo "
           "写的顺序号时，仍在前面再加一个\n"
           "  --keep-original-digits  remove：只去掉 Korvalo "
           "写的数字，文件名原有的四位数字保留（默认）\n"
           "  --strip-all             remove：去掉所有文件名开头的四位数字\n"
           "  -h, --help              显示这个帮助\n"
           "  -V, --version           显示版本\n"
           "\n"
           "在终端里运行时，遇到需要确认的情况会提问，直接按回车选默认答案。不在终端里运行又没有给"
           "出\n"
           "选项时，按稳妥的方式处理：文件名原有的四位数字保留；不给已带顺序号的文件名再加一个（这"
           "时\n"
           "什么也不改，退出状态为 3）。按 Ctrl-C 会在正在改名的文件改完后停止，之后可以用 "
           "recover\n"
           "处理。\n"
           "\n"
           "退出状态：\n"
           "  0    完成\n"
           "  1    有文件无法改名\n"
           "  2    用法错误，或文件夹无法读取\n"
           "  3    拒绝执行，没有改任何文件名：另一个 Korvalo 正在处理这个磁盘，U盘是用 fusefat\n"
           "       驱动挂载的，已取消，有一次没完成的排序要先用 recover 处理，或 Korvalo "
           "的记录无法写入\n"
           "  130  按 Ctrl-C 停止\n";
}

std::string version()
{
    return std::string("korvalo-cli (") + KORVALO_CLI_NAME + ") " + KORVALO_CLI_VERSION + '\n';
}

std::string badUse(const std::string &what)
{
    return what + "请运行 korvalo-cli --help 查看用法。\n";
}

std::string unknownCommand(const std::string &word)
{
    return badUse("没有“" + word + "”这个命令。");
}

std::string unknownOption(const std::string &option)
{
    return badUse("没有“" + option + "”这个选项。");
}

std::string optionNotFor(const std::string &option, const std::string &commands)
{
    return badUse("选项“" + option + "”只能和 " + commands + " 一起用。");
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
    return badUse("命令 " + command + " 需要一个文件夹，例如：korvalo-cli " + command +
                  " /media/U盘/音乐。");
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

std::string causeText(Cause cause, int osError)
{
    switch (cause) {
    case Cause::None:
        return std::string();
    case Cause::TargetExists:
        return "目标文件已存在。请先把同名的文件改名或移走，再试一次。";
    case Cause::SourceMissing:
        return "文件不存在，可能已被别的程序改名或删除。请运行 korvalo-cli status 查看后再试。";
    case Cause::FolderGone:
        return "文件夹已被移动或删除，U盘仍在。请确认文件夹的位置后再试。";
    case Cause::NotFound:
        return "文件夹不存在。请检查文件夹的路径。";
    case Cause::NotAFolder:
        return "不是文件夹。请给出一个文件夹。";
    case Cause::PermissionDenied:
        return "没有权限。请检查这个文件夹的访问权限。";
    case Cause::ReadOnly:
        return "磁盘只读。请关闭U盘的写保护，或以可写方式重新挂载后再试。";
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
        return "设备已移除。请重新插入U盘，再试一次。";
    case Cause::Other:
        break;
    }
    return "其他错误" + errorNumber(osError) + "。";
}

std::string folderFailure(const std::filesystem::path &folder, const ListError &error)
{
    return "无法打开文件夹" + quoted(folder) + "。\n原因：" + causeText(error.kind, error.osError) +
           '\n';
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
        return "整理存储顺序";
    }
    return std::string();
}

std::string songCount(int count)
{
    return "已选文件夹共有" + n(count) + "首歌曲\n";
}

std::string emptyList(const std::filesystem::path &folder)
{
    return "文件夹" + quoted(folder) + "里没有 Mp3 或者 Flac 文件，没有改任何文件名。\n";
}

std::string completed(PassKind kind, int renamed)
{
    if (kind == PassKind::Shuffle)
        return "随机排序完成：已给 " + n(renamed) + " 个文件加上顺序号。\n";
    if (renamed == 0)
        return "删除排序完成：没有要去掉的四位数字，没有改任何文件名。\n";
    return "删除排序完成：已去掉 " + n(renamed) + " 个文件名开头的四位数字。\n";
}

std::string keptDigits(int kept)
{
    return "有 " + n(kept) +
           " 个文件名开头的四位数字不是 Korvalo 写的，已保留。如果也要去掉，请加上 --strip-all "
           "再运行一次。\n";
}

std::string renameFailure(PassKind kind, const PassResult &result, int total,
                          const std::filesystem::path &folder)
{
    std::string out;
    if (!result.cause.ok()) {
        out = "无法把文件" + quoted(result.oldName) + "改名为" + quoted(result.newName) +
              "。\n原因：" + causeText(result.cause.error, result.cause.osError) + '\n';
    } else {
        out = journalFailure(result.journalError);
    }
    out += "在它之前已改名 " + n(result.renamed) + " 个文件。";
    const int remaining = total - result.failedIndex - 1;
    if (result.failedIndex >= 0 && remaining > 0)
        out += "之后的 " + n(remaining) + " 个文件没有处理。";
    out += '\n';
    if (result.renamed > 0)
        out += "这次" + passName(kind) + "没有做完：解决问题后，运行 " + command("status", folder) +
               " 查看可以怎样处理。\n";
    return out;
}

std::string stopped(PassKind kind, int renamed, int total, const std::filesystem::path &folder)
{
    std::string out = "已停止：" + passName(kind) + "在 " + n(total) + " 个文件中改了 " +
                      n(renamed) + " 个之后按 Ctrl-C 停止。\n";
    if (kind == PassKind::Shuffle)
        out += "运行 " + command("recover", folder) +
               " --undo 把它们改回原来的名字，--finish 做完剩下的文件，或 --leave 保持现状。\n";
    else
        out += "运行 " + command("recover", folder) +
               " --finish 做完剩下的文件，或 --leave 保持现状。\n";
    return out;
}

std::string volumeBusy()
{
    return "另一个 "
           "Korvalo（窗口或命令）正在处理这个磁盘，所以没有改任何文件名。请等它完成后再试。\n";
}

std::string lockUnavailable(const LockFailure &failure)
{
    if (failure.path.empty())
        return "找不到用户的主文件夹，没有地方放 Korvalo 的锁文件，所以没有改任何文件名。"
               "请设置 HOME 或 XDG_STATE_HOME 环境变量后再试。\n";
    std::string why = misfitText(failure.osError);
    if (!why.empty())
        why += "。";
    else if (failure.osError == ENOTDIR)
        why = "它（或它上面的某一层）是一个文件，不是文件夹。";
    else
        why = causeText(causeOfSystemError(failure.osError, OsAction::Renaming), failure.osError);
    return "Korvalo 无法在" + quoted(failure.path) +
           "建立或使用它的锁文件（锁文件用来防止两个 Korvalo 同时改同一个磁盘上的文件名），"
           "所以没有改任何文件名。\n原因：" +
           why +
           "\n放锁文件的文件夹和锁文件都必须属于你自己、不是链接，而且只有你能写入。"
           "请检查它们的所有者和权限，或者把" +
           quoted(failure.path) + "移到别处，Korvalo 会重新建立。\n";
}

std::string unsafeDriver()
{
    return "这个U盘是用 fusefat 驱动挂载的。这个驱动在改名时会损坏文件夹、丢失文件，"
           "所以没有改任何文件名。请用系统自带的 FAT 驱动（vfat）重新挂载U盘后再试。\n";
}

std::string journalFailure(const JournalError &error)
{
    const std::string where = quoted(error.path);
    // Something that is not a private file of Korvalo's where it keeps one: planted there, or
    // left by another program. Read as a damaged record, not as a permission problem.
    const std::string misfit = misfitText(error.osError);
    const std::string damaged = "Korvalo 的记录文件" + where +
                                "（或放它的文件夹）已损坏，或者不是 Korvalo 留下的：" + misfit +
                                "。请把它移到别处，然后再试一次。\n";
    switch (error.kind) {
    case JournalError::Kind::None:
        return std::string();
    case JournalError::Kind::NoStateFolder:
        return "找不到保存 Korvalo 记录的文件夹。请设置 HOME 或 XDG_STATE_HOME 环境变量后再试。\n";
    case JournalError::Kind::Folder:
        if (!misfit.empty())
            return "保存 Korvalo 记录的文件夹" + where + "不能用：" + misfit +
                   "。Korvalo 只用属于你自己、只有你能写入的真实文件夹。请把它移到别处（Korvalo "
                   "会重新建立一个），或者把它的所有者改成你、权限改成 700。\n";
        return "无法建立保存 Korvalo 记录的文件夹" + where + errorNumber(error.osError) +
               "。请检查它上一级文件夹的访问权限。\n";
    case JournalError::Kind::Read:
        if (!misfit.empty())
            return damaged;
        return "无法读取 Korvalo 的记录文件" + where + errorNumber(error.osError) +
               "。请检查这个文件的访问权限。\n";
    case JournalError::Kind::Write:
    case JournalError::Kind::Sync:
        if (!misfit.empty())
            return damaged;
        return "无法写入 Korvalo 的记录文件" + where + errorNumber(error.osError) +
               "。请检查磁盘空间和这个文件夹的访问权限。\n";
    case JournalError::Kind::PassPending:
        return "这个文件夹有一次没完成的排序。请先运行 korvalo-cli status 查看，再用 recover "
               "处理。\n";
    case JournalError::Kind::RecordBusy:
        return "另一个 Korvalo（窗口或脚本）正在写这个文件夹的记录，所以没有改任何文件名。"
               "请等它做完再试一次。\n";
    case JournalError::Kind::Damaged:
        return recordDamaged(error, "文件夹");
    case JournalError::Kind::PassOpen:
    case JournalError::Kind::NoPass:
        break;
    }
    return "Korvalo 的记录出了内部错误。请再试一次。\n";
}

std::string recordDamaged(const JournalError &error, const std::filesystem::path &folder)
{
    const std::string what = error.osError == EFBIG ? "大得不正常，可能已损坏" : "已损坏";
    return "Korvalo 在状态文件夹里保存的这个文件夹的记录" + what + "：" + quoted(error.path) +
           "。Korvalo 不会按这样的记录改名，在处理它之前也不会给这个文件夹排序。\n"
           "请运行 " +
           command("recover", folder) +
           " --leave：它把这份记录改名另存在同一个文件夹里，然后按文件夹现在的样子重新开始，"
           "不改任何文件名。之后 Korvalo 会把这个文件夹当作没处理过的文件夹。\n";
}

std::string damagedRecordLeft(const std::filesystem::path &keptAs)
{
    return "已把损坏的记录另存为" + quoted(keptAs) +
           "。文件名都没有改；Korvalo 现在把这个文件夹当作没处理过的文件夹。\n";
}

std::string journalAfterPass(const JournalError &error)
{
    return "文件都已改名，但这次的结果没能完整记下：" + journalFailure(error);
}

std::string nothingRenamed()
{
    return "没有改任何文件名。\n";
}

std::string cancelled()
{
    return "已取消，没有改任何文件名。\n";
}

std::string againDeclined(int prefixed)
{
    return "有 " + n(prefixed) +
           " 个文件名已经带着 Korvalo "
           "写的顺序号，再随机排序会在前面再加一个，所以没有改任何文件名。\n"
           "想换一种顺序，请先运行 korvalo-cli remove "
           "去掉顺序号，再随机排序；确实要再加一个顺序号，"
           "请加上 --again。\n";
}

std::string digitQuestion(const std::vector<FileName> &others, int qualifying)
{
    return "有 " + n(qualifying) + " 个文件名以四位数字开头，其中 " +
           n(static_cast<int>(others.size())) +
           " 个的数字不是 Korvalo 写的，看起来是文件名原有的，例如：\n" + someNames(others) +
           "  1) 只去掉 Korvalo 写的数字，保留这些文件名原有的数字（默认）\n"
           "  2) 去掉所有文件名开头的四位数字\n"
           "  3) 取消，不改任何文件名\n";
}

std::string digitPrompt()
{
    return "请选择 [1/2/3]，直接按回车选 1：";
}

std::string againQuestion(int prefixed, int listed)
{
    return "这 " + n(listed) + " 个文件中有 " + n(prefixed) +
           " 个的文件名已经带着 Korvalo 写的顺序号。再随机排序会在前面再加一个顺序号；想换一种"
           "顺序，最好先用 korvalo-cli remove 去掉顺序号。\n";
}

std::string againPrompt()
{
    return "仍然再加一个顺序号吗？[y/N]，直接按回车表示不加：";
}

std::string dryRunHeading(PassKind kind)
{
    if (kind == PassKind::Shuffle)
        return "演习：随机排序会这样改名（顺序号只是示例，真正排序时会重新抽取）。没有改任何文件名"
               "。\n";
    return "演习：删除排序会这样改名。没有改任何文件名。\n";
}

std::string dryRunRename(const FileName &from, const FileName &to)
{
    return from + " → " + to + '\n';
}

std::string dryRunSummary(PassKind kind, int renames, int kept)
{
    std::string out = passName(kind) + "会改名 " + n(renames) + " 个文件。\n";
    if (kept > 0)
        out += "有 " + n(kept) +
               " 个文件名开头的四位数字不是 Korvalo 写的，会保留；"
               "加上 --strip-all 会把它们也去掉。\n";
    return out;
}

std::string statusHeading(const std::filesystem::path &folder, int count)
{
    return "文件夹" + quoted(folder) + "共有" + n(count) + "首歌曲。\n";
}

std::string statusPrefixed(int prefixed, int stacked)
{
    std::string out = "其中 " + n(prefixed) + " 个文件名带着 Korvalo 写的顺序号";
    if (stacked > 0)
        out += "（" + n(stacked) + " 个带着不止一个）";
    return out + "。\n";
}

std::string statusUnknownFolder(int lookPrefixed)
{
    std::string out = "Korvalo 没有处理过这个文件夹的记录。";
    if (lookPrefixed > 0)
        out += "有 " + n(lookPrefixed) + " 个文件名以四位数字开头，看起来像顺序号。";
    return out + '\n';
}

std::string statusOtherDigits(int others)
{
    return "有 " + n(others) +
           " 个文件名开头的四位数字看起来是文件名原有的，删除排序默认会保留它们。\n";
}

std::string statusNothingPending()
{
    return "没有没完成的排序。\n";
}

std::string statusBusy()
{
    return "另一个 Korvalo 正在处理这个磁盘，现在无法检查有没有没完成的排序。请等它完成后再看。\n";
}

std::string pendingPass(const RecoveryPlan &plan, const std::filesystem::path &folder)
{
    const RecoveryStatus &s = plan.status;
    std::string how;
    if (!s.end)
        how = "程序被意外终止";
    else if (*s.end == PassEnd::Stopped)
        how = "中途被停止";
    else
        how = "因为有文件无法改名而停止";
    if (s.kind == PassKind::Order)
        // The files only passed through a folder of their own: their names are right, and every
        // choice moves them back.
        return "有一次没完成的" + passName(s.kind) + "（开始于 " + localTime(s.startTime) +
               "）：还有 " + n(static_cast<int>(plan.finish.size())) +
               " 个文件在 Korvalo 建的临时文件夹里，播放器找不到它们。文件名都没有变。\n"
               "请运行 " +
               command("recover", folder) + " --finish 把它们移回来。\n";
    std::string out = "有一次没完成的" + passName(s.kind) + "（开始于 " + localTime(s.startTime) +
                      "，" + how + "）：" + n(s.fileCount) + " 个文件中已改名 " + n(s.done) + " 个";
    if (s.missing > 0)
        out += "，另有 " + n(s.missing) + " 个文件已不在原处";
    // Files the record does not hold (it was cut off while the pass announced them) were never
    // renamed: the pass announces a file before it renames it.
    if (s.recorded < s.fileCount)
        out += "。还有 " + n(s.fileCount - s.recorded) +
               " 个文件的改名计划没有记进记录（记录在中途断了）：它们没有被改名，"
               "下面的处理也不会动它们";
    out += "。\n可以这样处理：\n";
    const auto conflicts = [](const std::vector<RecoveryConflict> &c) {
        return c.empty()
                   ? std::string()
                   : "（其中 " + n(static_cast<int>(c.size())) + " 个文件无法处理，会保持原样）";
    };
    if (plan.canUndo)
        out += "  " + command("recover", folder) + " --undo    把已改名的 " +
               n(static_cast<int>(plan.undo.size() + plan.undoConflicts.size())) +
               " 个文件改回原来的名字" + conflicts(plan.undoConflicts) + '\n';
    out += "  " + command("recover", folder) + " --finish  做完剩下的 " +
           n(static_cast<int>(plan.finish.size() + plan.finishConflicts.size())) + " 个文件" +
           conflicts(plan.finishConflicts) + '\n';
    out += "  " + command("recover", folder) + " --leave   保持现状，不改任何文件名\n";
    return out;
}

std::string pendingBlocksPass(const RecoveryPlan &plan, const std::filesystem::path &folder)
{
    return "没有改任何文件名：这个文件夹" + pendingPass(plan, folder) + "处理之后再试一次。\n";
}

std::string stickUnconfirmed(const std::filesystem::path &folder)
{
    return "Korvalo 无法确认上次改名时插着的就是这个U盘（或存储卡）：用同一个镜像复制出来的U盘，"
           "或者在同一个读卡器里换过的存储卡，它有时分不出来，所以没有自己处理这次没完成的排序。\n"
           "如果上次改名的就是这个U盘，请用上面的 " +
           command("recover", folder) +
           " 选择怎么处理；如果不是，请插上上次改名的那个U盘，在那里处理。\n";
}

std::string nothingToRecover(const std::filesystem::path &folder)
{
    return "文件夹" + quoted(folder) + "没有需要处理的没完成的排序。\n";
}

std::string cannotUndo(PassKind kind, const std::filesystem::path &folder)
{
    if (kind == PassKind::Order)
        return "没完成的是" + passName(kind) + "，只需要把文件移回来：请运行 " +
               command("recover", folder) + " --finish。\n";
    return "没完成的是" + passName(kind) + "，它不能撤销，只能做完或保持现状：请运行 " +
           command("recover", folder) + " --finish 或 --leave。\n";
}

std::string recovered(RecoveryChoice choice, int renamed)
{
    switch (choice) {
    case RecoveryChoice::Undo:
        return "已把 " + n(renamed) + " 个文件改回原来的名字。\n";
    case RecoveryChoice::Finish:
        return "已做完剩下的 " + n(renamed) + " 个文件。\n";
    case RecoveryChoice::Leave:
        break;
    }
    return "已保持现状：Korvalo 按文件夹现在的样子记下了这些文件名。\n";
}

std::string recoveryConflicts(const std::vector<FileName> &names)
{
    return "有 " + n(static_cast<int>(names.size())) +
           " 个文件在这期间被别的程序改过名、移走了，或者它要用的名字已被占用，Korvalo 没有动它们，"
           "请自己检查：\n" +
           someNames(names);
}

std::string recoveryRefused(const std::vector<FileName> &names, const RenameOutcome &cause)
{
    return "有 " + n(static_cast<int>(names.size())) + " 个文件无法改名，例如：\n" +
           someNames(names) + "原因：" + causeText(cause.error, cause.osError) + '\n';
}

std::string recoveryFailed(const RecoveryResult &result)
{
    std::string out = "处理没有做完：";
    if (!result.journalError.ok())
        out += journalFailure(result.journalError);
    else
        out += causeText(result.cause.error, result.cause.osError) + '\n';
    if (result.renamed > 0)
        out += "在这之前已改名 " + n(result.renamed) + " 个文件。\n";
    return out;
}

std::string recoveryStopped(int renamed, const std::filesystem::path &folder)
{
    return "已停止：改了 " + n(renamed) + " 个文件之后按 Ctrl-C 停止。再运行一次 " +
           command("recover", folder) + " 可以接着处理。\n";
}

namespace {

// Why the stored order could not be arranged, and the file it stopped at.
std::string storedOrderCause(const PassResult &result)
{
    // Without a cause of its own the journal could not be written: its message says so.
    std::string out = "原因：";
    out += result.storedOrderCause.ok()
               ? std::string("无法写入改名记录。")
               : causeText(result.storedOrderCause.error, result.storedOrderCause.osError);
    out += '\n';
    if (!result.storedOrderFile.empty())
        out += "出问题的文件：" + quoted(result.storedOrderFile.filename()) + '\n';
    return out;
}

} // namespace

std::string storedOrderNotArranged(const PassResult &result)
{
    return "文件名已经全部改好，但没能整理这些歌曲在磁盘上的存储顺序。\n" +
           storedOrderCause(result) +
           "按文件名排序的播放器不受影响；按存储顺序播放的播放器（很多车载音响）"
           "仍按原来的顺序播放。\n";
}

std::string filesLeftOut(const PassResult &result)
{
    const std::filesystem::path folder = result.filesLeftIn.parent_path();
    return "文件名已经全部改好，但有些歌曲没能从临时文件夹移回文件夹" + quoted(folder) + "。\n" +
           storedOrderCause(result) + "这些歌曲还在临时文件夹" + quoted(result.filesLeftIn) +
           "里，播放器和文件列表都看不到它们。请运行 " + command("recover", folder) +
           " --finish 把它们移回来（在 Korvalo 窗口里打开这个文件夹也会移回来）。\n";
}

std::string orderingFolder(const std::filesystem::path &folder)
{
    return "文件夹" + quoted(folder) +
           "是 Korvalo 整理存储顺序时用的临时文件夹，里面的文件属于上一级文件夹" +
           quoted(folder.parent_path()) + "，所以没有改任何文件名。请运行 " +
           command("recover", folder) + " --finish 把它们移回上一级文件夹。\n";
}

std::string orderedFilesReturned(int moved, const std::filesystem::path &parent)
{
    return "已把 " + n(moved) + " 个文件移回文件夹" + quoted(parent) + "。\n";
}

} // namespace korvalo::cli::text

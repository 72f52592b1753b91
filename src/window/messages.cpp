#include "window/messages.h"

#include <QFile>

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
        return QStringLiteral("磁盘只读。请关闭U盘的写保护，或以可写方式重新挂载后再试。");
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

QString volumeBusyText()
{
    return QStringLiteral("另一个 Korvalo 窗口正在处理这个U盘。请等它完成后再试。");
}

QString displayPath(const std::filesystem::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

QString folderFailure(const std::filesystem::path &folder, const korvalo::ListError &error)
{
    return QStringLiteral("无法打开文件夹“%1”。\n原因：%2")
        .arg(displayPath(folder), listErrorText(error));
}

QString renameFailure(const korvalo::PassResult &result, int total,
                      const korvalo::ListError &afterwards)
{
    QString text =
        QStringLiteral("无法把文件“%1”改名为“%2”。\n原因：%3\n在它之前已改名 %4 个文件。")
            .arg(displayPath(result.oldName), displayPath(result.newName),
                 renameErrorText(result.cause), QString::number(result.renamed));
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

} // namespace messages

#include "messages.h"

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

namespace {

QString otherError(int osError)
{
    return QStringLiteral("其他错误（错误号 %1）").arg(osError);
}

} // namespace

QString listErrorText(const korvalo::ListError &error)
{
    using Kind = korvalo::ListError::Kind;
    switch (error.kind) {
    case Kind::None:
        return QString();
    case Kind::NotFound:
        return QStringLiteral("文件夹不存在");
    case Kind::NotAFolder:
        return QStringLiteral("不是文件夹");
    case Kind::PermissionDenied:
        return QStringLiteral("没有权限");
    case Kind::DeviceGone:
        return QStringLiteral("设备已移除");
    case Kind::IoError:
        return QStringLiteral("读写错误");
    case Kind::Other:
        break;
    }
    return otherError(error.osError);
}

QString renameErrorText(const korvalo::RenameOutcome &outcome)
{
    using korvalo::RenameError;
    switch (outcome.error) {
    case RenameError::None:
        return QString();
    case RenameError::TargetExists:
        return QStringLiteral("目标文件已存在");
    case RenameError::SourceMissing:
        return QStringLiteral("文件不存在");
    case RenameError::PermissionDenied:
        return QStringLiteral("没有权限");
    case RenameError::ReadOnly:
        return QStringLiteral("磁盘只读");
    case RenameError::NameTooLong:
        return QStringLiteral("文件名过长");
    case RenameError::InvalidName:
        return QStringLiteral("文件名含有不允许的字符");
    case RenameError::NoSpace:
        return QStringLiteral("磁盘空间不足");
    case RenameError::Busy:
        return QStringLiteral("文件正被使用");
    case RenameError::IoError:
        return QStringLiteral("读写错误");
    case RenameError::DeviceGone:
        return QStringLiteral("设备已移除");
    case RenameError::Other:
        break;
    }
    return otherError(outcome.osError);
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

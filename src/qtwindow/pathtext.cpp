#include "qtwindow/pathtext.h"

#include <QByteArray>
#include <QFile>

QString pathText(std::string_view native)
{
    return QFile::decodeName(
        QByteArray::fromRawData(native.data(), static_cast<qsizetype>(native.size())));
}

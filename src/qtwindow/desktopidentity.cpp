#include "qtwindow/desktopidentity.h"

#include <QDirIterator>
#include <QGuiApplication>

QIcon korvaloIcon()
{
    // One PNG per size, so that no size is scaled from another and no SVG renderer is needed.
    QIcon icon;
    QDirIterator it(QStringLiteral(":/hicolor"), {QString(korvaloAppId) + QStringLiteral(".png")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        icon.addFile(it.next());
    return icon;
}

void applyDesktopIdentity()
{
    QGuiApplication::setWindowIcon(korvaloIcon());
    QGuiApplication::setDesktopFileName(korvaloAppId);
}

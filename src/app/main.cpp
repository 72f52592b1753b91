#include "version.h"
#include "window/commandline.h"
#include "window/desktopidentity.h"
#include "window/form1.h"

#include <QApplication>

#include <iostream>

int main(int argc, char *argv[])
{
    // Before Qt: help and the version need no display.
    if (const auto status =
            answerCommandLine(commandLineArguments(argc, argv), KORVALO_VERSION, std::cout))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(KORVALO_NAME));
    QApplication::setApplicationVersion(QStringLiteral(KORVALO_VERSION));
    applyDesktopIdentity();
    Form1 window;
    window.show();
    return app.exec();
}

#include "qtwindow/commandline.h"
#include "qtwindow/desktopidentity.h"
#include "qtwindow/form1.h"
#include "qtwindow/sessionend.h"
#include "version.h"

#include <QApplication>
#include <QSessionManager>

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
    // Asked to end by the desktop session: a pass stops as for a closed window, then it closes.
    // The session manager's request waits until the pass has stopped, so nothing is cut off.
    SessionEnd sessionEnd;
    QObject::connect(&sessionEnd, &SessionEnd::requested, &window,
                     [&window] { window.endWithSession(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &) { window.endWithSession(true); });
    window.show();
    return app.exec();
}

#include "app/version.h"
#include "window/desktopidentity.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(KORVALO_NAME));
    QApplication::setApplicationVersion(QStringLiteral(KORVALO_VERSION));
    applyDesktopIdentity();
    Form1 window;
    window.show();
    return app.exec();
}

#include "window/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvalo"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    Form1 window;
    window.show();
    return app.exec();
}

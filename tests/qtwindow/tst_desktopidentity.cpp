#include "qtwindow/desktopidentity.h"
#include "qtwindow/form1.h"
#include "support/testdir.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QTest>

// The icon the window shows and the names by which the desktop finds the installed entry.
class TestDesktopIdentity : public QObject
{
    Q_OBJECT
private slots:
    void iconSize_data();
    void iconSize();
    void windowsShowTheIcon();
    void desktopEntryMatches();
};

void TestDesktopIdentity::iconSize_data()
{
    QTest::addColumn<int>("size");
    // Every size installed under share/icons/hicolor, drawn for that size rather than scaled.
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

void TestDesktopIdentity::iconSize()
{
    QFETCH(int, size);
    const QIcon icon = korvaloIcon();
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    // Drawn: a corner outside the rounded square is transparent, the middle is not.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
}

void TestDesktopIdentity::windowsShowTheIcon()
{
    applyDesktopIdentity();
    QVERIFY(!QApplication::windowIcon().isNull());

    TestDir start;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(start.path().native()));
    {
        Form1 window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowIcon().availableSizes(), korvaloIcon().availableSizes());
        QMessageBox box(&window);
        QVERIFY(!box.windowIcon().isNull());
    }
    QDir::setCurrent(previous);
}

void TestDesktopIdentity::desktopEntryMatches()
{
    // Wayland shells find the icon through the desktop entry named by the application.
    applyDesktopIdentity();
    QFile entry(QStringLiteral(KORVALO_DATA_DIR "/") + QGuiApplication::desktopFileName() +
                QStringLiteral(".desktop"));
    QVERIFY2(entry.open(QIODevice::ReadOnly), qPrintable(entry.fileName()));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Icon=") + korvaloAppId));
    QVERIFY(lines.contains(QStringLiteral("Exec=korvalo")));
}

QTEST_MAIN(TestDesktopIdentity)
#include "tst_desktopidentity.moc"

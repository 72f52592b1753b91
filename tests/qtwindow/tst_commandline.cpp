#include "qtwindow/commandline.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <sstream>

// korvalo's command line: help and the version end the program before any window, and need no
// display; everything else opens the window.
class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
    void withoutDisplay_data();
    void withoutDisplay();
};

namespace {

const QString kHelpStart = QStringLiteral("用法：korvalo [选项]\n");
const QString kVersionLine = QStringLiteral("korvalo (Korvalo) " KORVALO_VERSION "\n");

} // namespace

void TestCommandLine::answers_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status"); // -1: the window opens
    QTest::addColumn<QString>("outputStart");

    QTest::newRow("none") << QStringList{} << -1 << QString();
    QTest::newRow("--help") << QStringList{"--help"} << 0 << kHelpStart;
    QTest::newRow("-h") << QStringList{"-h"} << 0 << kHelpStart;
    QTest::newRow("--version") << QStringList{"--version"} << 0 << kVersionLine;
    QTest::newRow("-V") << QStringList{"-V"} << 0 << kVersionLine;
    QTest::newRow("help wins, wherever it stands")
        << QStringList{"--version", "-platform", "offscreen", "--help"} << 0 << kHelpStart;
    QTest::newRow("Qt's own options") << QStringList{"-platform", "offscreen"} << -1 << QString();
    QTest::newRow("after --") << QStringList{"--", "--help"} << -1 << QString();
    QTest::newRow("not quite --help") << QStringList{"--helpme", "-help"} << -1 << QString();
    QTest::newRow("lower-case -v is not the version") << QStringList{"-v"} << -1 << QString();
}

void TestCommandLine::answers()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, outputStart);

    std::vector<QByteArray> bytes{QByteArray("korvalo")};
    for (const QString &arg : args)
        bytes.push_back(arg.toUtf8());
    std::vector<const char *> argv;
    for (const QByteArray &b : bytes)
        argv.push_back(b.constData());
    argv.push_back(nullptr);

    const std::vector<std::string> parsed = commandLineArguments(int(bytes.size()), argv.data());
    QCOMPARE(int(parsed.size()), int(args.size()));

    std::ostringstream out;
    const std::optional<int> answered = answerCommandLine(parsed, KORVALO_VERSION, out);
    QCOMPARE(answered.value_or(-1), status);
    const QString printed = QString::fromStdString(out.str());
    if (outputStart.isEmpty()) {
        QVERIFY(printed.isEmpty());
    } else {
        QVERIFY2(printed.startsWith(outputStart), qPrintable(printed));
        QVERIFY(printed.endsWith(QLatin1Char('\n')));
    }
}

void TestCommandLine::withoutDisplay_data()
{
    QTest::addColumn<QString>("arg");
    QTest::addColumn<QString>("outputStart");
    QTest::newRow("--help") << "--help" << kHelpStart;
    QTest::newRow("--version") << "--version" << kVersionLine;
}

// The installed program, run where no display and no Qt platform is set: a QApplication made
// before the arguments are looked at would abort here.
void TestCommandLine::withoutDisplay()
{
    QFETCH(QString, arg);
    QFETCH(QString, outputStart);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess korvalo;
    korvalo.setProcessEnvironment(env);
    korvalo.start(QStringLiteral(KORVALO_APP), {arg});
    QVERIFY(korvalo.waitForFinished(10000));
    QCOMPARE(korvalo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(korvalo.exitCode(), 0);
    QCOMPARE(korvalo.readAllStandardError(), QByteArray());
    const QString printed = QString::fromUtf8(korvalo.readAllStandardOutput());
    QVERIFY2(printed.startsWith(outputStart), qPrintable(printed));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"

#include "passes/folderrecovery.h"
#include "passes/ordering.h"
#include "passes/passlock.h"
#include "support/testdir.h"
#include "window/dirlist.h"
#include "window/drivelist.h"
#include "window/filelist.h"
#include "window/form1.h"
#include "window/messages.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Acts on the next modal message box as soon as it shows. A real box runs an event loop of its
// own, so a test reaches it only from a timer.
class OnNextBox
{
public:
    explicit OnNextBox(std::function<void(QMessageBox *)> act) : m_act(std::move(act))
    {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            m_poll.stop();
            m_act(box);
        });
        m_poll.start();
    }

private:
    QTimer m_poll;
    std::function<void(QMessageBox *)> m_act;
};

struct Message
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

// A window started in a temporary folder of its own, with its message boxes recorded. Its
// questions are recorded too and answered by `answer` (by default as Enter would: the default
// button), unless real message boxes are asked for.
class Harness
{
public:
    enum class Questions
    {
        Hooked,
        RealBoxes
    };

    explicit Harness(const std::vector<std::string> &startFiles = {},
                     Questions questionMode = Questions::Hooked)
    {
        for (const auto &name : startFiles)
            start.touch(name);
        previous = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(start.path().native()));
        window = std::make_unique<Form1>();
        window->setMessageHook(
            [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
                messages.push_back({icon, title, text});
            });
        if (questionMode == Questions::Hooked) {
            window->setQuestionHook([this](const Question &q) {
                questions.push_back(q);
                return answer ? answer(q) : q.defaultAnswer;
            });
        }
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("window not exposed");
    }
    ~Harness()
    {
        window.reset();
        QDir::setCurrent(previous);
    }

    Form1 &w() { return *window; }
    // The window's controls, found by their object names.
    template <typename T> T *child(const char *name) const
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("Form1 has no %s", name);
        return found;
    }
    DriveList *drive1() const { return child<DriveList>("Drive1"); }
    DirList *dir1() const { return child<DirList>("Dir1"); }
    FileList *file1() const { return child<FileList>("File1"); }
    QPushButton *command1() const { return child<QPushButton>("Command1"); }
    QPushButton *command2() const { return child<QPushButton>("Command2"); }
    QRadioButton *option1() const { return child<QRadioButton>("Option1"); }
    QRadioButton *option2() const { return child<QRadioButton>("Option2"); }
    QLabel *label3() const { return child<QLabel>("Label3"); }
    QLabel *label5() const { return child<QLabel>("Label5"); }
    QProgressBar *progressBar1() const { return child<QProgressBar>("ProgressBar1"); }

    // Opens a folder the way the folder list does: the handlers follow.
    void open(const fs::path &folder) { QVERIFY(dir1()->setPath(folder).ok()); }

    TestDir start;
    TestDir work;
    QString previous;
    std::unique_ptr<Form1> window;
    std::vector<Message> messages;
    std::vector<Question> questions;
    std::function<int(const Question &)> answer;
};

// Watches a pass from inside its progress steps: an event that posts itself again is handled
// once in every step's event pump, so it sees the display after every file.
class StepWatcher : public QObject
{
public:
    StepWatcher(Harness &h, std::function<void(int)> onStep = {})
        : m_w(h.w()), m_bar(h.progressBar1()), m_percent(h.label5()), m_onStep(std::move(onStep))
    {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

    QList<int> values;
    QStringList labels;
    int maximum = -1;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (!m_w.passRunning()) {
            if (values.isEmpty()) // not started yet
                QCoreApplication::postEvent(this, new QEvent(QEvent::User));
            return true;
        }
        values << m_bar->value();
        labels << m_percent->text();
        maximum = m_bar->maximum();
        if (m_onStep)
            m_onStep(values.size() - 1);
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }

private:
    Form1 &m_w;
    QProgressBar *m_bar;
    QLabel *m_percent;
    std::function<void(int)> m_onStep;
};

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, {},
                      QPoint(widget->width() / 3, widget->height() / 2));
}

void act(Harness &h, const QString &action)
{
    if (action == "option1")
        click(h.option1());
    else if (action == "option2")
        click(h.option2());
    else if (action == "shuffle")
        click(h.command1());
    else if (action == "removal")
        click(h.command2());
    else if (action == "empty")
        h.open(h.work / "empty");
    else if (action == "music")
        h.open(h.work / "music");
    else
        QFAIL(qPrintable("unknown action " + action));
}

QString nativeText(const fs::path &p)
{
    return QString::fromStdString(p.native());
}

QStringList shownNames(FileList *files)
{
    QStringList out;
    for (int i = 0; i < files->model()->rowCount(); ++i)
        out << files->model()->index(i, 0).data().toString();
    return out;
}

// Whether the names are the patterns, one name each: "#" in a pattern stands for one order
// prefix, everything else for itself. Empty when they are, else what differs.
QString unmatchedNames(const std::vector<std::string> &names, const QStringList &patterns)
{
    std::vector<QRegularExpression> left;
    for (const QString &p : patterns) {
        const QStringList parts = p.split(QLatin1Char('#'));
        QString re;
        for (int k = 0; k < parts.size(); ++k)
            re += (k > 0 ? QStringLiteral("[1-9][0-9]{3}") : QString()) +
                  QRegularExpression::escape(parts[k]);
        left.emplace_back(QRegularExpression::anchoredPattern(re));
    }
    QStringList shown;
    for (const auto &n : names)
        shown << QString::fromStdString(n);
    for (const QString &name : shown) {
        auto hit = std::find_if(left.begin(), left.end(), [&](const QRegularExpression &re) {
            return re.match(name).hasMatch();
        });
        if (hit == left.end())
            return QStringLiteral("names %1, patterns %2").arg(shown.join('|'), patterns.join('|'));
        left.erase(hit);
    }
    return left.empty()
               ? QString()
               : QStringLiteral("names %1, patterns %2").arg(shown.join('|'), patterns.join('|'));
}

// Runs a pass over `folder` in a window of its own and closes the window during the pass's second
// file, answering the close question with "stop": the journal keeps an unfinished pass. For a
// removal the folder is shuffled first.
void stopPassAtSecondFile(const fs::path &folder, const QString &pass)
{
    Harness h;
    h.open(folder);
    if (pass == "removal") {
        click(h.command1());
        QCOMPARE(h.command2()->isEnabled(), true);
    }
    h.answer = [](const Question &) { return 1; };
    StepWatcher watch(h, [&](int step) {
        if (step == 1)
            h.w().close();
    });
    click(pass == "removal" ? h.command2() : h.command1());
    QCOMPARE(watch.values, (QList<int>{0, 1}));
    QCOMPARE(int(h.questions.size()), 1);
    QVERIFY(h.messages.empty());
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void startupGeometry_data();
    void startupGeometry();
    void startupState();
    void tabOrder_data();
    void tabOrder();
    void modes_data();
    void modes();

    void songCount_data();
    void songCount();
    void songCountAboveShortRange();
    void chainFromFolderList();
    void chainFromDrive();
    void unreadableDriveKeepsLists();
    void folderGoneReported();

    void progressDuringPass_data();
    void progressDuringPass();
    void shufflePassOnDisk();
    void removalPassOnDisk();
    void emptyListWarning_data();
    void emptyListWarning();
    void emptyListRealMessageBox();
    void failedRenameReported();
    void passAgainAfterFailureFinishesIt();
    void refreshFailureReported();
    void inputHeldOffDuringPass();
    void closeDuringPassStopsAfterFileInHand_data();
    void closeDuringPassStopsAfterFileInHand();
    void secondPassOnTheVolumeRefused();
    void unwritableJournalRefusesThePass();
    void everyCauseHasItsOwnText();

    void passQuestions_data();
    void passQuestions();
    void questionKeys_data();
    void questionKeys();
    void recoveryOnOpen_data();
    void recoveryOnOpen();
    void recoveryWaitsForBusyVolume();
    void interruptedOrderingOnOpen_data();
    void interruptedOrderingOnOpen();
    void orderingFolderOpened_data();
    void orderingFolderOpened();
    void longNamesElided();
};

void TestForm1::startupGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("rect");

    // Twips / 15, rounded.
    QTest::newRow("Frame1") << "Frame1"
                            << "QGroupBox"
                            << "Form1"
                            << "基本选项" << QRect(8, 8, 457, 89);
    QTest::newRow("Option1") << "Option1"
                             << "QRadioButton"
                             << "Frame1"
                             << "第一次使用本软件" << QRect(24, 24, 129, 12);
    QTest::newRow("Option2") << "Option2"
                             << "QRadioButton"
                             << "Frame1"
                             << "已经使用过本软件" << QRect(24, 56, 121, 17);
    QTest::newRow("Command1") << "Command1"
                              << "QPushButton"
                              << "Frame1"
                              << "随机排序" << QRect(200, 16, 81, 57);
    QTest::newRow("Command2") << "Command2"
                              << "QPushButton"
                              << "Frame1"
                              << "删除排序" << QRect(328, 16, 73, 57);
    QTest::newRow("Frame2") << "Frame2"
                            << "QGroupBox"
                            << "Form1"
                            << "文件预览" << QRect(8, 112, 457, 337);
    QTest::newRow("Label1") << "Label1"
                            << "QLabel"
                            << "Frame2"
                            << "文件夹选择：" << QRect(32, 24, 81, 17);
    QTest::newRow("Label2") << "Label2"
                            << "QLabel"
                            << "Frame2"
                            << "文件预览：" << QRect(216, 24, 97, 17);
    QTest::newRow("Label3") << "Label3"
                            << "QLabel"
                            << "Frame2"
                            << "" << QRect(280, 24, 161, 17);
    QTest::newRow("Drive1") << "Drive1"
                            << "DriveList"
                            << "Frame2"
                            << "" << QRect(16, 48, 177, 20);
    QTest::newRow("Dir1") << "Dir1"
                          << "DirList"
                          << "Frame2"
                          << "" << QRect(16, 72, 177, 258);
    QTest::newRow("File1") << "File1"
                           << "FileList"
                           << "Frame2"
                           << "" << QRect(208, 48, 233, 270);
    QTest::newRow("Frame3") << "Frame3"
                            << "QGroupBox"
                            << "Form1"
                            << "操作进度" << QRect(8, 456, 457, 49);
    QTest::newRow("Label4") << "Label4"
                            << "QLabel"
                            << "Frame3"
                            << "已完成进度：" << QRect(8, 24, 81, 17);
    QTest::newRow("ProgressBar1") << "ProgressBar1"
                                  << "QProgressBar"
                                  << "Frame3"
                                  << "" << QRect(80, 16, 329, 25);
    QTest::newRow("Label5") << "Label5"
                            << "QLabel"
                            << "Frame3"
                            << "0%" << QRect(424, 24, 25, 17);
}

void TestForm1::startupGeometry()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QRect, rect);

    Harness h;
    QWidget *widget = h.w().findChild<QWidget *>(name);
    QVERIFY(widget);
    QVERIFY(widget->inherits(qPrintable(className)));
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(widget->geometry(), rect);
    QString text;
    if (auto *b = qobject_cast<QAbstractButton *>(widget))
        text = b->text();
    else if (auto *l = qobject_cast<QLabel *>(widget))
        text = l->text();
    else if (auto *g = qobject_cast<QGroupBox *>(widget))
        text = g->title();
    QCOMPARE(text, caption);
    QVERIFY(widget->isVisible());
}

void TestForm1::startupState()
{
    Harness h({"b.mp3", "a.flac", "notes.txt"});
    Form1 &w = h.w();
    QCOMPARE(w.windowTitle(), QStringLiteral("Korvalo- By Nemrit"));
    QCOMPARE(w.size(), QSize(470, 509));
    QCOMPARE(w.minimumSize(), w.maximumSize());

    QCOMPARE(h.command1()->text(), QStringLiteral("随机排序"));
    QVERIFY(h.command1()->isEnabled());
    QVERIFY(!h.command2()->isEnabled());
    QVERIFY(!h.option1()->isChecked());
    QVERIFY(!h.option2()->isChecked());
    QVERIFY(h.option1()->autoExclusive() && h.option2()->autoExclusive());
    QCOMPARE(h.progressBar1()->minimum(), 0);
    QCOMPARE(h.progressBar1()->maximum(), 100);
    QCOMPARE(h.progressBar1()->value(), 0);
    QVERIFY(!h.progressBar1()->isTextVisible());
    QCOMPARE(h.label5()->text(), QStringLiteral("0%"));

    // The lists show the current folder, its drive, and no handler has run.
    QCOMPARE(h.dir1()->path(), h.start.path());
    QCOMPARE(h.file1()->path(), h.start.path());
    QCOMPARE(h.file1()->listCount(), 2);
    QCOMPARE(h.drive1()->drive(), h.drive1()->volumeRootOf(h.start.path()));
    QVERIFY(h.label3()->text().isEmpty());
}

void TestForm1::tabOrder_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("order");
    // The option group is one stop; the arrow keys move within it.
    QTest::newRow("start-up: the shuffle button only")
        << "" << QStringList{"Dir1", "File1", "Command1", "Drive1", "Option1", "Dir1"};
    QTest::newRow("already-used mode: the removal button only")
        << "option2" << QStringList{"Dir1", "File1", "Drive1", "Command2", "Option2", "Dir1"};
    QTest::newRow("first-time mode")
        << "option1" << QStringList{"Dir1", "File1", "Command1", "Drive1", "Option1", "Dir1"};
}

void TestForm1::tabOrder()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, order);
    Harness h;
    if (!mode.isEmpty())
        act(h, mode);
    QApplication::setActiveWindow(&h.w());
    h.dir1()->setFocus(Qt::TabFocusReason);
    QStringList seen{QApplication::focusWidget()->objectName()};
    for (int k = 1; k < order.size(); ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(seen, order);

    QWidget *group = h.w().findChild<QWidget *>(order.at(order.size() - 2));
    group->setFocus(Qt::TabFocusReason);
    QTest::keyClick(group, group == h.option1() ? Qt::Key_Down : Qt::Key_Up);
    QCOMPARE(QApplication::focusWidget(), group == h.option1() ? h.option2() : h.option1());
}

void TestForm1::modes_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("command1");
    QTest::addColumn<bool>("command2");

    QTest::newRow("start-up") << QStringList{} << "随机排序" << true << false;
    QTest::newRow("Option1") << QStringList{"option1"} << "随机排序" << true << false;
    QTest::newRow("Option2") << QStringList{"option2"} << "重新排序" << false << true;
    QTest::newRow("Option2 then Option1")
        << QStringList{"option2", "option1"} << "随机排序" << true << false;
    QTest::newRow("after a shuffle")
        << QStringList{"music", "shuffle"} << "重新排序" << false << true;
    QTest::newRow("after a shuffle and a removal")
        << QStringList{"music", "shuffle", "removal"} << "重新排序" << true << false;
    QTest::newRow("after a removal in already-used mode")
        << QStringList{"music", "option2", "removal"} << "重新排序" << true << false;
    QTest::newRow("Option1 after a shuffle")
        << QStringList{"music", "shuffle", "option1"} << "随机排序" << true << false;
    QTest::newRow("Option1, removal, then shuffle again")
        << QStringList{"music", "option2", "removal", "shuffle"} << "重新排序" << false << true;
    QTest::newRow("shuffle refused for an empty list")
        << QStringList{"empty", "shuffle"} << "随机排序" << true << false;
    QTest::newRow("removal refused for an empty list")
        << QStringList{"empty", "option2", "removal"} << "重新排序" << false << true;
}

void TestForm1::modes()
{
    QFETCH(QStringList, actions);
    QFETCH(QString, caption);
    QFETCH(bool, command1);
    QFETCH(bool, command2);

    Harness h;
    h.work.mkdir("empty");
    h.work.touch("empty/notes.txt");
    h.work.mkdir("music");
    h.work.touch("music/a.mp3");
    h.work.touch("music/b.flac");
    for (const QString &a : actions)
        act(h, a);
    QCOMPARE(h.command1()->text(), caption);
    QCOMPARE(h.command1()->isEnabled(), command1);
    QCOMPARE(h.command2()->isEnabled(), command2);
    QCOMPARE(h.command2()->text(), QStringLiteral("删除排序"));
    // Only the refusals speak; with no name at risk nothing is asked.
    QCOMPARE(int(h.messages.size()), actions.contains("empty") && actions.size() > 1 ? 1 : 0);
    QVERIFY(h.questions.empty());
}

void TestForm1::songCount_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("label");
    QTest::newRow("12 files") << 12 << "已选文件夹共有12首歌曲";
    QTest::newRow("none") << 0 << "已选文件夹共有0首歌曲";
    QTest::newRow("one") << 1 << "已选文件夹共有1首歌曲";
    QTest::newRow("100") << 100 << "已选文件夹共有100首歌曲";
}

void TestForm1::songCount()
{
    QFETCH(int, files);
    QFETCH(QString, label);
    Harness h;
    h.work.touch("cover.jpg");
    for (int i = 0; i < files; ++i)
        h.work.touch("song" + std::to_string(i) + (i % 2 ? ".mp3" : ".flac"));
    h.open(h.work.path());
    QCOMPARE(h.file1()->path(), h.work.path());
    QCOMPARE(h.label3()->text(), label);
}

void TestForm1::songCountAboveShortRange()
{
    Harness h;
    for (int i = 0; i < 40000; ++i)
        std::ofstream(h.work / (QStringLiteral("t%1.mp3").arg(i).toStdString()));
    h.open(h.work.path());
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有40000首歌曲"));
}

void TestForm1::chainFromFolderList()
{
    Harness h;
    h.work.mkdir("album");
    for (int i = 0; i < 12; ++i)
        h.work.touch("album/" + std::to_string(i) + ".mp3");
    h.work.touch("one.mp3");
    h.open(h.work.path());
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有1首歌曲"));

    DirList *dir = h.dir1();
    QTreeWidgetItem *album = dir->itemFor(h.work / "album");
    QVERIFY(album);
    dir->setCurrentItem(album);
    dir->setFocus();
    QTest::keyClick(dir, Qt::Key_Return);
    QCOMPARE(dir->path(), h.work / "album");
    QCOMPARE(h.file1()->path(), h.work / "album");
    QCOMPARE(h.file1()->listCount(), 12);
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有12首歌曲"));

    // Up again with a double click on the parent folder.
    QTreeWidgetItem *parent = dir->itemFor(h.work.path());
    const QPoint at = dir->visualItemRect(parent).center();
    QTest::mouseClick(dir->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(dir->path(), h.work / "album"); // a single click only selects
    QTest::mouseDClick(dir->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(h.file1()->path(), h.work.path());
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有1首歌曲"));
    QVERIFY(h.messages.empty());
}

void TestForm1::chainFromDrive()
{
    Harness h;
    h.work.mkdir("stick/sub");
    h.work.touch("stick/x.mp3");
    h.work.touch("stick/y.mp3");
    const fs::path stick = h.work / "stick";
    DriveList *drive = h.drive1();
    drive->setVolumeSource([&] {
        return std::vector<korvalo::Volume>{{"/", "ext4", ""}, {stick.native(), "vfat", "STICK"}};
    });
    drive->setDrive(h.start.path());
    QCOMPARE(drive->drive(), fs::path("/"));
    QVERIFY(h.label3()->text().isEmpty());

    drive->setFocus();
    QTest::keyClick(drive, Qt::Key_Down); // the user picks the stick
    QCOMPARE(drive->drive(), stick);
    QCOMPARE(h.dir1()->path(), stick);
    QCOMPARE(h.file1()->path(), stick);
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有2首歌曲"));
    // The folder list starts at the drive's root.
    QCOMPARE(h.dir1()->topLevelItem(0)->text(0), nativeText(stick));
    QVERIFY(h.messages.empty());
}

void TestForm1::unreadableDriveKeepsLists()
{
    Harness h({"s.mp3"});
    h.work.mkdir("music");
    h.work.touch("music/a.mp3");
    h.open(h.work / "music");
    const fs::path gone = h.work / "gone";
    DriveList *drive = h.drive1();
    drive->setVolumeSource([&] {
        return std::vector<korvalo::Volume>{{"/", "ext4", ""}, {gone.native(), "vfat", "GONE"}};
    });
    const QString label = h.label3()->text();
    QTest::keyClick(drive, Qt::Key_Down);

    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(h.messages[0].title, QStringLiteral("警告"));
    QVERIFY2(h.messages[0].text.contains(nativeText(gone)), qPrintable(h.messages[0].text));
    QVERIFY2(h.messages[0].text.contains(QStringLiteral("文件夹不存在")),
             qPrintable(h.messages[0].text));
    QCOMPARE(drive->drive(), fs::path("/")); // back on the drive the lists show
    QCOMPARE(h.dir1()->path(), h.work / "music");
    QCOMPARE(h.file1()->path(), h.work / "music");
    QCOMPARE(h.label3()->text(), label);
}

void TestForm1::folderGoneReported()
{
    Harness h;
    h.work.mkdir("gone");
    h.work.touch("a.mp3");
    h.open(h.work.path());
    DirList *dir = h.dir1();
    QTreeWidgetItem *item = dir->itemFor(h.work / "gone");
    fs::remove(h.work / "gone");
    dir->setCurrentItem(item);
    QTest::keyClick(dir, Qt::Key_Enter);
    QCOMPARE(int(h.messages.size()), 1);
    QVERIFY(h.messages[0].text.contains(QStringLiteral("文件夹不存在")));
    QVERIFY(h.messages[0].text.contains(nativeText(h.work / "gone")));
    QCOMPARE(dir->path(), h.work.path());
    QCOMPARE(h.file1()->path(), h.work.path());
}

void TestForm1::progressDuringPass_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("maximum");

    QTest::newRow("four files") << 4 << QList<int>{0, 1, 2, 3}
                                << QStringList{"0%", "33%", "67%", "100%"} << 3;
    QTest::newRow("three files") << 3 << QList<int>{0, 1, 2} << QStringList{"0%", "50%", "100%"}
                                 << 2;
    QTest::newRow("one file: a full bar") << 1 << QList<int>{1} << QStringList{"100%"} << 1;
}

void TestForm1::progressDuringPass()
{
    QFETCH(int, files);
    QFETCH(QList<int>, values);
    QFETCH(QStringList, labels);
    QFETCH(int, maximum);

    Harness h;
    for (int i = 0; i < files; ++i)
        h.work.touch(QStringLiteral("s%1.mp3").arg(i).toStdString());
    h.open(h.work.path());

    // Shuffle, then removal: both drive the same display.
    for (QPushButton *button : {h.command1(), h.command2()}) {
        StepWatcher watch(h);
        click(button);
        QCOMPARE(watch.values, values);
        QCOMPARE(watch.labels, labels);
        QCOMPARE(watch.maximum, maximum);
        QCOMPARE(h.progressBar1()->minimum(), 0);
        QCOMPARE(h.progressBar1()->maximum(), maximum);
        QCOMPARE(h.progressBar1()->value(), values.last());
        QCOMPARE(h.label5()->text(), QStringLiteral("100%"));
    }
    QVERIFY(h.messages.empty());
}

void TestForm1::shufflePassOnDisk()
{
    Harness h;
    for (const char *n : {"a.mp3", "b.flac", "歌.mp3", "1234c.MP3", "notes.txt"})
        h.work.touch(n);
    const auto contents = h.work.contents();
    h.open(h.work.path());
    const QString label = h.label3()->text();
    click(h.option1());
    click(h.command1());

    const auto names = h.work.names();
    QCOMPARE(int(names.size()), 5);
    QStringList stems;
    const QRegularExpression prefixed(QStringLiteral("^[1-9][0-9]{3}(.*)$"));
    for (const auto &n : names) {
        const QString name = QString::fromStdString(n);
        if (name == "notes.txt")
            continue;
        const auto m = prefixed.match(name);
        QVERIFY2(m.hasMatch(), qPrintable(name));
        stems << m.captured(1);
    }
    stems.sort();
    QCOMPARE(stems, (QStringList{"1234c.MP3", "a.mp3", "b.flac", "歌.mp3"}));
    QCOMPARE(h.work.contents(), contents);
    // The list shows the new names; the count label keeps its text.
    QStringList shown = shownNames(h.file1());
    shown.sort();
    QStringList onDisk;
    for (const auto &n : names)
        if (n != "notes.txt")
            onDisk << QString::fromStdString(n);
    onDisk.sort();
    QCOMPARE(shown, onDisk);
    QCOMPARE(h.label3()->text(), label);
    QVERIFY(h.messages.empty());
}

void TestForm1::removalPassOnDisk()
{
    Harness h;
    for (const char *n : {"7342Song.mp3", "Intro.flac", "12345.mp3", "12345678a.mp3"})
        h.work.touch(n);
    h.open(h.work.path());
    click(h.option2());
    StepWatcher watch(h);
    click(h.command2());

    QCOMPARE(h.work.names(),
             (std::vector<std::string>{"5.mp3", "5678a.mp3", "Intro.flac", "Song.mp3"}));
    QCOMPARE(h.work.read("Song.mp3"), std::string("content of 7342Song.mp3"));
    QCOMPARE(watch.values, (QList<int>{0, 1, 2, 3})); // Intro.flac gets its step too
    QStringList shown = shownNames(h.file1());
    shown.sort();
    QCOMPARE(shown, (QStringList{"5.mp3", "5678a.mp3", "Intro.flac", "Song.mp3"}));
    QVERIFY(h.messages.empty());
}

void TestForm1::emptyListWarning_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("shuffle") << "shuffle";
    QTest::newRow("removal") << "removal";
}

void TestForm1::emptyListWarning()
{
    QFETCH(QString, button);
    Harness h;
    h.work.touch("a.mp3");
    h.work.mkdir("empty");
    h.work.touch("empty/notes.txt");
    h.open(h.work.path());
    click(h.command1()); // a pass over one file leaves the display full
    act(h, "option2");
    if (button == "shuffle")
        act(h, "option1");
    h.open(h.work / "empty");
    const bool c1 = h.command1()->isEnabled();
    const bool c2 = h.command2()->isEnabled();

    act(h, button);
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(h.messages[0].title, QStringLiteral("警告"));
    QCOMPARE(h.messages[0].text, QStringLiteral("你选择的文件夹里没有Mp3或者Flac文件"));
    QCOMPARE(int(std::distance(fs::directory_iterator(h.work / "empty"), fs::directory_iterator())),
             1);
    QVERIFY(fs::exists(h.work / "empty/notes.txt"));
    QCOMPARE(h.progressBar1()->maximum(), 1);
    QCOMPARE(h.progressBar1()->value(), 1);
    QCOMPARE(h.label5()->text(), QStringLiteral("100%"));
    QCOMPARE(h.command1()->isEnabled(), c1);
    QCOMPARE(h.command2()->isEnabled(), c2);
}

void TestForm1::emptyListRealMessageBox()
{
    TestDir start;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(start.path().native()));
    Form1 w;
    QDir::setCurrent(previous);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = -1;
    QString okText;
    bool modal = false;
    const OnNextBox onBox([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = int(box->buttons().size());
        okText = box->button(QMessageBox::Ok)->text();
        modal = box->isModal();
        box->button(QMessageBox::Ok)->click();
    });
    click(w.findChild<QPushButton *>(QStringLiteral("Command1"))); // returns once the box is closed
    QCOMPARE(title, QStringLiteral("警告"));
    QCOMPARE(text, QStringLiteral("你选择的文件夹里没有Mp3或者Flac文件"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, 1);
    QCOMPARE(okText, QStringLiteral("确定"));
    QVERIFY(modal);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestForm1::failedRenameReported()
{
    Harness h;
    h.work.touch("1111a.mp3");
    h.work.touch("2222a.mp3");
    h.work.touch("3333b.mp3");
    h.open(h.work.path());
    act(h, "option2");
    click(h.command2());

    // The first becomes a.mp3; the second cannot, a.mp3 exists by then; nothing after it runs.
    QCOMPARE(h.work.names(), (std::vector<std::string>{"2222a.mp3", "3333b.mp3", "a.mp3"}));
    QCOMPARE(h.work.read("a.mp3"), std::string("content of 1111a.mp3"));
    QCOMPARE(int(h.messages.size()), 1);
    const QString text = h.messages[0].text;
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QVERIFY2(text.contains(QStringLiteral("“2222a.mp3”")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("“a.mp3”")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("目标文件已存在")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("挡住它的是文件夹里的\n    “a.mp3”\n"
                                          "请先把这个文件改名或移到别的文件夹，再运行一次")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("已改名 1 个文件")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("之后的 1 个文件没有处理")), qPrintable(text));
    // The list is read again; the buttons keep their states; input is open again.
    QStringList shown = shownNames(h.file1());
    shown.sort();
    QCOMPARE(shown, (QStringList{"2222a.mp3", "3333b.mp3", "a.mp3"}));
    QVERIFY(!h.command1()->isEnabled());
    QVERIFY(h.command2()->isEnabled());
    QCOMPARE(h.command1()->text(), QStringLiteral("重新排序"));
    for (QWidget *c : {static_cast<QWidget *>(h.option1()), static_cast<QWidget *>(h.option2()),
                       static_cast<QWidget *>(h.drive1()), static_cast<QWidget *>(h.dir1())})
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(h.label5()->text(), QStringLiteral("0%")); // the last completed step
}

// The user moves the file that was in the way and clicks again: the click offers to finish the
// pass that failed, and Enter finishes it.
void TestForm1::passAgainAfterFailureFinishesIt()
{
    Harness h;
    for (const char *n : {"1111b.mp3", "2222c.mp3", "c.mp3"})
        h.work.touch(n);
    h.open(h.work.path());
    act(h, "option2");
    click(h.command2());
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.work.names(), (std::vector<std::string>{"2222c.mp3", "b.mp3", "c.mp3"}));

    fs::rename(h.work / "c.mp3", h.work / "moved.mp3");
    click(h.command2());
    QCOMPARE(int(h.questions.size()), 1);
    QVERIFY2(h.questions[0].text.contains(QStringLiteral("“删除排序”")),
             qPrintable(h.questions[0].text));
    QCOMPARE(h.work.names(), (std::vector<std::string>{"b.mp3", "c.mp3", "moved.mp3"}));
    QCOMPARE(h.work.read("c.mp3"), std::string("content of 2222c.mp3"));
    QCOMPARE(shownNames(h.file1()), (QStringList{"b.mp3", "c.mp3", "moved.mp3"}));
    QVERIFY(h.command1()->isEnabled());
    QVERIFY(!h.command2()->isEnabled());
    QCOMPARE(int(h.messages.size()), 1);
}

void TestForm1::refreshFailureReported()
{
    Harness h;
    h.work.mkdir("music");
    h.work.touch("music/a.mp3");
    h.work.touch("music/b.mp3");
    h.open(h.work / "music");
    // The folder is moved away while the last file's step runs.
    StepWatcher watch(h, [&](int step) {
        if (step == 1)
            fs::rename(h.work / "music", h.work / "moved");
    });
    click(h.command1());
    QCOMPARE(int(h.messages.size()), 1);
    QVERIFY2(h.messages[0].text.contains(QStringLiteral("所有文件已改名")),
             qPrintable(h.messages[0].text));
    QVERIFY(h.messages[0].text.contains(QStringLiteral("文件夹不存在")));
    QCOMPARE(h.command1()->text(), QStringLiteral("重新排序"));
    QVERIFY(!h.command1()->isEnabled());
    QVERIFY(h.command2()->isEnabled());
}

void TestForm1::inputHeldOffDuringPass()
{
    Harness h;
    for (int i = 0; i < 4; ++i)
        h.work.touch(QStringLiteral("s%1.mp3").arg(i).toStdString());
    h.work.mkdir("other");
    h.work.touch("other/x.mp3");
    h.open(h.work.path());
    act(h, "option1");
    const QList<QWidget *> held = {h.command1(), h.command2(), h.option1(),
                                   h.option2(),  h.drive1(),   h.dir1()};
    QStringList enabledDuring;
    StepWatcher watch(h, [&](int step) {
        for (QWidget *c : held)
            if (c->isEnabled())
                enabledDuring << c->objectName();
        if (step != 1)
            return;
        click(h.command2());
        click(h.command1());
        click(h.option2());
        QTest::keyClick(h.drive1(), Qt::Key_Down);
        h.dir1()->setCurrentItem(h.dir1()->itemFor(h.work / "other"));
        QTest::keyClick(h.dir1(), Qt::Key_Return);
    });
    click(h.command1());

    QVERIFY2(enabledDuring.isEmpty(), qPrintable(enabledDuring.join(',')));
    QVERIFY(h.file1()->isEnabled());
    QCOMPARE(watch.values, (QList<int>{0, 1, 2, 3})); // one pass, not a second inside it
    QVERIFY(h.option1()->isChecked());
    QVERIFY(!h.option2()->isChecked());
    QCOMPARE(h.dir1()->path(), h.work.path());
    QCOMPARE(h.file1()->path(), h.work.path());
    const QRegularExpression once(QStringLiteral("^[1-9][0-9]{3}s[0-9]\\.mp3$"));
    for (const auto &n : h.work.names())
        if (n != "other")
            QVERIFY2(once.match(QString::fromStdString(n)).hasMatch(), n.c_str());
    // Afterwards: the state a completed shuffle leaves.
    QCOMPARE(h.command1()->text(), QStringLiteral("重新排序"));
    QVERIFY(!h.command1()->isEnabled());
    QVERIFY(h.command2()->isEnabled());
    for (QWidget *c : {static_cast<QWidget *>(h.option1()), static_cast<QWidget *>(h.option2()),
                       static_cast<QWidget *>(h.drive1()), static_cast<QWidget *>(h.dir1())})
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(h.messages.empty());
}

void TestForm1::closeDuringPassStopsAfterFileInHand_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<int>("prefixed");
    QTest::addColumn<bool>("closed");
    QTest::newRow("stop (Enter)") << -1 << QList<int>{0, 1} << 2 << true;
    QTest::newRow("go on") << 0 << QList<int>{0, 1, 2, 3} << 4 << false;
}

void TestForm1::closeDuringPassStopsAfterFileInHand()
{
    QFETCH(int, answer);
    QFETCH(QList<int>, steps);
    QFETCH(int, prefixed);
    QFETCH(bool, closed);
    Harness h;
    for (int i = 0; i < 4; ++i)
        h.work.touch(QStringLiteral("s%1.mp3").arg(i).toStdString());
    h.open(h.work.path());
    if (answer >= 0)
        h.answer = [&](const Question &) { return answer; };
    bool closedAtOnce = true;
    StepWatcher watch(h, [&](int step) {
        if (step == 1)
            closedAtOnce = h.w().close();
    });
    click(h.command1());

    QVERIFY(!closedAtOnce); // not while a file is in hand
    QCOMPARE(int(h.questions.size()), 1);
    QCOMPARE(h.questions[0].choices.size(), std::size_t(2));
    QCOMPARE(watch.values, steps);
    QCOMPARE(h.w().isVisible(), !closed);
    int withPrefix = 0;
    for (const auto &n : h.work.names())
        withPrefix += n.size() == std::string("1000s0.mp3").size();
    QCOMPARE(withPrefix, prefixed);
    QCOMPARE(int(h.work.names().size()), 4);
    QVERIFY(h.messages.empty());
}

// Another pass (here: a lock held by the test itself) works on the volume: the click renames
// nothing and says why; the buttons keep their states.
void TestForm1::secondPassOnTheVolumeRefused()
{
    Harness h;
    h.work.touch("a.mp3");
    h.open(h.work.path());
    struct stat st;
    QCOMPARE(::stat(h.work.path().c_str(), &st), 0);
    auto other = korvalo::PassLock::tryAcquire(std::uint64_t(st.st_dev)).lock;
    QVERIFY(other);
    click(h.command1());
    QCOMPARE(h.work.names(), std::vector<std::string>{"a.mp3"});
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].text, messages::volumeBusyText());
    QVERIFY(h.command1()->isEnabled());
    QCOMPARE(h.command1()->text(), QStringLiteral("随机排序"));

    other.reset();
    click(h.command1());
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.work.names().size(), std::size_t(1));
    QVERIFY(h.work.names()[0] != "a.mp3");
}

// The state folder lies under a file, so the folder's record can be neither read nor made: the
// pass says which (the reading, in the user's own state folder, not on the stick) and what to do,
// and renames nothing.
void TestForm1::unwritableJournalRefusesThePass()
{
    TestDir state;
    state.touch("file");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_STATE_HOME");
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString((state / "file").native()));
    Harness h; // the window finds its state folder when it starts
    if (wasSet)
        qputenv("XDG_STATE_HOME", saved);
    else
        qunsetenv("XDG_STATE_HOME");
    h.work.touch("a.mp3");
    h.open(h.work.path());
    h.messages.clear(); // opening the folder may tell already that its record cannot be read
    click(h.command1());
    QCOMPARE(h.work.names(), std::vector<std::string>{"a.mp3"});
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    const QString text = h.messages[0].text;
    QVERIFY2(text.contains(QStringLiteral("无法读取这个文件夹的改名记录")) &&
                 text.contains(QString::fromStdString((state / "file").native())) &&
                 text.contains(QStringLiteral("移到别处")) && !text.contains(QStringLiteral("U盘")),
             qPrintable(text));
    QVERIFY(h.command1()->isEnabled());
    QCOMPARE(h.command1()->text(), QStringLiteral("随机排序"));
}

void TestForm1::everyCauseHasItsOwnText()
{
    QSet<QString> texts;
    for (int c = int(korvalo::Cause::None) + 1; c <= int(korvalo::Cause::Other); ++c) {
        const QString text = messages::causeText(korvalo::Cause(c), 5);
        QVERIFY2(!text.isEmpty() && !texts.contains(text), qPrintable(text));
        texts.insert(text);
    }
    QVERIFY(messages::causeText(korvalo::Cause::Other, 5).contains(QLatin1String("5")));
}

void TestForm1::passQuestions_data()
{
    using Digits = korvalo::PassQuestions::DigitAnswer;
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("answer"); // -1: Enter, the default button
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("listed"); // a name the question lists
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("command1");
    QTest::addColumn<bool>("command2");

    const QStringList digits{"2019 Live.mp3", "7342Song.mp3", "Intro.flac"};
    const QStringList removal{"music", "option2", "removal"};
    QTest::newRow("never shuffled: Enter keeps their digits")
        << digits << removal << -1 << 1 << "2019 Live.mp3"
        << QStringList{"2019 Live.mp3", "Intro.flac", "Song.mp3"} << true << false;
    QTest::newRow("never shuffled: strip them too")
        << digits << removal << int(Digits::StripAll) << 1 << "2019 Live.mp3"
        << QStringList{" Live.mp3", "Intro.flac", "Song.mp3"} << true << false;
    QTest::newRow("never shuffled: cancel renames nothing")
        << digits << removal << int(Digits::Cancel) << 1 << "2019 Live.mp3" << digits << false
        << true;
    QTest::newRow("removal twice: the second one asks")
        << QStringList{"2019 Live.mp3", "a.mp3"}
        << QStringList{"music", "shuffle", "removal", "option2", "removal"} << int(Digits::Cancel)
        << 1 << "2019 Live.mp3" << QStringList{"2019 Live.mp3", "a.mp3"} << false << true;
    QTest::newRow("shuffle then removal: no question")
        << QStringList{"2019 Live.mp3", "0001_Intro.flac", "a.mp3"}
        << QStringList{"music", "shuffle", "removal"} << 0 << 0 << ""
        << QStringList{"2019 Live.mp3", "0001_Intro.flac", "a.mp3"} << true << false;
    QTest::newRow("shuffle over digits of the names: no question")
        << QStringList{"2019 Live.mp3"} << QStringList{"music", "shuffle"} << 0 << 0 << ""
        << QStringList{"#2019 Live.mp3"} << false << true;
    const QStringList twice{"music", "shuffle", "option1", "shuffle"};
    QTest::newRow("shuffle over Korvalo's prefixes: Enter cancels")
        << QStringList{"a.mp3", "b.flac"} << twice << -1 << 1 << ""
        << QStringList{"#a.mp3", "#b.flac"} << true << false;
    QTest::newRow("shuffle over Korvalo's prefixes: a second prefix")
        << QStringList{"a.mp3", "b.flac"} << twice << 1 << 1 << ""
        << QStringList{"##a.mp3", "##b.flac"} << false << true;
}

void TestForm1::passQuestions()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, actions);
    QFETCH(int, answer);
    QFETCH(int, asked);
    QFETCH(QString, listed);
    QFETCH(QStringList, after);
    QFETCH(bool, command1);
    QFETCH(bool, command2);

    Harness h;
    h.work.mkdir("music");
    for (const QString &f : files)
        h.work.touch("music/" + f.toStdString());
    if (answer >= 0)
        h.answer = [&](const Question &) { return answer; };
    for (const QString &a : actions)
        act(h, a);
    QCOMPARE(int(h.questions.size()), asked);
    if (!listed.isEmpty())
        QVERIFY2(h.questions[0].text.contains(listed), qPrintable(h.questions[0].text));
    TestDir &dir = h.work;
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir / "music"))
        names.push_back(e.path().filename().native());
    const QString differs = unmatchedNames(names, after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(h.command1()->isEnabled(), command1);
    QCOMPARE(h.command2()->isEnabled(), command2);
    QVERIFY(h.messages.empty());
}

// The real message box: Enter takes the default button, Esc cancels.
void TestForm1::questionKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("Enter: keep their digits")
        << int(Qt::Key_Return) << QStringList{"2019 Live.mp3", "Song.mp3"};
    QTest::newRow("Esc: nothing renamed")
        << int(Qt::Key_Escape) << QStringList{"2019 Live.mp3", "7342Song.mp3"};
}

void TestForm1::questionKeys()
{
    QFETCH(int, key);
    QFETCH(QStringList, after);
    Harness h({}, Harness::Questions::RealBoxes);
    h.work.touch("2019 Live.mp3");
    h.work.touch("7342Song.mp3");
    h.open(h.work.path());
    act(h, "option2");
    QStringList captions;
    QString defaultCaption;
    const OnNextBox onBox([&](QMessageBox *box) {
        for (QAbstractButton *b : box->buttons())
            captions << b->text();
        defaultCaption = box->defaultButton() ? box->defaultButton()->text() : QString();
        QTest::keyClick(box, Qt::Key(key));
    });
    click(h.command2());
    QCOMPARE(captions.size(), 3);
    QCOMPARE(defaultCaption, QStringLiteral("保留它们的数字"));
    const QString differs = unmatchedNames(h.work.names(), after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestForm1::recoveryOnOpen_data()
{
    using Choice = korvalo::RecoveryChoice;
    QTest::addColumn<QString>("pass");
    QTest::addColumn<int>("choice");        // -1: Enter, the default button
    QTest::addColumn<QStringList>("after"); // empty: as the interrupted pass left them
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("command1");
    QTest::addColumn<bool>("command2");
    QTest::addColumn<QString>("percent");

    const QStringList originals{"2019 Live.mp3", "a.mp3", "b.flac", "c.mp3"};
    QTest::newRow("shuffle: Enter brings the names back")
        << "shuffle" << -1 << originals << "随机排序" << true << false << "100%";
    QTest::newRow("shuffle: finished")
        << "shuffle" << int(Choice::Finish)
        << QStringList{"#2019 Live.mp3", "#a.mp3", "#b.flac", "#c.mp3"} << "重新排序" << false
        << true << "100%";
    QTest::newRow("shuffle: left as it is")
        << "shuffle" << int(Choice::Leave) << QStringList{} << "随机排序" << true << false << "0%";
    QTest::newRow("removal: Enter finishes it")
        << "removal" << -1 << originals << "随机排序" << true << false << "100%";
    QTest::newRow("removal: left as it is")
        << "removal" << int(Choice::Leave) << QStringList{} << "随机排序" << true << false << "0%";
}

void TestForm1::recoveryOnOpen()
{
    QFETCH(QString, pass);
    QFETCH(int, choice);
    QFETCH(QStringList, after);
    QFETCH(QString, caption);
    QFETCH(bool, command1);
    QFETCH(bool, command2);
    QFETCH(QString, percent);

    TestDir music;
    for (const char *n : {"2019 Live.mp3", "a.mp3", "b.flac", "c.mp3"})
        music.touch(n);
    stopPassAtSecondFile(music.path(), pass);
    const auto left = music.names();

    Harness h;
    if (choice >= 0)
        h.answer = [&](const Question &) { return choice; };
    h.open(music.path());
    QCOMPARE(int(h.questions.size()), 1);
    const QString text = h.questions[0].text;
    QVERIFY2(text.contains(pass == "shuffle" ? QStringLiteral("“随机排序”")
                                             : QStringLiteral("“删除排序”")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("4 个文件中已有 2 个")), qPrintable(text));
    QCOMPARE(int(h.questions[0].choices.size()), pass == "shuffle" ? 3 : 2);

    if (after.isEmpty())
        QCOMPARE(music.names(), left);
    else {
        const QString differs = unmatchedNames(music.names(), after);
        QVERIFY2(differs.isEmpty(), qPrintable(differs));
    }
    QCOMPARE(int(h.file1()->listCount()), 4);
    QCOMPARE(shownNames(h.file1()).size(), 4);
    QCOMPARE(h.command1()->text(), caption);
    QCOMPARE(h.command1()->isEnabled(), command1);
    QCOMPARE(h.command2()->isEnabled(), command2);
    QCOMPARE(h.label5()->text(), percent);
    QVERIFY(h.messages.empty());

    // Settled: opening the folder again asks nothing.
    h.open(music.path());
    QCOMPARE(int(h.questions.size()), 1);
}

// Another Korvalo holds the volume: opening the folder says so and renames nothing; once the
// volume is free, opening it again offers the recovery.
void TestForm1::recoveryWaitsForBusyVolume()
{
    TestDir music;
    for (const char *n : {"a.mp3", "b.mp3", "c.mp3"})
        music.touch(n);
    stopPassAtSecondFile(music.path(), "shuffle");
    const auto left = music.names();
    struct stat st;
    QCOMPARE(::stat(music.path().c_str(), &st), 0);
    auto other = korvalo::PassLock::tryAcquire(std::uint64_t(st.st_dev)).lock;
    QVERIFY(other);

    Harness h;
    h.open(music.path());
    QVERIFY(h.questions.empty());
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].text, messages::recoveryBusyText());
    QCOMPARE(music.names(), left);

    other.reset();
    h.open(music.path());
    QCOMPARE(int(h.questions.size()), 1);
    QCOMPARE(music.names(), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
}

void TestForm1::longNamesElided()
{
    const std::string stem(200, 'x');
    const QString elided = messages::boxName("Begin" + stem + "End.mp3");
    QVERIFY2(elided.startsWith(QStringLiteral("Begin")) &&
                 elided.endsWith(QStringLiteral("End.mp3")),
             qPrintable(elided));
    QVERIFY(elided.contains(QChar(0x2026)));
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    QVERIFY(metrics.horizontalAdvance(elided) < metrics.horizontalAdvance(QChar(0x6C49)) * 25);
    QCOMPARE(messages::boxName("2019 Live.mp3"), QStringLiteral("2019 Live.mp3"));
}

void TestForm1::interruptedOrderingOnOpen_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
}

// Killed while the files were in the folder they pass through to be stored in order: opening
// the folder asks to move them back, and no answer leaves them hidden from the player.
void TestForm1::interruptedOrderingOnOpen()
{
    QFETCH(int, key);
    Harness h({}, Harness::Questions::RealBoxes);
    h.work.touch("c.mp3");
    const std::string inner =
        reinterpret_cast<const char *>(std::u8string(korvalo::kOrderingFolderPrefix).c_str()) +
        std::string(" 7");
    h.work.mkdir(inner);
    for (const char *n : {"a.mp3", "b.flac"})
        h.work.touch(inner + "/" + n);
    {
        korvalo::Journal journal;
        const std::vector<korvalo::PlannedRename> moves = {
            {"a.mp3", "a.mp3"}, {"b.flac", "b.flac"}, {"c.mp3", "c.mp3"}};
        korvalo::PassStart start;
        start.kind = korvalo::PassKind::Order;
        start.fileCount = 3;
        start.planned = moves;
        start.orderFolder = inner;
        QVERIFY(journal.beginPass(korvalo::journalKeyOf(h.work.path()).value(), start).ok());
    } // killed: never ended

    QString text;
    QStringList captions;
    const OnNextBox onBox([&](QMessageBox *box) {
        text = box->text();
        for (QAbstractButton *b : box->buttons())
            captions << b->text();
        QTest::keyClick(box, Qt::Key(key));
    });
    h.open(h.work.path());
    QVERIFY2(text.contains(QStringLiteral("存放顺序")) && text.contains(QStringLiteral("2 个文件")),
             qPrintable(text));
    QCOMPARE(captions, QStringList{QStringLiteral("移回")});
    QCOMPARE(h.work.names(), (std::vector<std::string>{"a.mp3", "b.flac", "c.mp3"}));
    QCOMPARE(shownNames(h.file1()), (QStringList{"a.mp3", "b.flac", "c.mp3"}));
    QVERIFY(h.messages.empty());
}

void TestForm1::orderingFolderOpened_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("move back") << 1;
    QTest::newRow("not now, then a pass refused") << 0;
}

// The folder the files pass through to be stored in order, found after a crash and opened: it
// offers to move its files back one level up, never a pass over them.
void TestForm1::orderingFolderOpened()
{
    QFETCH(int, answer);
    Harness h;
    h.work.touch("other.txt");
    const std::string inner =
        reinterpret_cast<const char *>(std::u8string(korvalo::kOrderingFolderPrefix).c_str()) +
        std::string(" 1");
    h.work.mkdir(inner);
    for (const char *n : {"b.mp3", "a.flac"})
        h.work.touch(inner + "/" + n);
    h.answer = [&](const Question &) { return answer; };
    h.open(h.work / inner);
    QCOMPARE(int(h.questions.size()), 1);
    QVERIFY2(h.questions[0].text.contains(QStringLiteral("上一级")),
             qPrintable(h.questions[0].text));

    if (answer == 1) {
        QCOMPARE(h.work.names(), (std::vector<std::string>{"a.flac", "b.mp3", "other.txt"}));
        QCOMPARE(h.dir1()->path(), h.work.path());
        QCOMPARE(shownNames(h.file1()), (QStringList{"a.flac", "b.mp3"}));
        QVERIFY(h.messages.empty());
        return;
    }
    // Both pass buttons would act on the inner folder: each asks the same question instead.
    act(h, "option1");
    click(h.command1());
    act(h, "option2");
    click(h.command2());
    QCOMPARE(int(h.questions.size()), 3);
    QCOMPARE(h.questions[2].text, h.questions[0].text);
    QCOMPARE(h.work.names(), (std::vector<std::string>{inner, "other.txt"}));
    std::vector<std::string> inside;
    for (const auto &e : fs::directory_iterator(h.work / inner))
        inside.push_back(e.path().filename().native());
    std::sort(inside.begin(), inside.end());
    QCOMPARE(inside, (std::vector<std::string>{"a.flac", "b.mp3"}));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

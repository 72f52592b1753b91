// The window's wiring: its controls, the folder chosen with Drive1 and Dir1, the session's
// questions asked in boxes and their answers handed back, a plan run on the session's worker while
// the window draws and stays usable, and its report applied to the buttons and the list. What the
// session decides (which question, which refusal, the texts) is tested with the session.

#include "passes/journal.h"
#include "passes/journalkey.h"
#include "passes/ordering.h"
#include "session/foldersession.h"
#include "session/texts.h"
#include "support/renamegate.h"
#include "support/scriptedasker.h"
#include "support/testdir.h"
#include "window/dirlist.h"
#include "window/drivelist.h"
#include "window/filelist.h"
#include "window/form1.h"
#include "window/messages.h"

#include <QApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace fs = std::filesystem;
using korvalo::session::kNo;
using korvalo::session::kYes;
using korvalo::session::Question;

namespace {

// How long a plan over a handful of files may take on a loaded machine.
constexpr int kPassTimeout = 30000;

// Acts on the next modal message box as soon as it shows, and closes any later one, counted in
// `later`. A real box runs an event loop of its own, so a test reaches it only from a timer.
class OnNextBox
{
public:
    explicit OnNextBox(std::function<void(QMessageBox *)> act) : m_act(std::move(act))
    {
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && m_act) {
                std::exchange(m_act, nullptr)(box);
            } else if (box) {
                ++later;
                box->done(0);
            }
        });
        m_poll.start(10);
    }
    int later = 0;

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

enum class Boxes
{
    Hooked, // recorded; the questions answered by Harness::answer
    Real    // shown; the questions and the boxes' answers recorded
};

// A window started in a temporary folder of its own, its boxes hooked or real.
class Harness
{
public:
    // `prepare` runs before the window opens its start folder.
    explicit Harness(Boxes boxes = Boxes::Hooked,
                     const std::function<void(Harness &)> &prepare = {})
    {
        if (prepare)
            prepare(*this);
        previous = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(start.path().native()));
        window = std::make_unique<Form1>();
        finished = std::make_unique<QSignalSpy>(window.get(), &Form1::passFinished);
        if (boxes == Boxes::Hooked) {
            window->setMessageHook(
                [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
                    messages.push_back({icon, title, text});
                });
        }
        window->setQuestionHook([this, boxes](const Question &q) {
            questions.push_back(q);
            if (boxes == Boxes::Hooked)
                return answer ? answer(q) : q.defaultAnswer;
            answers.push_back(messages::askInBox(window.get(), q));
            return answers.back();
        });
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("window not exposed");
        // What the start folder asks is asked once the window's event loop runs; the unfinished
        // passes elsewhere once the look for them, off the window's thread, has ended.
        QCoreApplication::processEvents();
        if (!QTest::qWaitFor([&] { return window->startUpDone(); }, 10000))
            qWarning("start-up offer not made");
    }
    ~Harness()
    {
        gate.release();
        finished.reset();
        window.reset();
        QDir::setCurrent(previous);
    }

    Form1 &w() { return *window; }
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
    // Waits for the end of the plan running, if any: it runs on the session's worker.
    bool waitForPass() { return !window->passRunning() || finished->wait(kPassTimeout); }
    // Holds the next plan's worker after the n-th rename in the work folder.
    bool holdAfter(int renames, QWidget *button)
    {
        gate.holdAfter(work.path(), renames);
        QTest::mouseClick(button, Qt::LeftButton);
        return gate.waitHeld(kPassTimeout);
    }

    TestDir start;
    TestDir work;
    QString previous;
    RenameGate gate;
    std::unique_ptr<Form1> window;
    std::unique_ptr<QSignalSpy> finished;
    std::vector<Message> messages;
    std::vector<Question> questions;
    std::vector<int> answers; // of the real boxes
    std::function<int(const Question &)> answer;
};

void act(Harness &h, const QString &action)
{
    const std::map<QString, QAbstractButton *> buttons = {{"option1", h.option1()},
                                                          {"option2", h.option2()},
                                                          {"shuffle", h.command1()},
                                                          {"removal", h.command2()}};
    if (const auto it = buttons.find(action); it != buttons.end())
        QTest::mouseClick(it->second, Qt::LeftButton, {},
                          QPoint(it->second->width() / 3, it->second->height() / 2));
    else
        h.open(h.work / action.toStdString()); // a folder
    QVERIFY(h.waitForPass());
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

QStringList shownNames(FileList *files)
{
    QStringList out;
    for (int i = 0; i < files->model()->rowCount(); ++i)
        out << files->model()->index(i, 0).data().toString();
    return sorted(out);
}

QStringList songsIn(const fs::path &folder)
{
    QStringList out;
    for (const auto &e : fs::directory_iterator(folder)) {
        const QString name = QString::fromStdString(e.path().filename().native());
        if (name.endsWith(".mp3", Qt::CaseInsensitive) || name.endsWith(".flac"))
            out << name;
    }
    return sorted(out);
}

// Empty when the names are the patterns, one name each ("#" stands for one order prefix), else
// what differs.
QString unmatchedNames(const QStringList &names, const QStringList &patterns)
{
    std::vector<QRegularExpression> left;
    for (const QString &p : patterns) {
        QStringList parts = p.split('#');
        for (QString &part : parts)
            part = QRegularExpression::escape(part);
        left.emplace_back(QRegularExpression::anchoredPattern(parts.join("[1-9][0-9]{3}")));
    }
    for (const QString &name : names) {
        const auto hit = std::find_if(left.begin(), left.end(), [&](const QRegularExpression &re) {
            return re.match(name).hasMatch();
        });
        if (hit == left.end())
            break;
        left.erase(hit);
    }
    return left.empty() && names.size() == patterns.size()
               ? QString()
               : QStringLiteral("names %1, patterns %2").arg(names.join('|'), patterns.join('|'));
}

// Leaves an unfinished shuffle in `folder`, stopped after two of its four songs, as a window closed
// during the pass would.
void stoppedShuffleIn(const fs::path &folder)
{
    for (const char *n : {"a.mp3", "b.flac", "c.mp3", "d.mp3"})
        std::ofstream(folder / n) << n;
    korvalo::session::FolderSession session(korvalo::texts::Front::Window);
    ScriptedAsker asker;
    session.open(folder);
    int handled = 0;
    session.setStopCheck([&] { return ++handled >= 2; });
    QCOMPARE(session.run(session.planPass(korvalo::PassKind::Shuffle, asker)).outcome,
             korvalo::session::Report::Outcome::Stopped);
}

// The folder the files pass through to be stored in order, left by a crash with two songs in it.
fs::path orderingFolderIn(TestDir &parent)
{
    const korvalo::FileName inner = korvalo::shortOrderingFolderName(korvalo::orderingFolderName());
    parent.mkdir(inner);
    touchAll(parent,
             {QString::fromStdString(inner + "/b.mp3"), QString::fromStdString(inner + "/a.flac")});
    return parent / inner;
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
    void optionFitsFolder_data();
    void optionFitsFolder();
    void countAfterPass_data();
    void countAfterPass();
    void folderGoneBeforeClick();
    void filesBackFromOrdering();
    void chainFromFolderList();
    void chainFromDrive();
    void unreadableFolderKeepsLists_data();
    void unreadableFolderKeepsLists();

    void passesOnDisk();
    void duringPass_data();
    void duringPass();
    void emptyListWarning();
    void failedRenameReported();
    void closeDuringPass_data();
    void closeDuringPass();

    void passQuestions_data();
    void passQuestions();
    void recoveryOnOpen_data();
    void recoveryOnOpen();
    void orderingFolderOpened_data();
    void orderingFolderOpened();
    void questionKeys_data();
    void questionKeys();
};

void TestForm1::startupGeometry_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("rect");

    struct Control
    {
        const char *name, *className, *container, *caption;
        QRect rect; // twips / 15, rounded
    };
    const Control controls[] = {
        {"Frame1", "QGroupBox", "Form1", "基本选项", {8, 8, 457, 89}},
        {"Option1", "QRadioButton", "Frame1", "第一次使用本软件", {24, 24, 129, 12}},
        {"Option2", "QRadioButton", "Frame1", "已经使用过本软件", {24, 56, 121, 17}},
        {"Command1", "QPushButton", "Frame1", "随机排序", {200, 16, 81, 57}},
        {"Command2", "QPushButton", "Frame1", "删除排序", {328, 16, 73, 57}},
        {"Frame2", "QGroupBox", "Form1", "文件预览", {8, 112, 457, 337}},
        {"Label1", "QLabel", "Frame2", "文件夹选择：", {32, 24, 81, 17}},
        {"Label2", "QLabel", "Frame2", "文件预览：", {216, 24, 97, 17}},
        {"Label3", "QLabel", "Frame2", "", {280, 24, 161, 34}},
        {"Drive1", "DriveList", "Frame2", "", {16, 48, 177, 20}},
        {"Dir1", "DirList", "Frame2", "", {16, 72, 177, 258}},
        {"File1", "FileList", "Frame2", "", {208, 60, 233, 258}},
        {"Frame3", "QGroupBox", "Form1", "操作进度", {8, 456, 457, 49}},
        {"Label4", "QLabel", "Frame3", "已完成进度：", {8, 24, 81, 17}},
        {"ProgressBar1", "QProgressBar", "Frame3", "", {80, 16, 329, 25}},
        {"Label5", "QLabel", "Frame3", "0%", {424, 24, 25, 17}},
    };
    for (const Control &c : controls)
        QTest::newRow(c.name) << c.className << c.container << QString::fromUtf8(c.caption)
                              << c.rect;
}

void TestForm1::startupGeometry()
{
    QFETCH(QString, className);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QRect, rect);

    Harness h;
    QWidget *widget = h.w().findChild<QWidget *>(QTest::currentDataTag());
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
    Harness h(Boxes::Hooked, [](Harness &h) { touchAll(h.start, {"b.mp3", "a.flac", "x.txt"}); });
    Form1 &w = h.w();
    QCOMPARE(w.windowTitle(), QStringLiteral("Korvalo- By Nemrit"));
    QCOMPARE(w.size(), QSize(470, 509));
    QCOMPARE(w.minimumSize(), w.maximumSize());

    QCOMPARE(h.command1()->text(), QStringLiteral("随机排序"));
    QVERIFY(h.command1()->isEnabled());
    QVERIFY(!h.command2()->isEnabled());
    // The option that fits the folder shown, as if clicked.
    QVERIFY(h.option1()->isChecked());
    QVERIFY(h.option1()->autoExclusive() && h.option2()->autoExclusive());
    QCOMPARE(h.progressBar1()->minimum(), 0);
    QCOMPARE(h.progressBar1()->maximum(), 100);
    QCOMPARE(h.progressBar1()->value(), 0);
    QVERIFY(!h.progressBar1()->isTextVisible());
    QCOMPARE(h.label5()->text(), QStringLiteral("0%"));
    QVERIFY(!w.passRunning());

    // The lists show the current folder, its drive, and no handler has run.
    QCOMPARE(h.dir1()->path(), h.start.path());
    QCOMPARE(h.file1()->path(), h.start.path());
    QCOMPARE(shownNames(h.file1()), (QStringList{"a.flac", "b.mp3"}));
    QCOMPARE(h.drive1()->drive(), h.drive1()->volumeRootOf(h.start.path()));
    QVERIFY(h.label3()->text().isEmpty());
    QVERIFY(h.questions.empty() && h.messages.empty());

    // Screen readers name the controls that show no caption from the text table; the folder
    // tree's hidden header reads the same, not a column number.
    using namespace korvalo::texts::caption;
    const std::pair<QWidget *, const char *> named[] = {{h.drive1(), kDriveListName},
                                                        {h.dir1(), kFolderListName},
                                                        {h.file1(), kFileListName},
                                                        {h.progressBar1(), kProgressName},
                                                        {h.label5(), kPercentName}};
    for (const auto &[widget, name] : named)
        QCOMPARE(widget->accessibleName(), QString::fromUtf8(name));
    QVERIFY(h.dir1()->isHeaderHidden());
    QCOMPARE(h.dir1()->headerItem()->text(0), QString::fromUtf8(kFolderListName));
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

// The option buttons, and the pass buttons as a plan's report leaves them.
void TestForm1::modes()
{
    QFETCH(QStringList, actions);
    QFETCH(QString, caption);
    QFETCH(bool, command1);
    QFETCH(bool, command2);

    Harness h;
    h.work.mkdir("empty");
    h.work.mkdir("music");
    touchAll(h.work, {"empty/notes.txt", "music/a.mp3", "music/b.flac"});
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

void TestForm1::optionFitsFolder_data()
{
    QTest::addColumn<QStringList>("start"); // the songs of the folder shown at start-up
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<bool>("alreadyUsed");
    const QStringList plain{"a.mp3"}, prefixed{"4821a.mp3", "7310b.flac"};
    QTest::newRow("start-up, prefixed") << prefixed << QStringList{} << true;
    QTest::newRow("a plain folder") << prefixed << QStringList{"plain"} << false;
    QTest::newRow("a prefixed folder") << plain << QStringList{"prefixed"} << true;
    QTest::newRow("the user switches") << plain << QStringList{"prefixed", "option1"} << false;
    QTest::newRow("a shuffle keeps the option")
        << plain << QStringList{"plain", "shuffle"} << false;
}

// Opening a folder selects the option that fits it and sets the buttons as its click would.
void TestForm1::optionFitsFolder()
{
    QFETCH(QStringList, start);
    QFETCH(QStringList, actions);
    QFETCH(bool, alreadyUsed);
    Harness h(Boxes::Hooked, [&](Harness &h) { touchAll(h.start, start); });
    h.work.mkdir("plain");
    h.work.mkdir("prefixed");
    touchAll(h.work, {"plain/a.mp3", "prefixed/4821a.mp3", "prefixed/7310b.flac"});
    for (const QString &a : actions)
        act(h, a);
    QCOMPARE(h.option2()->isChecked(), alreadyUsed);
    QCOMPARE(h.option1()->isChecked(), !alreadyUsed);
    if (actions.contains("shuffle"))
        return; // the buttons as the pass left them
    QCOMPARE(h.command1()->text(),
             alreadyUsed ? QStringLiteral("重新排序") : QStringLiteral("随机排序"));
    QCOMPARE(h.command1()->isEnabled(), !alreadyUsed);
    QCOMPARE(h.command2()->isEnabled(), alreadyUsed);
}

void TestForm1::countAfterPass_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("label");
    QTest::newRow("shuffle") << QStringList{"music", "shuffle"}
                             << "已选文件夹共有2首歌曲，\n已全部加上序号";
    QTest::newRow("removal") << QStringList{"music", "shuffle", "removal"}
                             << "已选文件夹共有2首歌曲，\n已去掉序号";
    QTest::newRow("nothing to remove") << QStringList{"music", "option2", "removal"}
                                       << "已选文件夹共有2首歌曲，\n没有要去掉的序号";
    QTest::newRow("another folder")
        << QStringList{"music", "shuffle", "empty"} << "已选文件夹共有0首歌曲";
}

// The song count label says what a pass did, with no box; another folder gets its plain count.
void TestForm1::countAfterPass()
{
    QFETCH(QStringList, actions);
    Harness h;
    h.work.mkdir("empty");
    h.work.mkdir("music");
    touchAll(h.work, {"music/a.mp3", "music/b.flac"});
    for (const QString &a : actions)
        act(h, a);
    QTEST(h.label3()->text(), "label");
    QVERIFY(h.messages.empty());
}

// The folder moved away after it was opened: the click empties the list and says so.
void TestForm1::folderGoneBeforeClick()
{
    Harness h;
    h.work.mkdir("music");
    touchAll(h.work, {"music/a.mp3", "music/b.flac"});
    act(h, "music");
    fs::rename(h.work / "music", h.work / "moved");
    act(h, "shuffle");
    QCOMPARE(h.file1()->listCount(), 0);
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有0首歌曲"));
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(h.messages[0].title, QString::fromUtf8(korvalo::texts::title::kFolderGone));
    QCOMPARE(songsIn(h.work / "moved"), (QStringList{"a.mp3", "b.flac"}));
}

// Files left out in the folder they pass through to be stored in order come back as the window
// starts: the tree, the list and the count show the folder as it is now.
void TestForm1::filesBackFromOrdering()
{
    Harness h(Boxes::Hooked, [](Harness &h) {
        touchAll(h.start, {"a.mp3", "b.mp3", "c.mp3"});
        const korvalo::FileName recorded = korvalo::orderingFolderName();
        const std::string inner = korvalo::shortOrderingFolderName(recorded);
        h.start.mkdir(inner);
        fs::rename(h.start / "c.mp3", h.start / inner / "c.mp3");
        std::vector<korvalo::PlannedRename> planned;
        for (const char *song : {"a.mp3", "b.mp3", "c.mp3"})
            planned.push_back({song, song});
        korvalo::PassStart start;
        start.kind = korvalo::PassKind::Order;
        start.fileCount = 3;
        start.planned = planned;
        start.orderFolder = recorded;
        QVERIFY(korvalo::Journal()
                    .beginPass(korvalo::journalKeyOf(h.start.path()).value(), start)
                    .ok());
    });
    QVERIFY(h.waitForPass());
    QCOMPARE(int(h.questions.size()), 1);
    QCOMPARE(h.dir1()->subfolderCount(), 0);
    QCOMPARE(shownNames(h.file1()), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有3首歌曲"));
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
    dir->setCurrentItem(dir->itemFor(h.work / "album"));
    dir->setFocus();
    QTest::keyClick(dir, Qt::Key_Return);
    QCOMPARE(dir->path(), h.work / "album");
    QCOMPARE(h.file1()->path(), h.work / "album");
    QCOMPARE(h.file1()->listCount(), 12);
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有12首歌曲"));

    // Up again with a double click on the parent folder.
    const QPoint at = dir->visualItemRect(dir->itemFor(h.work.path())).center();
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
    touchAll(h.work, {"stick/x.mp3", "stick/y.mp3"});
    const fs::path stick = h.work / "stick";
    DriveList *drive = h.drive1();
    drive->setVolumeSource([&] {
        return std::vector<korvalo::Volume>{{"/", "ext4", ""}, {stick.native(), "vfat", "STICK"}};
    });
    drive->setDrive(h.start.path());
    QCOMPARE(drive->drive(), fs::path("/"));

    drive->setFocus();
    QTest::keyClick(drive, Qt::Key_Down); // the user picks the stick
    QCOMPARE(drive->drive(), stick);
    QCOMPARE(h.dir1()->path(), stick);
    QCOMPARE(h.file1()->path(), stick);
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有2首歌曲"));
    // The folder list starts at the drive's root.
    QCOMPARE(h.dir1()->topLevelItem(0)->text(0), QString::fromStdString(stick.native()));
    QVERIFY(h.messages.empty());
}

void TestForm1::unreadableFolderKeepsLists_data()
{
    QTest::addColumn<bool>("byDrive");
    QTest::newRow("a drive that is gone") << true;
    QTest::newRow("a folder that is gone") << false;
}

// A folder that cannot be read is reported in a warning box; the lists stay on the folder shown.
void TestForm1::unreadableFolderKeepsLists()
{
    QFETCH(bool, byDrive);
    Harness h;
    h.work.mkdir("music");
    h.work.mkdir("gone");
    h.work.touch("music/a.mp3");
    const fs::path shown = byDrive ? h.work / "music" : h.work.path();
    h.open(shown);
    const fs::path gone = h.work / "gone";
    const QString label = h.label3()->text();
    if (byDrive) {
        h.drive1()->setVolumeSource([&] {
            return std::vector<korvalo::Volume>{{"/", "ext4", ""}, {gone.native(), "vfat", "G"}};
        });
        fs::remove(gone);
        QTest::keyClick(h.drive1(), Qt::Key_Down);
        QCOMPARE(h.drive1()->drive(), fs::path("/")); // back on the drive the lists show
    } else {
        h.dir1()->setCurrentItem(h.dir1()->itemFor(gone));
        fs::remove(gone);
        QTest::keyClick(h.dir1(), Qt::Key_Enter);
    }

    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(h.messages[0].title, QStringLiteral("无法打开文件夹"));
    QVERIFY2(h.messages[0].text.contains(QString::fromStdString(gone.native())),
             qPrintable(h.messages[0].text));
    QCOMPARE(h.dir1()->path(), shown);
    QCOMPARE(h.file1()->path(), shown);
    QCOMPARE(h.label3()->text(), label);
}

// A shuffle and a removal by clicks: each renames on disk, File1 shows the new names, and Label3
// keeps its count.
void TestForm1::passesOnDisk()
{
    Harness h;
    const QStringList songs{"1234c.MP3", "a.mp3", "b.flac", "歌.mp3"};
    touchAll(h.work, QStringList(songs) << "notes.txt");
    const auto contents = h.work.contents();
    h.open(h.work.path());
    const QString label = h.label3()->text();

    act(h, "option1"); // "1234c.MP3" makes it look shuffled before
    act(h, "shuffle");
    const QString differs =
        unmatchedNames(songsIn(h.work.path()), {"#1234c.MP3", "#a.mp3", "#b.flac", "#歌.mp3"});
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(shownNames(h.file1()), songsIn(h.work.path()));
    act(h, "removal");
    QCOMPARE(songsIn(h.work.path()), songs);
    QCOMPARE(shownNames(h.file1()), songs);
    QCOMPARE(h.work.contents(), contents);
    QVERIFY(h.label3()->text().startsWith(label));
    QVERIFY(h.messages.empty() && h.questions.empty());
}

void TestForm1::duringPass_data()
{
    QTest::addColumn<bool>("removal");
    QTest::newRow("shuffle") << false;
    QTest::newRow("removal") << true;
}

// Held in the third of four files, the click has returned and the window's thread is free: its
// timer draws the progress (two files done: one step of three), and the controls that would start
// or redirect a plan take no input. The end draws a full bar and opens input again.
void TestForm1::duringPass()
{
    QFETCH(bool, removal);
    Harness h;
    const QStringList songs{"s0.mp3", "s1.mp3", "s2.mp3", "s3.mp3"};
    touchAll(h.work, songs);
    h.work.mkdir("other");
    h.open(h.work.path());
    if (removal)
        act(h, "shuffle");
    QVERIFY(h.holdAfter(3, removal ? h.command2() : h.command1()));

    QVERIFY(h.w().passRunning());
    QProgressBar *bar = h.progressBar1();
    QSignalSpy drawn(bar, &QProgressBar::valueChanged);
    while (bar->value() != 1 && drawn.wait(kPassTimeout)) {
    }
    QCOMPARE(bar->value(), 1);
    QCOMPARE(bar->maximum(), 3);
    QCOMPARE(h.label5()->text(), QStringLiteral("33%"));
    const QList<QWidget *> held = {h.command1(), h.command2(), h.option1(),
                                   h.option2(),  h.drive1(),   h.dir1()};
    for (QWidget *c : held)
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(h.file1()->isEnabled());
    QTest::mouseClick(h.option2(), Qt::LeftButton);
    QTest::keyClick(h.drive1(), Qt::Key_Down);
    h.dir1()->setCurrentItem(h.dir1()->itemFor(h.work / "other"));
    QTest::keyClick(h.dir1(), Qt::Key_Return);
    h.gate.release();
    QVERIFY(h.waitForPass());

    QCOMPARE(h.finished->count(), removal ? 2 : 1);
    QCOMPARE(bar->value(), 3);
    QCOMPARE(h.label5()->text(), QStringLiteral("100%"));
    QVERIFY(!h.option2()->isChecked());
    QCOMPARE(h.dir1()->path(), h.work.path());
    QCOMPARE(h.file1()->path(), h.work.path());
    QStringList after = songs;
    if (!removal)
        after.replaceInStrings(QRegularExpression("^"), "#");
    const QString differs = unmatchedNames(songsIn(h.work.path()), after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(h.command1()->isEnabled(), removal);
    for (QWidget *c : held.mid(2))
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(h.messages.empty());
}

// A real box, as the user meets it: the session's refusal under the window's warning title.
void TestForm1::emptyListWarning()
{
    Harness h(Boxes::Real);
    h.work.touch("notes.txt");
    h.open(h.work.path());
    QString title, text, okText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = -1;
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
    act(h, "shuffle"); // returns once the box is closed
    QCOMPARE(title, QStringLiteral("警告"));
    QCOMPARE(text, QString::fromStdString(korvalo::texts::emptyList()));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, 1);
    QCOMPARE(okText, QStringLiteral("确定"));
    QVERIFY(modal);
    QCOMPARE(onBox.later, 0);
    QCOMPARE(h.work.names(), std::vector<std::string>{"notes.txt"});
    QVERIFY(h.command1()->isEnabled());
    QCOMPARE(h.label5()->text(), QStringLiteral("0%")); // nothing ran
}

// A pass that fails midway: its problem is shown once, the list is read again, the buttons stay as
// they were and input is open again.
void TestForm1::failedRenameReported()
{
    Harness h;
    touchAll(h.work, {"1111a.mp3", "2222a.mp3", "3333b.mp3"});
    h.open(h.work.path());
    act(h, "option2");
    act(h, "removal");

    // The first becomes a.mp3; the second cannot, a.mp3 exists by then; nothing after it runs.
    const QStringList left{"2222a.mp3", "3333b.mp3", "a.mp3"};
    QCOMPARE(songsIn(h.work.path()), left);
    QCOMPARE(int(h.messages.size()), 1);
    QCOMPARE(h.messages[0].icon, QMessageBox::Warning);
    QCOMPARE(h.messages[0].title, QStringLiteral("删除排序没有做完"));
    // The news first, the names after.
    QVERIFY2(h.messages[0].text.startsWith("有一个文件无法改名") &&
                 h.messages[0].text.contains("2222a.mp3"),
             qPrintable(h.messages[0].text));
    QCOMPARE(shownNames(h.file1()), left);
    QVERIFY(!h.command1()->isEnabled());
    QVERIFY(h.command2()->isEnabled());
    for (QWidget *c : {static_cast<QWidget *>(h.option1()), static_cast<QWidget *>(h.option2()),
                       static_cast<QWidget *>(h.drive1()), static_cast<QWidget *>(h.dir1())})
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(h.label5()->text(), QStringLiteral("0%")); // the last step completed: the first
}

void TestForm1::closeDuringPass_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("endsWhileAsked"); // the pass ends while the box is open
    QTest::addColumn<int>("prefixed");
    QTest::addColumn<bool>("closed");
    QTest::newRow("stop") << kYes << false << 2 << true;
    QTest::newRow("go on") << kNo << false << 4 << false;
    QTest::newRow("stop, the pass ends meanwhile") << kYes << true << 4 << true;
    QTest::newRow("go on, the pass ends meanwhile") << kNo << true << 4 << false;
}

// Closing the window during a pass asks first; "stop" stops after the file in hand. The window
// closes once the plan's end has been applied, also when that end came while the box was open.
void TestForm1::closeDuringPass()
{
    QFETCH(int, answer);
    QFETCH(bool, endsWhileAsked);
    QFETCH(int, prefixed);
    QFETCH(bool, closed);
    Harness h;
    touchAll(h.work, {"s0.mp3", "s1.mp3", "s2.mp3", "s3.mp3"});
    h.open(h.work.path());
    bool endWaited = true;
    h.answer = [&](const Question &) {
        if (endsWhileAsked) {
            // As in a real box's event loop: the worker's end reaches the window meanwhile.
            struct EndSeen : QObject
            {
                QEventLoop loop;
                bool eventFilter(QObject *, QEvent *e) override
                {
                    if (e->type() == QEvent::MetaCall)
                        loop.quit();
                    return false;
                }
            } end;
            h.w().installEventFilter(&end);
            h.gate.release();
            QTimer::singleShot(kPassTimeout, &end.loop, &QEventLoop::quit);
            end.loop.exec();
            h.w().removeEventFilter(&end);
            endWaited = h.w().passRunning();
        }
        return answer;
    };
    bool visibleAtEnd = false;
    QObject::connect(&h.w(), &Form1::passFinished, &h.w(),
                     [&] { visibleAtEnd = h.w().isVisible(); });
    QVERIFY(h.holdAfter(2, h.command1()));

    QVERIFY(!h.w().close()); // not while a file is in hand
    QCOMPARE(int(h.questions.size()), 1);
    QCOMPARE(h.questions[0].kind, Question::Kind::CloseDuringPass);
    QVERIFY(h.w().isVisible());
    if (answer == kYes && !endsWhileAsked) {
        QVERIFY(!h.w().close()); // asked once
        QCOMPARE(int(h.questions.size()), 1);
    }
    h.gate.release();
    QVERIFY(h.waitForPass());

    QVERIFY2(endWaited, "the end of the pass waits for the answer");
    QVERIFY(visibleAtEnd);
    QCOMPARE(h.w().isVisible(), !closed);
    const QStringList names = songsIn(h.work.path());
    QCOMPARE(names.size(), 4);
    QCOMPARE(names.filter(QRegularExpression("^[0-9]{4}s")).size(), prefixed);
    QVERIFY(h.messages.empty()); // a stop the user asked for needs no word
}

void TestForm1::passQuestions_data()
{
    using Digits = korvalo::PassQuestions::DigitAnswer;
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<Question::Kind>("kind"); // of the one question asked
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("command1");

    const QStringList twice{"music", "shuffle", "option1", "shuffle"};
    const auto again = Question::Kind::ShuffleAgain;
    QTest::newRow("shuffle again: no renames nothing")
        << QStringList{"a.mp3", "b.flac"} << twice << again << kNo
        << QStringList{"#a.mp3", "#b.flac"} << true;
    QTest::newRow("shuffle again: yes, a second prefix")
        << QStringList{"a.mp3", "b.flac"} << twice << again << kYes
        << QStringList{"##a.mp3", "##b.flac"} << false;

    const QStringList digits{"2019 Live.mp3", "7342Song.mp3", "Intro.flac"};
    const QStringList removal{"music", "option2", "removal"};
    const auto strip = Question::Kind::StripOtherDigits;
    QTest::newRow("strip digits: keep theirs")
        << digits << removal << strip << int(Digits::KeepOthers)
        << QStringList{"2019 Live.mp3", "Intro.flac", "Song.mp3"} << true;
    QTest::newRow("strip digits: strip them too")
        << digits << removal << strip << int(Digits::StripAll)
        << QStringList{" Live.mp3", "Intro.flac", "Song.mp3"} << true;
    QTest::newRow("strip digits: cancel renames nothing")
        << digits << removal << strip << int(Digits::Cancel) << digits << false;
}

// A pass's question is asked before the worker starts, and the answer is the session's to act on.
void TestForm1::passQuestions()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, actions);
    QFETCH(Question::Kind, kind);
    QFETCH(int, answer);
    QFETCH(QStringList, after);
    QFETCH(bool, command1);

    Harness h;
    h.work.mkdir("music");
    touchAll(h.work, files.replaceInStrings(QRegularExpression("^"), "music/"));
    bool runningWhenAsked = true;
    h.answer = [&](const Question &) {
        runningWhenAsked = h.w().passRunning();
        return answer;
    };
    for (const QString &a : actions)
        act(h, a);
    QCOMPARE(int(h.questions.size()), 1);
    QCOMPARE(h.questions[0].kind, kind);
    QVERIFY(!runningWhenAsked);
    const QString differs = unmatchedNames(songsIn(h.work / "music"), after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(shownNames(h.file1()), songsIn(h.work / "music"));
    QCOMPARE(h.command1()->isEnabled(), command1);
    QCOMPARE(h.command2()->isEnabled(), !command1);
    QVERIFY(h.messages.empty()); // the user's own "no" needs no answer
}

void TestForm1::recoveryOnOpen_data()
{
    using Choice = korvalo::RecoveryChoice;
    // "shown": the folder the window starts in; else another, offered at start-up and "declined"
    // (then opened by hand) or "opened" from the offer.
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QStringList>("after"); // empty: as the stopped pass left them
    QTest::addColumn<bool>("command1");
    QTest::addColumn<QString>("percent");

    const QStringList done{"#a.mp3", "#b.flac", "#c.mp3", "#d.mp3"};
    const QStringList undone{"a.mp3", "b.flac", "c.mp3", "d.mp3"};
    QTest::newRow("finish") << "declined" << int(Choice::Finish) << done << false << "100%";
    QTest::newRow("undo") << "declined" << int(Choice::Undo) << undone << true << "100%";
    // Left as it is, half the names carry a prefix: the option that fits is "already used".
    QTest::newRow("later") << "declined" << korvalo::session::kLater << QStringList{} << false
                           << "0%";
    QTest::newRow("at start-up: finish")
        << "shown" << int(Choice::Finish) << done << false << "100%";
    QTest::newRow("opened from the offer: undo")
        << "opened" << int(Choice::Undo) << undone << true << "100%";
}

// A folder whose last pass was stopped: opening it asks at once; the answer runs on the worker
// like a pass, and its end sets the buttons and the list.
void TestForm1::recoveryOnOpen()
{
    QFETCH(QString, start);
    QFETCH(int, choice);
    const bool atStartUp = start == "shown";
    QFETCH(QStringList, after);
    QFETCH(bool, command1);
    QFETCH(QString, percent);

    TestDir music;
    QStringList left;
    Harness h(Boxes::Hooked, [&](Harness &h) {
        stoppedShuffleIn(atStartUp ? h.start.path() : music.path());
        left = songsIn(atStartUp ? h.start.path() : music.path());
        h.answer = [&](const Question &q) {
            if (q.kind == Question::Kind::UnfinishedElsewhere)
                return start == "opened" ? 0 : korvalo::session::kLater;
            return choice;
        };
    });
    if (!atStartUp) {
        // Named once at start-up, and opened only when the user says so.
        QVERIFY(!h.questions.empty());
        QCOMPARE(h.questions[0].kind, Question::Kind::UnfinishedElsewhere);
        QVERIFY(h.questions[0].text.find(music.path().native()) != std::string::npos);
        if (start == "declined")
            h.open(music.path());
    }
    QVERIFY(h.waitForPass());
    QCOMPARE(int(h.questions.size()), atStartUp ? 1 : 2);
    QCOMPARE(h.questions.back().kind, Question::Kind::Recovery);

    const QStringList now = songsIn(h.dir1()->path());
    const QString differs = unmatchedNames(now, after.isEmpty() ? left : after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(h.finished->count(), after.isEmpty() ? 0 : 1);
    QCOMPARE(shownNames(h.file1()), now);
    QCOMPARE(h.command1()->isEnabled(), command1);
    QCOMPARE(h.command2()->isEnabled(), !command1);
    QCOMPARE(h.label5()->text(), percent);
    QVERIFY(h.messages.empty());
    // After the recovery the count is the folder's as it is now.
    if (!after.isEmpty())
        QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有4首歌曲"));
}

void TestForm1::orderingFolderOpened_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("move back") << kYes;
    QTest::newRow("not now, then a pass") << kNo;
}

// The folder the files pass through to be stored in order, opened after a crash: moving back
// shows the folder the files went to; a pass button there asks the same question again.
void TestForm1::orderingFolderOpened()
{
    QFETCH(int, answer);
    Harness h;
    const fs::path inner = orderingFolderIn(h.work);
    h.answer = [&](const Question &) { return answer; };
    h.open(inner);
    QVERIFY(h.waitForPass());
    QCOMPARE(int(h.questions.size()), 1);
    QCOMPARE(h.questions[0].kind, Question::Kind::OrderingFolder);

    if (answer == kYes) {
        QCOMPARE(h.finished->count(), 1);
        QCOMPARE(songsIn(h.work.path()), (QStringList{"a.flac", "b.mp3"}));
        QCOMPARE(h.dir1()->path(), h.work.path());
        QCOMPARE(h.file1()->path(), h.work.path());
        QCOMPARE(shownNames(h.file1()), (QStringList{"a.flac", "b.mp3"}));
        QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有2首歌曲"));
        QVERIFY(h.messages.empty());
        return;
    }
    act(h, "shuffle");
    QCOMPARE(int(h.questions.size()), 2);
    QCOMPARE(h.questions[1].kind, Question::Kind::OrderingFolder);
    QCOMPARE(songsIn(inner), (QStringList{"a.flac", "b.mp3"}));
    QCOMPARE(h.finished->count(), 0);
}

void TestForm1::questionKeys_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("key");
    // Shuffling again: its default is not the first button.
    for (const char *question :
         {"strip digits", "shuffle again", "ordering folder", "closing during a pass"}) {
        QTest::addRow("%s, Enter", question) << question << int(Qt::Key_Return);
        QTest::addRow("%s, Esc", question) << question << int(Qt::Key_Escape);
    }
}

// The session's questions in real boxes: one button per choice, in order; Enter gives the default
// answer, Esc the escape answer.
void TestForm1::questionKeys()
{
    QFETCH(QString, question);
    QFETCH(int, key);
    Harness h(Boxes::Real);
    QString title, text, defaultCaption;
    QStringList captions;
    bool stayedOpen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const OnNextBox onBox([&](QMessageBox *box) {
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton *b : box->buttons())
            captions << b->text();
        if (box->defaultButton())
            defaultCaption = box->defaultButton()->text();
        QTest::keyClick(box, Qt::Key(key));
        if ((stayedOpen = box->isVisible()))
            box->done(0);
    });
    if (question == "strip digits") {
        touchAll(h.work, {"2019 Live.mp3", "7342Song.mp3"});
        h.open(h.work.path());
        act(h, "option2");
        act(h, "removal");
    } else if (question == "shuffle again") {
        h.work.touch("a.mp3");
        h.open(h.work.path());
        for (const char *a : {"shuffle", "option1", "shuffle"})
            act(h, a);
    } else if (question == "ordering folder") {
        h.open(orderingFolderIn(h.work));
    } else {
        touchAll(h.work, {"s0.mp3", "s1.mp3", "s2.mp3", "s3.mp3"});
        h.open(h.work.path());
        QVERIFY(h.holdAfter(2, h.command1()));
        h.w().close();
        h.gate.release();
    }
    QVERIFY(h.waitForPass());

    QVERIFY(!stayedOpen);
    QCOMPARE(onBox.later, 0);
    QCOMPARE(int(h.questions.size()), 1);
    const Question &q = h.questions[0];
    QCOMPARE(title, QString::fromStdString(q.title));
    QCOMPARE(text, QString::fromStdString(q.text));
    QCOMPARE(icon, QMessageBox::Question);
    QStringList choices;
    QString defaultChoice;
    for (const Question::Choice &c : q.choices) {
        choices << QString::fromStdString(c.caption);
        if (c.answer == q.defaultAnswer)
            defaultChoice = choices.last();
    }
    QCOMPARE(captions, choices);
    QCOMPARE(defaultCaption, defaultChoice);
    QCOMPARE(h.answers, std::vector<int>{key == Qt::Key_Return ? q.defaultAnswer : q.escapeAnswer});
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

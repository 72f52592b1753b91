// The window's wiring: its controls, the folder chosen with Drive1 and Dir1, the session's
// questions asked in boxes and their answers handed back, a plan run on the session's worker while
// the window draws and stays usable, and its report applied to the buttons and the list. What the
// session decides (which question, which refusal, the texts) is tested with the session.

#include "journal/journal.h"
#include "journal/journalkey.h"
#include "passes/ordering.h"
#include "qtwindow/dirlist.h"
#include "qtwindow/drivelist.h"
#include "qtwindow/filelist.h"
#include "qtwindow/form1.h"
#include "qtwindow/messages.h"
#include "session/foldersession.h"
#include "session/layout.h"
#include "session/texts.h"
#include "support/renamegate.h"
#include "support/scriptedasker.h"
#include "support/songnames.h"
#include "support/testdir.h"

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
#include <string_view>
#include <utility>

Q_DECLARE_METATYPE(korvalo::session::Answer)

namespace fs = std::filesystem;
using korvalo::session::Answer;
using korvalo::session::CloseAnswer;
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
    std::vector<Answer> answers; // of the real boxes
    std::function<Answer(const Question &)> answer;
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

QStringList shownNames(FileList *files)
{
    QStringList out;
    for (int i = 0; i < files->model()->rowCount(); ++i)
        out << files->model()->index(i, 0).data().toString();
    return sorted(out);
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
    void chainFromFolderList();
    void chainFromDrive();
    void unreadableFolderKeepsLists_data();
    void unreadableFolderKeepsLists();

    void duringPass_data();
    void duringPass();
    void emptyListWarning();
    void failedRenameReported();
    void closeDuringPass_data();
    void closeDuringPass();

    void questionKeys_data();
    void questionKeys();
};

void TestForm1::startupGeometry_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("rect");

    // Each control where the layout table puts it, in pixels at 96 dpi; the class and caption are
    // this window's own.
    using namespace korvalo::texts::caption;
    const std::map<std::string_view, std::pair<const char *, const char *>> drawn = {
        {"Frame1", {"QGroupBox", kFrame1}},
        {"Option1", {"QRadioButton", kOption1}},
        {"Option2", {"QRadioButton", kOption2}},
        {"Command1", {"QPushButton", kShuffle}},
        {"Command2", {"QPushButton", kRemove}},
        {"Frame2", {"QGroupBox", kFrame2}},
        {"Label1", {"QLabel", kLabel1}},
        {"Label2", {"QLabel", kLabel2}},
        {"Label3", {"QLabel", "已选文件夹共有0首歌曲"}},
        {"Drive1", {"DriveList", ""}},
        {"Dir1", {"DirList", ""}},
        {"File1", {"FileList", ""}},
        {"Frame3", {"QGroupBox", kFrame3}},
        {"Label4", {"QLabel", kLabel4}},
        {"ProgressBar1", {"QProgressBar", ""}},
        {"Label5", {"QLabel", "0%"}},
    };
    QCOMPARE(korvalo::layout::controls().size(), drawn.size());
    for (const korvalo::layout::ControlPlace &c : korvalo::layout::controls()) {
        const auto it = drawn.find(c.name);
        QVERIFY2(it != drawn.end(), std::string(c.name).c_str());
        const auto px = [](int twips) { return korvalo::layout::twipsToPixels(twips); };
        const QRect rect(px(c.rect.left), px(c.rect.top), px(c.rect.width), px(c.rect.height));
        QTest::newRow(std::string(c.name).c_str())
            << it->second.first << QString::fromUtf8(c.parent.data(), c.parent.size())
            << QString::fromUtf8(it->second.second) << rect;
    }
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

    // The lists show the current folder, its drive and its count; nothing is asked.
    QCOMPARE(h.dir1()->path(), h.start.path());
    QCOMPARE(h.file1()->path(), h.start.path());
    QCOMPARE(shownNames(h.file1()), (QStringList{"a.flac", "b.mp3"}));
    QCOMPARE(h.drive1()->drive(), h.drive1()->volumeRootOf(h.start.path()));
    QCOMPARE(h.label3()->text(), QStringLiteral("已选文件夹共有2首歌曲"));
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

void TestForm1::duringPass_data()
{
    QTest::addColumn<bool>("removal");
    QTest::newRow("shuffle") << false;
    QTest::newRow("removal") << true;
}

// Held in the third of four files, the click has returned and the window's thread is free: its
// timer draws the progress (two files done: one step of three), and the controls that would start
// or redirect a plan take no input. The end draws a full bar and opens input again; the names are
// renamed on disk, File1 shows them and Label3 keeps its count. The removal after a shuffle gives
// every name back, and the other file is untouched.
void TestForm1::duringPass()
{
    QFETCH(bool, removal);
    Harness h;
    const QStringList songs{"s0.mp3", "s1.flac", "s2.mp3", "歌.mp3"};
    touchAll(h.work, QStringList(songs) << "notes.txt");
    const auto contents = h.work.contents();
    h.work.mkdir("other");
    h.open(h.work.path());
    const QString label = h.label3()->text();
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
    // The option that fits the names as the pass left them, not the click made meanwhile.
    QCOMPARE(h.option2()->isChecked(), !removal);
    QCOMPARE(h.dir1()->path(), h.work.path());
    QCOMPARE(h.file1()->path(), h.work.path());
    QStringList after = songs;
    if (!removal)
        after.replaceInStrings(QRegularExpression("^"), "#");
    const QString differs = unmatchedNames(songsIn(h.work.path()), after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(shownNames(h.file1()), songsIn(h.work.path()));
    QVERIFY(h.label3()->text().startsWith(label));
    if (removal)
        QCOMPARE(h.work.contents(), contents);
    QCOMPARE(h.command1()->isEnabled(), removal);
    for (QWidget *c : held.mid(2))
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QVERIFY(h.messages.empty() && h.questions.empty());
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

// A pass that fails midway: its problem is shown once, the list is read again, the buttons follow
// the option selected and input is open again.
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
    QCOMPARE(h.command1()->isEnabled(), h.option1()->isChecked());
    QCOMPARE(h.command2()->isEnabled(), h.option2()->isChecked());
    for (QWidget *c : {static_cast<QWidget *>(h.option1()), static_cast<QWidget *>(h.option2()),
                       static_cast<QWidget *>(h.drive1()), static_cast<QWidget *>(h.dir1())})
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(h.label5()->text(), QStringLiteral("0%")); // the last step completed: the first
}

void TestForm1::closeDuringPass_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("prefixed");
    QTest::addColumn<bool>("closed");
    QTest::newRow("stop") << Answer(CloseAnswer::Stop) << 2 << true;
    QTest::newRow("go on") << Answer(CloseAnswer::GoOn) << 4 << false;
}

// Closing the window during a pass asks first, in a box the window's events go on under; the pass
// waits after the file in hand until the answer. "Stop" stops it there and the window closes
// once the plan's end has been applied. (The answer given while the file in hand is still held
// is the controller's sequence, tested with it.)
void TestForm1::closeDuringPass()
{
    QFETCH(Answer, answer);
    QFETCH(int, prefixed);
    QFETCH(bool, closed);
    Harness h;
    touchAll(h.work, {"s0.mp3", "s1.mp3", "s2.mp3", "s3.mp3"});
    h.open(h.work.path());
    bool waited = false;
    h.answer = [&](const Question &) {
        // As in a real box's event loop: the file in hand goes on, the window's events meanwhile.
        h.gate.release();
        QTest::qWait(300);
        waited = h.w().passRunning() &&
                 songsIn(h.work.path()).filter(QRegularExpression("^[0-9]{4}s")).size() == 2;
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
    if (answer == Answer(CloseAnswer::Stop)) {
        QVERIFY(!h.w().close()); // asked once
        QCOMPARE(int(h.questions.size()), 1);
    }
    QVERIFY(h.waitForPass());

    QVERIFY2(waited, "the pass waits for the answer");
    QVERIFY(visibleAtEnd);
    QCOMPARE(h.w().isVisible(), !closed);
    const QStringList names = songsIn(h.work.path());
    QCOMPARE(names.size(), 4);
    QCOMPARE(names.filter(QRegularExpression("^[0-9]{4}s")).size(), prefixed);
    QVERIFY(h.messages.empty()); // a stop the user asked for needs no word
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
    QCOMPARE(h.answers,
             std::vector<Answer>{key == Qt::Key_Return ? q.defaultAnswer : q.escapeAnswer});
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

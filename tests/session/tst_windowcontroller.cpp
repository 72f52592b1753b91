// The window's sequence, driven through a fake window: what each event (start-up, a folder, an
// option, a pass, its end, a close) makes the window show and ask. The windows themselves are
// tested for their wiring only.

#include "browse/musicfilelist.h"
#include "journal/journal.h"
#include "journal/journalformat.h"
#include "journal/journalkey.h"
#include "journal/passlock.h"
#include "journal/statefolder.h"
#include "passes/ordering.h"
#include "session/foldersession.h"
#include "session/texts.h"
#include "session/windowcontroller.h"
#include "support/planrun.h"
#include "support/renamegate.h"
#include "support/scriptedasker.h"
#include "support/songnames.h"
#include "support/testdir.h"

#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

Q_DECLARE_METATYPE(korvalo::session::Answer)

namespace fs = std::filesystem;
using korvalo::PassKind;
using korvalo::session::Answer;
using korvalo::session::CloseAnswer;
using korvalo::session::Mode;
using korvalo::session::Notice;
using korvalo::session::PassButtons;
using korvalo::session::PrefixedAnswer;
using korvalo::session::Question;
using korvalo::session::ReturnAnswer;
using korvalo::session::WindowController;

namespace {

constexpr int kPassTimeout = 30000;

// What a window shows, as the controller has it drawn; its boxes recorded and answered by
// `answer`.
class FakeWindow : public korvalo::session::WindowHooks
{
public:
    void showSongs(const korvalo::MusicFileList &list) override
    {
        songs.clear();
        for (int k = 0; k < list.count(); ++k)
            songs << QString::fromStdString(std::string(list.nameView(k)));
        songs = sorted(songs);
        filesFolder = list.folder();
    }
    void showCount(const std::string &text) override { count = QString::fromStdString(text); }
    void showOption(Mode mode) override { option = mode; }
    void showButtons(const PassButtons &shown) override { buttons = shown; }
    korvalo::ListError showFolder(const fs::path &folder) override
    {
        std::vector<fs::path> subfolders;
        const korvalo::ListError err = korvalo::listSubfolders(folder, subfolders);
        if (err.ok()) {
            dir = folder;
            ++folderShows;
        }
        return err;
    }
    void restoreFolder(const fs::path &folder) override { dir = folder; }
    void showDriveOf(const fs::path &folder) override { drive = folder.root_path(); }
    void holdInput(bool hold) override
    {
        held = hold;
        ++holds;
    }
    void tell(const Notice &notice) override { notices.push_back(notice); }
    Answer ask(const Question &q) override
    {
        questions.push_back(q);
        return answer ? answer(q) : q.defaultAnswer;
    }
    void wake() override
    {
        {
            const std::lock_guard<std::mutex> hold(mutex);
            woken = true;
        }
        wakeUp.notify_all();
    }
    void closeWindow() override
    {
        closed = true;
        toldBeforeClose = int(notices.size());
    }

    // Waits for the worker's wake-up (without handling it).
    bool waitWoken()
    {
        std::unique_lock<std::mutex> lock(mutex);
        const bool ok =
            wakeUp.wait_for(lock, std::chrono::milliseconds(kPassTimeout), [&] { return woken; });
        woken = false;
        return ok;
    }

    QStringList songs;
    fs::path filesFolder;
    QString count;
    std::optional<Mode> option;
    PassButtons buttons;
    fs::path dir;
    fs::path drive;
    int folderShows = 0;
    bool held = false;
    int holds = 0;
    std::vector<Notice> notices;
    std::vector<Question> questions;
    std::function<Answer(const Question &)> answer;
    bool closed = false;
    int toldBeforeClose = -1;
    std::mutex mutex;
    std::condition_variable wakeUp;
    bool woken = false;
};

// A controller on a fake window, started in a folder of its own.
struct Harness
{
    explicit Harness(const std::function<void(Harness &)> &prepare = {},
                     korvalo::StoredOrderRule storedOrder = korvalo::StoredOrderRule::FatAndExfat)
        : controller(window, storedOrder)
    {
        if (prepare)
            prepare(*this);
        controller.showStartFolder({start.path()});
        controller.offerStartUp();
        // The start-up scan ends on its own thread and wakes the window, as a plan's end does.
        while (!controller.startUpDone()) {
            QVERIFY(window.waitWoken());
            controller.planFinished();
        }
        QVERIFY(waitForPlans());
    }
    ~Harness() { gate.release(); }

    // Every plan's end handled as a window's event loop would, until none runs.
    bool waitForPlans()
    {
        while (controller.running()) {
            if (!window.waitWoken())
                return false;
            controller.planFinished();
        }
        return true;
    }
    void open(const fs::path &folder)
    {
        QVERIFY(window.showFolder(folder).ok());
        controller.folderShown(folder);
    }
    // A folder of the work folder, an option or a pass; then the plan's end.
    void act(const QString &action)
    {
        if (action == "option1")
            controller.optionChosen(Mode::FirstTime);
        else if (action == "option2")
            controller.optionChosen(Mode::AlreadyUsed);
        else if (action == "shuffle")
            controller.passClicked(PassKind::Shuffle);
        else if (action == "removal")
            controller.passClicked(PassKind::Removal);
        else
            open(work / action.toStdString());
        QVERIFY(waitForPlans());
    }
    bool command1() const { return window.buttons.command1; }
    bool command2() const { return window.buttons.command2; }
    QString caption() const { return QString::fromStdString(window.buttons.command1Caption); }

    TestDir start;
    TestDir work;
    RenameGate gate;
    FakeWindow window;
    WindowController controller;
};

// Leaves an unfinished shuffle in `folder`, stopped after two of its four songs.
void stoppedShuffleIn(const fs::path &folder)
{
    for (const char *n : {"a.mp3", "b.flac", "c.mp3", "d.mp3"})
        std::ofstream(folder / n) << n;
    korvalo::session::FolderSession session(korvalo::texts::Front::Window);
    ScriptedAsker asker;
    session.open(folder);
    int handled = 0;
    session.setStopCheck([&] { return ++handled >= 2; });
    QCOMPARE(runPlan(session, session.planPass(PassKind::Shuffle, asker)).outcome,
             korvalo::session::Report::Outcome::Stopped);
}

} // namespace

class TestWindowController : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data();
    void startUp();
    void modes_data();
    void modes();
    void folderGone_data();
    void folderGone();
    void unreadableFolderKeepsLists();
    void filesBackFromOrdering();
    void damagedRecordLeft();
    void busyVolumeIsTold();
    void closeDuringPass_data();
    void closeDuringPass();
    void closeWhileStoringInOrder();
    void passQuestions_data();
    void passQuestions();
    void recoveryOnOpen_data();
    void recoveryOnOpen();
    void orderingFolderOpened_data();
    void orderingFolderOpened();
    void folderChain_data();
    void folderChain();
    void drivesToList();
};

void TestWindowController::startUp_data()
{
    QTest::addColumn<QStringList>("songs");
    QTest::addColumn<bool>("alreadyUsed");
    QTest::newRow("plain") << QStringList{"b.mp3", "a.flac", "x.txt"} << false;
    QTest::newRow("prefixed") << QStringList{"4821a.mp3", "7310b.flac"} << true;
    QTest::newRow("empty") << QStringList{} << false;
}

// The start folder is shown with its songs, their count and the option that fits it; nothing is
// asked or told.
void TestWindowController::startUp()
{
    QFETCH(QStringList, songs);
    QFETCH(bool, alreadyUsed);
    Harness h([&](Harness &h) { touchAll(h.start, songs); });
    QCOMPARE(h.window.dir, h.start.path());
    QCOMPARE(h.window.filesFolder, h.start.path());
    QCOMPARE(h.window.songs, songsIn(h.start.path()));
    QCOMPARE(h.window.count, QString::fromStdString(korvalo::texts::songCount(
                                 int(songs.filter(QRegularExpression("mp3|flac")).size()))));
    QCOMPARE(h.window.option, alreadyUsed ? Mode::AlreadyUsed : Mode::FirstTime);
    QCOMPARE(h.command1(), !alreadyUsed);
    QCOMPARE(h.command2(), alreadyUsed);
    QVERIFY(h.window.questions.empty() && h.window.notices.empty());
    QVERIFY(!h.controller.running());
}

void TestWindowController::modes_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("command1");
    QTest::addColumn<bool>("command2");
    QTest::addColumn<int>("option"); // the option selected: 1, 2
    QTest::addColumn<QString>("label");

    const QString none = "已选文件夹共有0首歌曲";
    const QString two = "已选文件夹共有2首歌曲";
    QTest::newRow("Option2") << QStringList{"option2"} << "重新排序" << false << true << 1 << none;
    QTest::newRow("Option2 then Option1")
        << QStringList{"option2", "option1"} << "随机排序" << true << false << 1 << none;
    QTest::newRow("a prefixed folder")
        << QStringList{"prefixed"} << "重新排序" << false << true << 2 << "已选文件夹共有1首歌曲";
    QTest::newRow("the user switches") << QStringList{"prefixed", "option1"} << "随机排序" << true
                                       << false << 2 << "已选文件夹共有1首歌曲";
    // After a pass the option that fits the folder is selected and the buttons follow it; the
    // song count label says what the pass did, with no box; another folder gets its plain count.
    QTest::newRow("opened") << QStringList{"music"} << "随机排序" << true << false << 1 << two;
    QTest::newRow("after a shuffle") << QStringList{"music", "shuffle"} << "重新排序" << false
                                     << true << 2 << two + "，\n已全部加上序号";
    QTest::newRow("after a shuffle and a removal")
        << QStringList{"music", "shuffle", "removal"} << "随机排序" << true << false << 1
        << two + "，\n已去掉序号";
    QTest::newRow("after a removal with nothing to remove")
        << QStringList{"music", "option2", "removal"} << "随机排序" << true << false << 1
        << two + "，\n没有要去掉的序号";
    QTest::newRow("Option1 after a shuffle")
        << QStringList{"music", "shuffle", "option1"} << "随机排序" << true << false << 2
        << two + "，\n已全部加上序号";
    QTest::newRow("another folder after a shuffle")
        << QStringList{"music", "shuffle", "empty"} << "随机排序" << true << false << 1 << none;
    QTest::newRow("shuffle refused for an empty list")
        << QStringList{"empty", "shuffle"} << "随机排序" << true << false << 1 << none;
    QTest::newRow("removal refused for an empty list")
        << QStringList{"empty", "option2", "removal"} << "重新排序" << false << true << 1 << none;
}

void TestWindowController::modes()
{
    QFETCH(QStringList, actions);
    QFETCH(int, option);
    Harness h;
    h.work.mkdir("empty");
    h.work.mkdir("music");
    h.work.mkdir("prefixed");
    touchAll(h.work, {"empty/notes.txt", "music/a.mp3", "music/b.flac", "prefixed/4821a.mp3"});
    for (const QString &a : actions)
        h.act(a);
    QTEST(h.caption(), "caption");
    QTEST(h.command1(), "command1");
    QTEST(h.command2(), "command2");
    QCOMPARE(h.window.option, option == 2 ? Mode::AlreadyUsed : Mode::FirstTime);
    QTEST(h.window.count, "label");
    // Only the refusals speak; with no name at risk nothing is asked.
    QCOMPARE(int(h.window.notices.size()),
             actions.first() == "empty" && actions.size() > 1 ? 1 : 0);
    QVERIFY(h.window.questions.empty());
}

void TestWindowController::folderGone_data()
{
    QTest::addColumn<QString>("click");
    QTest::newRow("shuffle") << "shuffle";
    QTest::newRow("removal") << "removal";
}

// The folder moved away after it was opened: the click empties the list and says so, no pass
// button stays on, and an option clicked afterwards says why.
void TestWindowController::folderGone()
{
    QFETCH(QString, click);
    Harness h;
    h.work.mkdir("music");
    touchAll(h.work, {"music/a.mp3", "music/b.flac"});
    h.act("music");
    fs::rename(h.work / "music", h.work / "moved");
    h.act(click);
    QVERIFY(h.window.songs.isEmpty());
    QCOMPARE(h.window.count, QStringLiteral("已选文件夹共有0首歌曲"));
    QCOMPARE(int(h.window.notices.size()), 1);
    QCOMPARE(h.window.notices[0].kind, Notice::Kind::Warning);
    QCOMPARE(h.window.notices[0].title, std::string(korvalo::texts::title::kFolderGone));
    QVERIFY(!h.command1() && !h.command2());
    h.act("option1");
    QVERIFY(!h.command1() && !h.command2());
    QCOMPARE(int(h.window.notices.size()), 2);
    QCOMPARE(h.window.notices[1].text, h.window.notices[0].text);
    QCOMPARE(songsIn(h.work / "moved"), (QStringList{"a.mp3", "b.flac"}));
}

// A folder that cannot be read is told; Dir1 and the session go back to the folder shown.
void TestWindowController::unreadableFolderKeepsLists()
{
    Harness h;
    h.work.mkdir("music");
    h.work.touch("music/a.mp3");
    h.act("music");
    const QString label = h.window.count;
    h.controller.folderShown(h.work / "gone");
    QCOMPARE(int(h.window.notices.size()), 1);
    QCOMPARE(h.window.dir, h.work / "music");
    QCOMPARE(h.controller.folder(), h.work / "music");
    QCOMPARE(h.window.count, label);
    QVERIFY(h.command1());
    h.act("shuffle");
    QCOMPARE(songsIn(h.work / "music").size(), 1);
    QVERIFY(songsIn(h.work / "music").at(0).endsWith("a.mp3"));
    QVERIFY(songsIn(h.work / "music").at(0) != "a.mp3");
}

// Files left out in the folder they pass through to be stored in order come back as the window
// starts: the folder, the list and the count show the folder as it is now.
void TestWindowController::filesBackFromOrdering()
{
    Harness h([](Harness &h) {
        touchAll(h.start, {"a.mp3", "b.mp3", "c.mp3"});
        const korvalo::FileName recorded = korvalo::orderingFolderName();
        const std::string inner = korvalo::shortOrderingFolderName(recorded);
        h.start.mkdir(inner);
        fs::rename(h.start / "c.mp3", h.start / inner / "c.mp3");
        std::vector<korvalo::PlannedRename> planned;
        for (const char *song : {"a.mp3", "b.mp3", "c.mp3"})
            planned.push_back({song, song});
        korvalo::PassStart start;
        start.kind = PassKind::Order;
        start.fileCount = 3;
        start.planned = planned;
        start.orderFolder = recorded;
        QVERIFY(korvalo::Journal()
                    .beginPass(korvalo::journalKeyOf(h.start.path()).value(), start)
                    .ok());
    });
    QCOMPARE(int(h.window.questions.size()), 1);
    QVERIFY(h.window.folderShows >= 2); // shown again: its subfolder is gone
    QCOMPARE(h.window.songs, (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
    QVERIFY(h.window.count.startsWith(QStringLiteral("已选文件夹共有3首歌曲")));
}

// A damaged record set aside when the folder opens: the window says where it was kept.
void TestWindowController::damagedRecordLeft()
{
    Harness h([](Harness &h) {
        stoppedShuffleIn(h.start.path());
        const std::string key =
            korvalo::journalformat::keyHash(korvalo::journalKeyOf(h.start.path()).value());
        std::ofstream(korvalo::stateFolder() / (key + ".journal")) << "damaged\n";
        h.window.answer = [](const Question &) { return Answer(korvalo::session::LeaveRecord{}); };
    });
    QVERIFY(h.waitForPlans());
    QCOMPARE(int(h.window.questions.size()), 1);
    QCOMPARE(h.window.questions[0].kind, Question::Kind::DamagedRecord);
    QCOMPARE(int(h.window.notices.size()), 1);
    QCOMPARE(h.window.notices[0].title, std::string(korvalo::texts::title::kDone));
}

// A folder whose unfinished pass cannot be looked at, another Korvalo holding its volume, is told
// as it opens.
void TestWindowController::busyVolumeIsTold()
{
    Harness h;
    h.work.mkdir("music");
    stoppedShuffleIn(h.work / "music");
    const korvalo::LockAttempt held = korvalo::PassLock::tryAcquire(
        korvalo::PassLock::lockFolder(), korvalo::deviceOf(h.work.path()).value());
    QVERIFY(held.held());
    h.act("music");
    QCOMPARE(int(h.window.notices.size()), 1);
    QCOMPARE(h.window.notices[0].title, std::string(korvalo::texts::title::kVolumeBusy));
}

void TestWindowController::closeDuringPass_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("released"); // the file in hand goes on while the question is open
    QTest::addColumn<int>("prefixed");
    QTest::addColumn<bool>("closed");
    QTest::newRow("stop") << Answer(CloseAnswer::Stop) << true << 2 << true;
    QTest::newRow("go on") << Answer(CloseAnswer::GoOn) << true << 4 << false;
    QTest::newRow("stop, answered with the file still in hand")
        << Answer(CloseAnswer::Stop) << false << 2 << true;
    QTest::newRow("go on, answered with the file still in hand")
        << Answer(CloseAnswer::GoOn) << false << 4 << false;
}

// Closing during a pass asks first, and the pass waits after the file in hand while the question
// is open: "stop" ends it there and closes the window at its end, "go on" lets it finish.
void TestWindowController::closeDuringPass()
{
    QFETCH(Answer, answer);
    QFETCH(bool, released);
    QFETCH(int, prefixed);
    QFETCH(bool, closed);
    Harness h;
    touchAll(h.work, {"s0.mp3", "s1.mp3", "s2.mp3", "s3.mp3"});
    h.open(h.work.path());
    int doneWhenAnswered = -1;
    h.window.answer = [&](const Question &) {
        // Either way the pass waits for the answer after the file in hand.
        if (released)
            h.gate.release();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        doneWhenAnswered =
            int(songsIn(h.work.path()).filter(QRegularExpression("^[0-9]{4}s")).size());
        // Its end, if it came meanwhile, waits for the answer too.
        h.controller.planFinished();
        return answer;
    };
    h.gate.holdAfter(h.work.path(), 2);
    h.controller.passClicked(PassKind::Shuffle);
    QVERIFY(h.gate.waitHeld(kPassTimeout));
    QVERIFY(h.window.held);

    QVERIFY(!h.controller.closeAsked());
    QCOMPARE(int(h.window.questions.size()), 1);
    QCOMPARE(h.window.questions[0].kind, Question::Kind::CloseDuringPass);
    QCOMPARE(doneWhenAnswered, 2);
    if (answer == Answer(CloseAnswer::Stop)) {
        QVERIFY(!h.controller.closeAsked()); // asked once
        QCOMPARE(int(h.window.questions.size()), 1);
    }
    h.gate.release();
    QVERIFY(h.waitForPlans());
    QCOMPARE(h.window.closed, closed);
    const QStringList names = songsIn(h.work.path());
    QCOMPARE(names.size(), 4);
    QCOMPARE(names.filter(QRegularExpression("^[0-9]{4}s")).size(), prefixed);
    QVERIFY(h.window.notices.empty()); // a stop the user asked for needs no word
    QVERIFY(!h.window.held);
    QVERIFY(h.controller.closeAsked()); // nothing runs any more
}

// Closing while the files are stored in order stops that step: every name stays as the pass made
// it, and before the window closes it says how to have the order arranged later.
void TestWindowController::closeWhileStoringInOrder()
{
    Harness h({}, korvalo::StoredOrderRule::Everywhere);
    touchAll(h.work, {"s0.mp3", "s1.mp3", "s2.mp3", "s3.mp3"});
    h.open(h.work.path());
    h.window.answer = [&](const Question &q) {
        return q.kind == Question::Kind::CloseDuringPass ? Answer(CloseAnswer::Stop)
                                                         : q.defaultAnswer;
    };
    // The worker waits at its first move into the ordering folder (after the four prefixes)
    // until the window has asked.
    h.gate.holdAfter(h.work.path(), 5);
    h.controller.passClicked(PassKind::Shuffle);
    QVERIFY(h.gate.waitHeld(kPassTimeout));
    QVERIFY(h.controller.progress().ordering);
    QVERIFY(!h.controller.closeAsked());
    h.gate.release();
    QVERIFY(h.waitForPlans());
    QVERIFY(h.window.closed);
    QCOMPARE(h.window.toldBeforeClose, 1);
    const std::string &text = h.window.notices[0].text;
    QVERIFY2(text.find("存放顺序") != std::string::npos &&
                 text.find("关闭了窗口") != std::string::npos,
             text.c_str());
    QCOMPARE(songsIn(h.work.path()).filter(QRegularExpression("^[0-9]{4}s")).size(), 4);
}

void TestWindowController::passQuestions_data()
{
    using Digits = korvalo::PassQuestions::DigitAnswer;
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<Question::Kind>("kind"); // of the one question asked
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("command1");

    const QStringList twice{"music", "shuffle", "option1", "shuffle"};
    const auto again = Question::Kind::ShuffleAgain;
    QTest::newRow("shuffle again: no renames nothing")
        << QStringList{"a.mp3", "b.flac"} << twice << again << Answer(PrefixedAnswer::Cancel)
        << QStringList{"#a.mp3", "#b.flac"} << true;
    QTest::newRow("shuffle again: yes, a second prefix")
        << QStringList{"a.mp3", "b.flac"} << twice << again << Answer(PrefixedAnswer::AddAnother)
        << QStringList{"##a.mp3", "##b.flac"} << false;
    QTest::newRow("shuffle again: new digits in place of the old")
        << QStringList{"a.mp3", "b.flac"} << twice << again << Answer(PrefixedAnswer::NewDigits)
        << QStringList{"#a.mp3", "#b.flac"} << false;

    const QStringList digits{"2019 Live.mp3", "7342Song.mp3", "Intro.flac"};
    const QStringList removal{"music", "option2", "removal"};
    const auto strip = Question::Kind::StripOtherDigits;
    QTest::newRow("strip digits: keep theirs")
        << digits << removal << strip << Answer(Digits::KeepOthers)
        << QStringList{"2019 Live.mp3", "Intro.flac", "Song.mp3"} << true;
    QTest::newRow("strip digits: strip them too")
        << digits << removal << strip << Answer(Digits::StripAll)
        << QStringList{" Live.mp3", "Intro.flac", "Song.mp3"} << true;
    QTest::newRow("strip digits: cancel renames nothing")
        << digits << removal << strip << Answer(Digits::Cancel) << digits << false;
}

// A pass's question is asked before the worker starts, and the answer is the session's to act on.
void TestWindowController::passQuestions()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, actions);
    QFETCH(Question::Kind, kind);
    QFETCH(Answer, answer);
    QFETCH(QStringList, after);
    QFETCH(bool, command1);

    Harness h;
    h.work.mkdir("music");
    touchAll(h.work, files.replaceInStrings(QRegularExpression("^"), "music/"));
    bool runningWhenAsked = true;
    h.window.answer = [&](const Question &) {
        runningWhenAsked = h.controller.running();
        return answer;
    };
    for (const QString &a : actions)
        h.act(a);
    QCOMPARE(int(h.window.questions.size()), 1);
    QCOMPARE(h.window.questions[0].kind, kind);
    QVERIFY(!runningWhenAsked);
    const QString differs = unmatchedNames(songsIn(h.work / "music"), after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(h.window.songs, songsIn(h.work / "music"));
    QCOMPARE(h.command1(), command1);
    QCOMPARE(h.command2(), !command1);
    QVERIFY(h.window.notices.empty()); // the user's own "no" needs no answer
}

void TestWindowController::recoveryOnOpen_data()
{
    using Choice = korvalo::RecoveryChoice;
    // "shown": the folder the window starts in; else another, offered at start-up and "declined"
    // (then opened by hand) or "opened" from the offer.
    QTest::addColumn<QString>("start");
    QTest::addColumn<Answer>("choice");
    QTest::addColumn<QStringList>("after"); // empty: as the stopped pass left them
    QTest::addColumn<bool>("alreadyUsed");
    QTest::addColumn<QString>("label");

    const QStringList done{"#a.mp3", "#b.flac", "#c.mp3", "#d.mp3"};
    const QStringList undone{"a.mp3", "b.flac", "c.mp3", "d.mp3"};
    QTest::newRow("finish") << "declined" << Answer(Choice::Finish) << done << true
                            << "已选文件夹共有4首歌曲，\n已全部加上序号";
    QTest::newRow("undo") << "declined" << Answer(Choice::Undo) << undone << false
                          << "已选文件夹共有4首歌曲，\n已改回原来的名字";
    // Left as it is, half the names carry a prefix: the option that fits is "already used".
    QTest::newRow("later") << "declined" << Answer(korvalo::session::Later{}) << QStringList{}
                           << true << "已选文件夹共有4首歌曲";
    QTest::newRow("at start-up: finish") << "shown" << Answer(Choice::Finish) << done << true
                                         << "已选文件夹共有4首歌曲，\n已全部加上序号";
    QTest::newRow("at start-up: later") << "shown" << Answer(korvalo::session::Later{})
                                        << QStringList{} << true << "已选文件夹共有4首歌曲";
    QTest::newRow("opened from the offer: undo")
        << "opened" << Answer(Choice::Undo) << undone << false
        << "已选文件夹共有4首歌曲，\n已改回原来的名字";
}

// A folder whose last pass was stopped: opening it asks at once; the answer runs like a pass, and
// its end selects the option that fits and says what it did under the count.
void TestWindowController::recoveryOnOpen()
{
    QFETCH(QString, start);
    QFETCH(Answer, choice);
    const bool atStartUp = start == "shown";
    QFETCH(QStringList, after);
    QFETCH(bool, alreadyUsed);

    TestDir music;
    QStringList left;
    Harness h([&](Harness &h) {
        stoppedShuffleIn(atStartUp ? h.start.path() : music.path());
        left = songsIn(atStartUp ? h.start.path() : music.path());
        // The start folder's own question is all start-up asks: another folder's pass waits.
        if (atStartUp)
            stoppedShuffleIn(music.path());
        h.window.answer = [&](const Question &q) {
            if (q.kind == Question::Kind::UnfinishedElsewhere)
                return start == "opened" ? Answer(korvalo::session::OpenFolder{0})
                                         : Answer(korvalo::session::Later{});
            return choice;
        };
    });
    if (!atStartUp) {
        // Named once at start-up, and opened only when the user says so.
        QVERIFY(!h.window.questions.empty());
        QCOMPARE(h.window.questions[0].kind, Question::Kind::UnfinishedElsewhere);
        if (start == "declined")
            h.open(music.path());
    }
    QVERIFY(h.waitForPlans());
    QCOMPARE(int(h.window.questions.size()), atStartUp ? 1 : 2);
    QCOMPARE(h.window.questions.back().kind, Question::Kind::Recovery);

    const QStringList now = songsIn(h.window.dir);
    const QString differs = unmatchedNames(now, after.isEmpty() ? left : after);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
    QCOMPARE(h.window.songs, now);
    QCOMPARE(h.window.option, alreadyUsed ? Mode::AlreadyUsed : Mode::FirstTime);
    QCOMPARE(h.command1(), !alreadyUsed);
    QCOMPARE(h.command2(), alreadyUsed);
    QTEST(h.window.count, "label");
    QVERIFY(h.window.notices.empty());
}

void TestWindowController::orderingFolderOpened_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::newRow("move back") << Answer(ReturnAnswer::MoveBack);
    QTest::newRow("not now, then a pass") << Answer(ReturnAnswer::Cancel);
}

// The folder the files pass through to be stored in order: moving back shows the folder the files
// went to; a pass button there asks the same question again.
void TestWindowController::orderingFolderOpened()
{
    QFETCH(Answer, answer);
    Harness h;
    const fs::path inner = orderingFolderIn(h.work);
    h.window.answer = [&](const Question &) { return answer; };
    h.open(inner);
    QVERIFY(h.waitForPlans());
    QCOMPARE(int(h.window.questions.size()), 1);
    QCOMPARE(h.window.questions[0].kind, Question::Kind::OrderingFolder);

    if (answer == Answer(ReturnAnswer::MoveBack)) {
        QCOMPARE(songsIn(h.work.path()), (QStringList{"a.flac", "b.mp3"}));
        QCOMPARE(h.window.dir, h.work.path());
        QCOMPARE(h.window.filesFolder, h.work.path());
        QCOMPARE(h.window.songs, (QStringList{"a.flac", "b.mp3"}));
        QCOMPARE(h.window.count, QStringLiteral("已选文件夹共有2首歌曲"));
        QVERIFY(h.window.notices.empty());
        return;
    }
    h.act("shuffle");
    QCOMPARE(int(h.window.questions.size()), 2);
    QCOMPARE(h.window.questions[1].kind, Question::Kind::OrderingFolder);
    QCOMPARE(songsIn(inner), (QStringList{"a.flac", "b.mp3"}));
}

void TestWindowController::folderChain_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("chain"); // down to the folder shown, the last
    QTest::newRow("from the drive")
        << "/media/u/STICK"
        << QStringList{"/media/u/STICK", "/media/u/STICK/a", "/media/u/STICK/a/b"};
    QTest::newRow("outside the drive: from the root")
        << "/media/u/STICK" << QStringList{"/", "/home", "/home/u"};
    QTest::newRow("no drive") << "" << QStringList{"/", "/home"};
    QTest::newRow("the root") << "/" << QStringList{"/"};
}

void TestWindowController::folderChain()
{
    QFETCH(QString, root);
    QFETCH(QStringList, chain);
    QStringList got;
    for (const fs::path &p :
         korvalo::session::folderChain(chain.last().toStdString(), root.toStdString()))
        got << QString::fromStdString(p.native());
    QCOMPARE(got, chain);
}

// The drive shown stays listed when it went away; one still there is not listed twice.
void TestWindowController::drivesToList()
{
    const std::vector<korvalo::Volume> mounted{{"/", "ext4", ""}, {"/media/u/A", "vfat", "A"}};
    QCOMPARE(korvalo::session::drivesToList(mounted, "/media/u/A").size(), std::size_t(2));
    const auto kept = korvalo::session::drivesToList(mounted, "/media/u/GONE");
    QCOMPARE(kept.size(), std::size_t(3));
    QCOMPARE(kept.back().mountPoint, std::string("/media/u/GONE"));
    QCOMPARE(korvalo::session::drivesToList(mounted, fs::path()).size(), std::size_t(2));
}

QTEST_GUILESS_MAIN(TestWindowController)
#include "tst_windowcontroller.moc"

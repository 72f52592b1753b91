// Both passes through the real window on the offscreen platform, as a user runs them: Dir1 is
// pointed at the folder (File1 and Label3 follow), then Command1 is clicked for the shuffle pass,
// or Option2 is chosen and Command2 clicked for the prefix removal pass. The click plans the pass
// and hands it to the folder session's worker thread; the window draws the progress from a timer
// and, once the worker has ended, shows the list again, sets the buttons and emits passFinished.
// The time runs from the click to passFinished, waited for in an event loop as the window's own
// thread would; the pass keeps its journal in a state folder of the benchmark's own, on the same
// disk.
//
// In the same repetitions, taking turns at going first, the same names are renamed twice more:
// by a bare loop of renameat2(RENAME_NOREPLACE), and by the same pass through the core with its
// journal (as bench_passes measures it). The journal's cost is the core's, held by bench_passes;
// what the window adds on top is its own: planning the pass before it starts, the hand-off to the
// worker and back, drawing the progress and showing the new list. Per repetition that must stay
// within a tenth of a bare loop, and the window within 1.45 bare loops in all; both bind from
// 10,000 files, where a pass lasts long enough to be waited for, and smaller folders, where
// starting the worker and one redraw weigh more, show the trend.
//
// The clock: the pass runs on the worker while the window's thread sleeps in its event loop, so
// the process's CPU time adds the two threads up. It counts the window's redraws even where a
// second core does them in parallel, which leans against the window, and misses only time when
// neither thread runs (the worker's start, the wake-up at its end). The breakdown printed beside
// the rows shows the phases by the wall clock next to each thread's CPU time, so that such a gap
// would show.

#include "benchutil.h"
#include "benchwindow.h"
#include "renameloop.h"

#include "journal/statefolder.h"
#include "qtwindow/dirlist.h"
#include "qtwindow/filelist.h"
#include "qtwindow/form1.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

enum class Pass
{
    Shuffle,
    Removal
};

void pumpEvents()
{
    for (int k = 0; k < 3; ++k)
        QCoreApplication::processEvents();
}

// Moments of one window pass by the wall clock, and the window thread's CPU time, so that the
// click's share, the worker's and the end's can be told apart.
struct Phases
{
    double clicked = 0;   // the click returned: planned, worker started
    double heard = 0;     // the window's thread took up the worker's end
    double listing = 0;   // File1 starts taking the new list
    double listed = 0;    // File1 has it
    double finished = 0;  // passFinished
    double windowCpu = 0; // the window thread's CPU time from the click to passFinished
    double workerCpu = 0; // the rest of the process's CPU time: the worker's
};

// Notes the first call the window's thread takes up after the click: the worker's end, queued to
// the window.
class EndWatch : public QObject
{
public:
    double heard = 0;
    bool armed = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (armed && event->type() == QEvent::MetaCall) {
            heard = bench::wallMs();
            armed = false;
        }
        return false;
    }
};

// The longest a pass may take before the benchmark gives up on it: far beyond any figure seen,
// so that only a pass that never ends reaches it.
int patienceMs(std::size_t n)
{
    return 60000 + static_cast<int>(n);
}

double windowPass(Form1 &form, Pass pass, const std::filesystem::path &folder, std::size_t n,
                  Phases &phases)
{
    auto *dir1 = bench::control<DirList>(form, "Dir1");
    auto *file1 = bench::control<FileList>(form, "File1");
    auto *command1 = bench::control<QPushButton>(form, "Command1");
    auto *command2 = bench::control<QPushButton>(form, "Command2");
    auto *option1 = bench::control<QRadioButton>(form, "Option1");
    auto *option2 = bench::control<QRadioButton>(form, "Option2");
    auto *label5 = bench::control<QLabel>(form, "Label5");
    auto *progressBar1 = bench::control<QProgressBar>(form, "ProgressBar1");

    // The user opens the folder: Dir1, then File1 and the song count follow.
    if (!dir1->setPath(folder).ok())
        bench::fail("Dir1 cannot open " + folder.string());
    pumpEvents();
    if (file1->path() != folder || static_cast<std::size_t>(file1->listCount()) != n)
        bench::fail("File1 lists " + std::to_string(file1->listCount()) + " files in " +
                    file1->path().string() + ", expected " + std::to_string(n) + " in " +
                    folder.string());

    // The user chooses the mode that offers the pass, then clicks its button.
    QPushButton *button = nullptr;
    if (pass == Pass::Shuffle) {
        option1->click();
        button = command1;
    } else {
        option2->click();
        button = command2;
    }
    pumpEvents();
    if (!button->isEnabled())
        bench::fail(button->objectName().toStdString() + " is not enabled");

    // The window's thread waits for the end as it would for a user: in its event loop, which
    // also runs the progress timer and the redraws.
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&form, &Form1::passFinished, &loop, [&] {
        phases.finished = bench::wallMs();
        finished = true;
        loop.quit();
    });
    QTimer patience;
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
    QAbstractItemModel *model = file1->model();
    const QMetaObject::Connection listing = QObject::connect(
        model, &QAbstractItemModel::modelAboutToBeReset, [&] { phases.listing = bench::wallMs(); });
    const QMetaObject::Connection listed = QObject::connect(
        model, &QAbstractItemModel::modelReset, [&] { phases.listed = bench::wallMs(); });
    EndWatch endWatch;
    form.installEventFilter(&endWatch);

    const double wall0 = bench::wallMs();
    const double process0 = bench::processCpuMs();
    const double thread0 = bench::threadCpuMs();
    const bench::Stopwatch watch;
    button->click();
    phases.clicked = bench::wallMs();
    endWatch.armed = true;
    if (!finished) {
        patience.start(patienceMs(n));
        loop.exec();
    }
    const double ms = watch.elapsedMs();
    const double windowCpu = bench::threadCpuMs() - thread0;
    phases.workerCpu = bench::processCpuMs() - process0 - windowCpu;
    phases.windowCpu = windowCpu;

    form.removeEventFilter(&endWatch);
    QObject::disconnect(listing);
    QObject::disconnect(listed);
    if (!finished)
        bench::fail("the window did not finish its pass within " +
                    std::to_string(patienceMs(n) / 1000) + " s of the click");
    phases.heard = endWatch.heard;
    for (double *moment :
         {&phases.clicked, &phases.heard, &phases.listing, &phases.listed, &phases.finished})
        *moment = *moment > 0 ? *moment - wall0 : 0;

    // The pass must have run to its end: every file renamed, the list re-read, 100% shown, the
    // bar at its end.
    const int count = file1->listCount();
    if (static_cast<std::size_t>(count) != n)
        bench::fail("after the pass File1 lists " + std::to_string(count) + " files");
    for (int i = 0; i < count; ++i) {
        const bool prefixed = korvalo::hasOrderPrefix(file1->list(i).native());
        if (prefixed != (pass == Pass::Shuffle))
            bench::fail("the pass left " + file1->list(i).string());
    }
    if (label5->text() != QStringLiteral("100%"))
        bench::fail("Label5 reads " + label5->text().toStdString() + " after the pass");
    if (progressBar1->value() != progressBar1->maximum())
        bench::fail("ProgressBar1 stands at " + std::to_string(progressBar1->value()) + " of " +
                    std::to_string(progressBar1->maximum()));
    if (form.passRunning())
        bench::fail("the window still holds its pass as running after passFinished");
    return ms;
}

// "12.3 (10.1..15.7)": the median and the extremes.
std::string spread(const std::vector<double> &values)
{
    double low = values.front();
    double high = values.front();
    for (const double v : values) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f (%.2f..%.2f)", bench::median(values), low, high);
    return text;
}

// The window passes' breakdown, medians by the wall clock, and the spread of the three figures.
void printBreakdown(const char *what, std::size_t n, const std::vector<Phases> &phases,
                    const std::vector<double> &window, const std::vector<double> &core,
                    const std::vector<double> &bare)
{
    std::vector<double> click, worker, join, list, tail, total, windowCpu, workerCpu;
    for (const Phases &p : phases) {
        click.push_back(p.clicked);
        worker.push_back(p.heard - p.clicked);
        join.push_back(p.listing - p.heard);
        list.push_back(p.listed - p.listing);
        tail.push_back(p.finished - p.listed);
        total.push_back(p.finished);
        windowCpu.push_back(p.windowCpu);
        workerCpu.push_back(p.workerCpu);
    }
    using bench::median;
    std::printf("  %s N=%zu, wall clock: click (plan, start) %.2f ms, worker until heard %.2f ms, "
                "wait and buttons %.2f ms, File1's new list %.2f ms, to passFinished %.2f ms, "
                "in all %.2f ms; CPU: window thread %.2f ms, others %.2f ms\n",
                what, n, median(click), median(worker), median(join), median(list), median(tail),
                median(total), median(windowCpu), median(workerCpu));
    std::printf("  %s N=%zu, %s, median (min..max): window %s, core with journal %s, bare %s\n",
                what, n, bench::clockName(), spread(window).c_str(), spread(core).c_str(),
                spread(bare).c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const int reps = bench::repetitions();
    std::printf("# passes through the window (offscreen) and through the core with its journal vs "
                "bare renameat2 loop, at least %d repetitions, medians of %s, on %s\n",
                reps, bench::clockName(), bench::describeFileSystem(bench::scratchBase()).c_str());

    // The window starts in an empty folder, as if started there.
    bench::ScratchFolder start("start");
    std::filesystem::current_path(start.path());
    // The window keeps its journal in the state folder; not the user's.
    bench::ScratchFolder state("state");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(state.path().native()));
    const std::filesystem::path windowJournal = korvalo::stateFolder();
    Form1 form;
    bench::failOnMessageBox(form);
    form.show();
    pumpEvents();
    // A modal box shown some other way would block the window's thread in its own event loop,
    // where this timer finds it.
    QTimer modalWatch;
    QObject::connect(&modalWatch, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            bench::fail("a modal window appeared: " + modal->windowTitle().toStdString());
    });
    modalWatch.start(250);

    bool allPass = true;
    for (const std::size_t n : bench::sizes({1000, 10000, 100000})) {
        const std::vector<std::string> plain = bench::musicNames(n);
        const std::vector<std::string> prefixed = bench::withPrefixes(plain);
        // The targets bind at 10,000 files and more; smaller folders show the trend.
        const bool binding = n >= 10000;
        for (const Pass pass : {Pass::Shuffle, Pass::Removal}) {
            const bool shuffle = pass == Pass::Shuffle;
            const std::vector<std::string> &names = shuffle ? plain : prefixed;
            std::vector<double> window;
            std::vector<double> core;
            std::vector<double> bare;
            std::vector<Phases> phases;
            for (int rep = 0; rep < bench::repetitions(n); ++rep) {
                bench::ScratchFolder a("window");
                bench::ScratchFolder b("bare");
                bench::ScratchFolder c("core");
                bench::ScratchFolder coreState("state");
                // The three take turns at going first; their files are made in the same order,
                // so that none has the freshest (or the stalest) files every time.
                for (int turn = 0; turn < 3; ++turn) {
                    const int side = (rep + turn) % 3;
                    bench::createFiles(side == 0   ? a.path()
                                       : side == 1 ? b.path()
                                                   : c.path(),
                                       names);
                }
                for (int turn = 0; turn < 3; ++turn) {
                    switch ((rep + turn) % 3) {
                    case 0:
                        phases.emplace_back();
                        window.push_back(windowPass(form, pass, a.path(), n, phases.back()));
                        break;
                    case 1:
                        bare.push_back(bench::bareRenameLoop(shuffle, b.path()));
                        break;
                    default:
                        core.push_back(bench::corePass(shuffle, c.path(), n, coreState.path()));
                        break;
                    }
                }
                // Leave the folder before it is removed. The window's journal forgets it, as
                // the core's, whose state folder goes with the repetition, starts empty too.
                bench::control<DirList>(form, "Dir1")->setPath(start.path());
                pumpEvents();
                if (std::filesystem::is_directory(windowJournal))
                    bench::emptyFolder(windowJournal);
            }
            allPass &=
                bench::reportRow(shuffle ? "3 shuffle pass (window)" : "3 removal pass (window)", n,
                                 window, bare, 1.45, binding);
            bench::reportRow(shuffle ? "3 shuffle pass (core, journal)"
                                     : "3 removal pass (core, journal)",
                             n, core, bare, 0, false);
            allPass &= bench::reportExcessRow(shuffle ? "3 shuffle window beyond core+journal"
                                                      : "3 removal window beyond core+journal",
                                              n, window, core, bare, 0.10, binding);
            printBreakdown(shuffle ? "window shuffle" : "window removal", n, phases, window, core,
                           bare);
        }
    }
    std::filesystem::current_path("/");
    return allPass ? 0 : 1;
}

// Both passes through the real window on the offscreen platform, as a user runs them: Dir1 is
// pointed at the folder (File1 and Label3 follow), then Command1 is clicked for the shuffle pass,
// or Option2 is chosen and Command2 clicked for the prefix removal pass. ProgressBar1, Label5 and
// the event pump run after every file, and the pass keeps its journal (in a state folder of the
// benchmark's own, on the same disk). The time of the click, which holds the whole pass, is set
// against a bare loop of renameat2(RENAME_NOREPLACE) over the same names in the same order.

#include "benchutil.h"
#include "benchwindow.h"
#include "renameloop.h"

#include "window/dirlist.h"
#include "window/filelist.h"
#include "window/form1.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

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

double windowPass(Form1 &form, Pass pass, const std::filesystem::path &folder, std::size_t n)
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

    const bench::Stopwatch watch;
    button->click();
    const double ms = watch.elapsedMs();

    // The pass must have run to its end: every file renamed, the list re-read, 100% shown.
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
    if (n > 1 && progressBar1->value() != static_cast<int>(n) - 1)
        bench::fail("ProgressBar1 stands at " + std::to_string(progressBar1->value()));
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const int reps = bench::repetitions();
    std::printf(
        "# passes through the window (offscreen) vs bare renameat2 loop, at least %d repetitions, "
        "medians of %s, on %s\n",
        reps, bench::clockName(), bench::describeFileSystem(bench::scratchBase()).c_str());

    // The window starts in an empty folder, as if started there.
    bench::ScratchFolder start("start");
    std::filesystem::current_path(start.path());
    // The window keeps its journal in the state folder; not the user's.
    bench::ScratchFolder state("state");
    qputenv("XDG_STATE_HOME", QByteArray::fromStdString(state.path().native()));
    Form1 form;
    bench::failOnMessageBox(form);
    form.show();
    pumpEvents();
    // A modal box shown some other way would block inside the click; it runs its own event loop,
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
        for (const Pass pass : {Pass::Shuffle, Pass::Removal}) {
            const std::vector<std::string> &names = pass == Pass::Shuffle ? plain : prefixed;
            std::vector<double> korvalo;
            std::vector<double> baseline;
            for (int rep = 0; rep < bench::repetitions(n); ++rep) {
                bench::ScratchFolder a("window");
                bench::ScratchFolder b("bare");
                bench::createFiles(a.path(), names);
                bench::createFiles(b.path(), names);
                const auto bare = [&] {
                    baseline.push_back(bench::bareRenameLoop(pass == Pass::Shuffle, b.path()));
                };
                if (rep % 2 == 0) {
                    korvalo.push_back(windowPass(form, pass, a.path(), n));
                    bare();
                } else {
                    bare();
                    korvalo.push_back(windowPass(form, pass, a.path(), n));
                }
                // Leave the folder before it is removed.
                bench::control<DirList>(form, "Dir1")->setPath(start.path());
                pumpEvents();
            }
            // The target binds at 10,000 files and more; smaller folders show the trend.
            allPass &= bench::reportRow(pass == Pass::Shuffle ? "3 shuffle pass (window)"
                                                              : "3 removal pass (window)",
                                        n, korvalo, baseline, 2.0, n >= 10000);
        }
    }
    std::filesystem::current_path("/");
    return allPass ? 0 : 1;
}

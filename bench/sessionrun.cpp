#include "sessionrun.h"
#include "benchutil.h"

#include "session/foldersession.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <sys/vfs.h>
#include <unistd.h>

namespace bench {

namespace {

using korvalo::PassKind;
using korvalo::RecoveryChoice;
using korvalo::session::FolderSession;
using korvalo::session::FolderState;
using korvalo::session::Front;
using korvalo::session::Report;

// No question is expected: a fresh folder of plain names asks nothing before a shuffle.
class NoQuestions : public korvalo::session::Asker
{
public:
    korvalo::session::Answer ask(const korvalo::session::Question &question) override
    {
        fail("the session asked a question: " + question.text);
    }
};

std::string describe(const Report &report)
{
    std::string out = "outcome " + std::to_string(static_cast<int>(report.outcome)) + ", renamed " +
                      std::to_string(report.renamed);
    for (const std::string &problem : report.problems)
        out += "; " + problem;
    return out;
}

} // namespace

SessionTimes sessionShuffle(const std::filesystem::path &folder, std::size_t n)
{
    SessionTimes t;
    NoQuestions asker;
    const Stopwatch opening;
    FolderSession session(Front::Terminal);
    const FolderState &state = session.open(folder);
    t.open = opening.elapsedMs();
    if (state.kind != FolderState::Kind::Plain || static_cast<std::size_t>(state.songs) != n)
        fail("the session found " + std::to_string(state.songs) + " songs in " + folder.string() +
             " (state " + std::to_string(static_cast<int>(state.kind)) + "), expected " +
             std::to_string(n) + " plain names");
    const Stopwatch planning;
    const korvalo::session::Plan plan = session.planPass(PassKind::Shuffle, asker);
    t.plan = planning.elapsedMs();
    const Stopwatch running;
    session.start(plan);
    const Report report = session.wait();
    t.run = running.elapsedMs();
    t.ordered = session.progress().ordering;
    if (report.outcome != Report::Outcome::Done || static_cast<std::size_t>(report.renamed) != n ||
        !report.problems.empty())
        fail("the session's shuffle in " + folder.string() +
             " did not rename every file: " + describe(report));
    return t;
}

void stopShuffleAfter(const std::filesystem::path &folder, std::size_t n, std::size_t stopAfter)
{
    NoQuestions asker;
    FolderSession session(Front::Terminal);
    if (static_cast<std::size_t>(session.open(folder).songs) != n)
        fail("the session does not list " + std::to_string(n) + " songs in " + folder.string());
    std::size_t handled = 0;
    // Asked after every file: true stops the pass after the file in hand, as Ctrl-C or closing
    // the window does.
    session.setStopCheck([&] { return ++handled >= stopAfter; });
    session.start(session.planPass(PassKind::Shuffle, asker));
    const Report report = session.wait();
    if (report.outcome != Report::Outcome::Stopped ||
        static_cast<std::size_t>(report.renamed) != stopAfter)
        fail("the shuffle in " + folder.string() + " did not stop after " +
             std::to_string(stopAfter) + " files: " + describe(report));
}

SessionTimes sessionFinish(const std::filesystem::path &folder, std::size_t left)
{
    SessionTimes t;
    const Stopwatch opening;
    FolderSession session(Front::Terminal);
    const FolderState &state = session.open(folder);
    t.open = opening.elapsedMs();
    if (state.kind != FolderState::Kind::Pending || state.pending.plan.finish.size() != left)
        fail("opening " + folder.string() + " did not find a pass with " + std::to_string(left) +
             " files to finish (state " + std::to_string(static_cast<int>(state.kind)) + ", " +
             std::to_string(state.pending.plan.finish.size()) + " to finish)");
    const Stopwatch planning;
    const korvalo::session::Plan plan = session.planRecovery(RecoveryChoice::Finish);
    t.plan = planning.elapsedMs();
    const Stopwatch running;
    session.start(plan);
    const Report report = session.wait();
    t.run = running.elapsedMs();
    t.ordered = session.progress().ordering;
    if (report.outcome != Report::Outcome::Done ||
        static_cast<std::size_t>(report.renamed) != left || !report.problems.empty() ||
        session.state().kind != FolderState::Kind::Prefixed)
        fail("finishing the pass in " + folder.string() +
             " did not rename every file left: " + describe(report));
    return t;
}

std::filesystem::path localBase()
{
    constexpr long kTmpfsMagic = 0x01021994;
    struct statfs fs;
    if (::statfs("/dev/shm", &fs) == 0 && static_cast<long>(fs.f_type) == kTmpfsMagic &&
        ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

bool recoveryRow(const std::string &figure, std::size_t n, int reps, double target, bool binding)
{
    const std::vector<std::string> names = musicNames(n);
    const std::size_t half = n / 2;
    std::vector<SessionTimes> passes;
    std::vector<SessionTimes> finishes;
    for (int rep = 0; rep < reps; ++rep) {
        // The journal of both, in a state folder of their own (not the user's, not the stick).
        ScratchFolder state("state", localBase());
        ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
        ScratchFolder whole("pass");
        ScratchFolder stopped("stopped");
        createFiles(whole.path(), names);
        createFiles(stopped.path(), names);
        stopShuffleAfter(stopped.path(), n, half);
        // The two take turns at going first.
        for (int turn = 0; turn < 2; ++turn) {
            if ((rep + turn) % 2 == 0)
                passes.push_back(sessionShuffle(whole.path(), n));
            else
                finishes.push_back(sessionFinish(stopped.path(), n - half));
        }
        if (finishes.back().ordered != passes.back().ordered)
            fail("the recovery stored the files in order where the pass did not, or the other "
                 "way round");
    }

    std::vector<double> pass, finish, ratios;
    std::vector<double> passOpen, passPlan, passRun, finishOpen, finishPlan, finishRun;
    for (std::size_t k = 0; k < passes.size(); ++k) {
        pass.push_back(passes[k].total());
        finish.push_back(finishes[k].total());
        ratios.push_back(finish.back() / pass.back());
        passOpen.push_back(passes[k].open);
        passPlan.push_back(passes[k].plan);
        passRun.push_back(passes[k].run);
        finishOpen.push_back(finishes[k].open);
        finishPlan.push_back(finishes[k].plan);
        finishRun.push_back(finishes[k].run);
    }
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("# %s: %zu files, %zu left to finish%s; ratio per repetition %.2fx to %.2fx\n",
                figure.c_str(), n, n - half, passes.front().ordered ? ", then stored in order" : "",
                *low, *high);
    std::printf("#   pass:   open %8.2f  plan %8.2f  run %8.2f ms (medians)\n", median(passOpen),
                median(passPlan), median(passRun));
    std::printf("#   finish: open %8.2f  plan %8.2f  run %8.2f ms (medians)\n", median(finishOpen),
                median(finishPlan), median(finishRun));
    return reportRow(figure, n, finish, pass, target, binding);
}

} // namespace bench

#include "session/windowcontroller.h"

#include "browse/folderpath.h"
#include "session/texts.h"
#include "session/unfinished.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace korvalo::session {

namespace fs = std::filesystem;
using Outcome = Report::Outcome;
using Kind = FolderState::Kind;

class WindowController::BoxAsker : public Asker
{
public:
    explicit BoxAsker(WindowController &controller) : m_controller(controller) {}
    Answer ask(const Question &question) override { return m_controller.ask(question); }

private:
    WindowController &m_controller;
};

WindowController::WindowController(WindowHooks &hooks, StoredOrderRule storedOrder,
                                   RenameSystem &renameCalls)
    : m_hooks(hooks), m_session(texts::Front::Window, storedOrder, renameCalls)
{
    // After every file: the close question holds the plan here until it is answered, and its
    // answer or the session's end stops it there.
    m_session.setStopCheck([this] { return afterFile(); });
}

WindowController::~WindowController()
{
    pause(false);
}

void WindowController::showStartFolder(const std::vector<fs::path> &candidates)
{
    for (const fs::path &candidate : candidates) {
        const fs::path folder = normalFolder(candidate);
        m_hooks.showDriveOf(folder);
        if (!m_hooks.showFolder(folder).ok())
            continue;
        m_folder = folder;
        if (!openFolder(folder))
            return;
    }
    // Nothing could be read: the last one is shown as it is, and says why on a click.
    if (candidates.empty())
        return;
    m_folder = normalFolder(candidates.back());
    m_hooks.restoreFolder(m_folder);
    m_session.open(m_folder);
    showOpened();
}

void WindowController::offerStartUp()
{
    // The folder shown asks about its own pass first; the others wait for the next start.
    const bool asked = m_session.state().question.has_value();
    offerOpening();
    if (asked || m_running || m_sessionEnding) {
        m_startUpDone = true;
        return;
    }
    m_startUpScan = std::make_unique<StartUpScan>([this](std::vector<UnfinishedPass> passes) {
        {
            const std::lock_guard<std::mutex> hold(m_scanMutex);
            m_scanned = std::move(passes);
        }
        m_hooks.wake();
    });
}

void WindowController::offerUnfinished(const std::vector<UnfinishedPass> &passes)
{
    m_startUpDone = true;
    // The user went on meanwhile: the folders are offered as they are opened.
    if (m_running || m_asking || m_sessionEnding)
        return;
    const std::optional<StartUpOffer> offer = startUpOffer(passes, m_folder);
    if (!offer)
        return;
    const Answer answer = ask(offer->question);
    const OpenFolder *open = std::get_if<OpenFolder>(&answer);
    if (!open || open->index >= offer->folders.size())
        return;
    // The folder opens as the user would open it: its own question follows.
    openChosen(offer->folders[open->index]);
}

void WindowController::openChosen(const fs::path &chosen)
{
    const fs::path folder = normalFolder(chosen);
    if (const ListError err = m_hooks.showFolder(folder); !err.ok()) {
        m_hooks.showDriveOf(m_folder);
        m_hooks.tell(folderFailureNotice(chosen, err, texts::Front::Window));
        return;
    }
    folderShown(folder);
}

void WindowController::folderShown(const fs::path &folder)
{
    const std::optional<Notice> problem = openFolder(normalFolder(folder));
    m_hooks.showDriveOf(m_folder);
    if (problem)
        m_hooks.tell(*problem);
    else
        offerOpening();
}

void WindowController::folderFailed(const fs::path &folder, const ListError &error)
{
    m_hooks.tell(folderFailureNotice(folder, error, texts::Front::Window));
}

void WindowController::driveChosen(const fs::path &drive)
{
    openChosen(drive);
}

std::optional<Notice> WindowController::openFolder(const fs::path &folder)
{
    m_folder = folder;
    const FolderState &state = m_session.open(folder);
    if (state.kind == Kind::Unreadable && !m_shown.empty() && m_shown != folder) {
        std::optional<Notice> problem = openingNotice(state);
        // The passes work on the folder File1 shows: Dir1 and the session go back to it.
        m_folder = m_shown;
        m_hooks.restoreFolder(m_shown);
        m_session.open(m_shown);
        showOpened();
        return problem;
    }
    m_shown = folder;
    showOpened();
    if (state.kind == Kind::Unreadable)
        return openingNotice(state);
    return std::nullopt;
}

void WindowController::showOpened()
{
    const FolderState &state = m_session.state();
    m_hooks.showSongs(m_session.list());
    m_hooks.showCount(texts::songCount(state.kind == Kind::Unreadable ? 0 : state.songs));
    showFit(modeFor(state));
}

void WindowController::showFit(std::optional<Mode> mode)
{
    if (m_session.state().kind == Kind::Unreadable) {
        // Gone or unreadable: nothing to run; a click on an option says why.
        PassButtons off = buttonsFor(m_mode);
        off.command1 = off.command2 = false;
        m_hooks.showButtons(off);
        return;
    }
    if (mode) {
        m_mode = *mode;
        m_hooks.showOption(*mode);
    }
    m_hooks.showButtons(buttonsFor(m_mode));
}

void WindowController::offerOpening()
{
    if (m_running)
        return;
    const FolderState &state = m_session.state();
    if (state.question)
        run(m_session.answerOpening(ask(*state.question)));
    else if (state.kind != Kind::Unreadable)
        if (const std::optional<Notice> problem = openingNotice(state))
            m_hooks.tell(*problem);
}

void WindowController::optionChosen(Mode mode)
{
    m_mode = mode;
    if (m_session.state().kind == Kind::Unreadable) {
        showFit(mode);
        if (const std::optional<Notice> why = openingNotice(m_session.state()))
            m_hooks.tell(*why);
        return;
    }
    m_hooks.showButtons(buttonsFor(mode));
}

void WindowController::passClicked(PassKind kind)
{
    if (m_running)
        return;
    BoxAsker asker(*this);
    run(m_session.planPass(kind, asker));
}

void WindowController::run(const Plan &plan)
{
    if (!plan.runnable()) {
        // The folder may have gone away since it was opened: the list shows that it did.
        if (m_session.state().kind == Kind::Unreadable)
            showOpened();
        showReport(plan.report);
        return;
    }
    m_action = plan.action;
    m_choice = plan.choice;
    m_running = true;
    m_closeAfterPass = false;
    m_stoppedWhileOrdering = false;
    m_stop = false;
    m_hooks.holdInput(true);
    // Called on the worker's thread: the window hears of it on its own.
    m_session.start(plan, [this] { m_hooks.wake(); });
}

bool WindowController::planFinished()
{
    std::optional<std::vector<UnfinishedPass>> scanned;
    {
        const std::lock_guard<std::mutex> hold(m_scanMutex);
        scanned.swap(m_scanned);
    }
    if (scanned)
        offerUnfinished(*scanned);
    if (!m_running || m_session.running())
        return false; // nothing ran, or not ended yet
    if (m_asking) {
        // The end waits for the open box's answer: it may be to close the window.
        m_finishWaiting = true;
        return false;
    }
    const Report report = m_session.wait();
    m_running = false;
    m_hooks.holdInput(false);

    const FolderState &state = m_session.state();
    const bool pass = m_action == Plan::Action::Shuffle || m_action == Plan::Action::Replace ||
                      m_action == Plan::Action::Removal;
    const bool completed = pass && report.outcome == Outcome::Done && !report.emptyList;
    // Where the files are now, when the plan moved them to another folder.
    const fs::path now = m_session.list().folder();
    const bool moved =
        !pass && !now.empty() && now != m_shown && report.outcome != Outcome::Refused;
    m_hooks.showSongs(m_session.list());
    if (completed)
        m_hooks.showCount(texts::songCountAfterPass(report.kind, report.total, report.renamed));
    else if (m_action == Plan::Action::Recovery && report.outcome == Outcome::Done)
        m_hooks.showCount(texts::songCountAfterRecovery(report.kind, m_choice, state.songs));
    else
        m_hooks.showCount(texts::songCount(state.kind == Kind::Unreadable ? 0 : state.songs));
    if (!pass && !moved) {
        // Files came back, or a record was set aside: the folder is shown as it is now,
        // subfolders included.
        m_hooks.showFolder(m_folder);
    }
    // The option that fits the folder as it is now, as on opening.
    showFit(modeAfter(report, pass, state));

    // A plan stopped because the window closes ends with the window; what went wrong is told
    // even then, so the user learns which file was not renamed. So is a stop while the files were
    // stored in order: nothing is offered when the folder is opened next, so the box says how to
    // have the order arranged.
    // Where a damaged record went is told even though successes pass silently.
    const bool tellDone =
        (m_action == Plan::Action::LeaveRecord && report.outcome == Outcome::Done) || report.remade;
    // The desktop session ending waits for no box.
    if (!m_sessionEnding &&
        !(m_closeAfterPass && report.outcome == Outcome::Stopped && !m_stoppedWhileOrdering))
        showReport(report, tellDone);
    if (m_closeAfterPass) {
        m_hooks.closeWindow();
        return true;
    }
    if (moved) {
        // Where the files are now; it opens as usual.
        const fs::path folder = normalFolder(now);
        if (m_hooks.showFolder(folder).ok())
            folderShown(folder);
    }
    return true;
}

void WindowController::showReport(const Report &report, bool tellDone)
{
    // A success is seen in the list, the buttons and the song count; the user's own "no" needs no
    // answer.
    for (const Notice &notice : noticesOf(report, m_session.state(), tellDone))
        m_hooks.tell(notice);
}

bool WindowController::closeAsked()
{
    if (!m_running)
        return true;
    if (m_closeAfterPass)
        return false;
    // Each rename is whole: the plan waits after the file in hand while the user decides, and
    // "stop" stops it there; the window closes at its end. The journal keeps what was done, so
    // the next opening of the folder offers to put it right. While the files are stored in order,
    // no further file goes out and those out come back first.
    pause(true);
    if (ask(texts::closeDuringPassQuestion(m_session.progress().ordering)) ==
        Answer(CloseAnswer::Stop)) {
        m_closeAfterPass = true;
        m_stoppedWhileOrdering = m_session.progress().ordering;
        m_stop = true;
    }
    pause(false);
    return false;
}

bool WindowController::sessionEnds(bool waitForPlan)
{
    m_sessionEnding = true;
    if (!m_running || closeDuringPlan(true) != CloseDuringPlan::StopThenClose)
        return true;
    m_closeAfterPass = true;
    m_stoppedWhileOrdering = m_session.progress().ordering;
    m_stop = true;
    // A close question left open goes on no longer holding the plan.
    pause(false);
    if (waitForPlan) {
        while (m_session.running())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false; // its end, on the window's thread, closes the window
}

Answer WindowController::ask(const Question &question)
{
    // The end of a plan that comes while the box is open waits for the answer: the answer may be
    // to close the window, which that end then does.
    m_asking = true;
    const Answer answer = m_hooks.ask(question);
    m_asking = false;
    if (m_finishWaiting) {
        m_finishWaiting = false;
        m_hooks.wake();
    }
    return answer;
}

bool WindowController::afterFile()
{
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_resume.wait(lock, [this] { return !m_paused; });
    return m_stop.load();
}

void WindowController::pause(bool on)
{
    {
        const std::lock_guard<std::mutex> hold(m_pauseMutex);
        m_paused = on;
    }
    m_resume.notify_all();
}

std::vector<fs::path> folderChain(const fs::path &folder, const fs::path &root)
{
    const fs::path top = root.empty() || !isInside(folder, root) ? folder.root_path() : root;
    std::vector<fs::path> chain;
    for (fs::path p = folder;; p = p.parent_path()) {
        chain.push_back(p);
        if (p == top || p == p.parent_path() || !p.has_relative_path())
            break;
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

std::vector<Volume> drivesToList(std::vector<Volume> mounted, const fs::path &keep)
{
    if (!keep.empty() && std::none_of(mounted.begin(), mounted.end(), [&](const Volume &v) {
            return pathFromUtf8(v.mountPoint) == keep;
        }))
        mounted.push_back({utf8Text(keep), "", ""});
    return mounted;
}

} // namespace korvalo::session

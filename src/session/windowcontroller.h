#pragma once

// The window's whole sequence, once for every window front end: the start folder and what it
// offers at start-up, a folder or a drive chosen, an option chosen, a pass clicked, a plan run on
// the session's worker and its end, the window closed during a plan, and what the option, the
// buttons and the song count show after each. A window implements WindowHooks (it draws and asks)
// and hands its events to the controller; it decides nothing of its own.

#include "browse/listerror.h"
#include "browse/musicfilelist.h"
#include "browse/utf8path.h"
#include "browse/volumes.h"
#include "session/foldersession.h"
#include "session/question.h"
#include "session/unfinished.h"
#include "session/windowview.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace korvalo::session {

// What a window draws and asks for the controller. Every call comes on the window's thread but
// wake(), which comes on the session's worker.
class WindowHooks
{
public:
    virtual ~WindowHooks() = default;
    // File1 shows the songs; Label3 reads `count` (empty: nothing).
    virtual void showSongs(const MusicFileList &songs) = 0;
    virtual void showCount(const std::string &count) = 0;
    // The option selected, as if clicked, and the pass buttons.
    virtual void showOption(Mode mode) = 0;
    virtual void showButtons(const PassButtons &buttons) = 0;
    // Dir1 shows the folder (its chain and its subfolders) without raising its change; an error
    // leaves it as it was.
    virtual ListError showFolder(const std::filesystem::path &folder) = 0;
    // Dir1 shows the folder even when its subfolders cannot be read.
    virtual void restoreFolder(const std::filesystem::path &folder) = 0;
    // Drive1 shows the drive `folder` is on.
    virtual void showDriveOf(const std::filesystem::path &folder) = 0;
    // Input is held while a plan runs: the controls that choose and start are off, and the
    // progress is drawn (progress()) until input is given back, once more at the end.
    virtual void holdInput(bool hold) = 0;
    virtual void tell(const Notice &notice) = 0;
    // Asks in a box owned by the window and waits; the window's events go on meanwhile.
    virtual Answer ask(const Question &question) = 0;
    // On the worker's thread: planFinished() is to be called on the window's thread.
    virtual void wake() = 0;
    // The window goes away.
    virtual void closeWindow() = 0;
};

class WindowController
{
public:
    // `storedOrder` and `renameCalls`: as the folder session takes them.
    explicit WindowController(WindowHooks &hooks,
                              StoredOrderRule storedOrder = StoredOrderRule::FatAndExfat,
                              RenameSystem &renameCalls = systemRenameCalls());
    // A plan still running is stopped after the file in hand and waited for.
    ~WindowController();
    WindowController(const WindowController &) = delete;
    WindowController &operator=(const WindowController &) = delete;

    // The folder the window starts in: the first of `candidates` that can be read, shown with its
    // drive, its songs, their count and the option that fits it. Nothing is asked yet.
    void showStartFolder(const std::vector<std::filesystem::path> &candidates);
    // Once the window is up: what the folder shown asks, else the unfinished passes elsewhere.
    void offerStartUp();

    // Dir1 went to `folder` (the user opened it): it opens and offers what it asks.
    void folderShown(const std::filesystem::path &folder);
    // Dir1 could not open `folder`.
    void folderFailed(const std::filesystem::path &folder, const ListError &error);
    // Drive1 was set to `drive` by the user.
    void driveChosen(const std::filesystem::path &drive);
    // Option1 (FirstTime) or Option2 (AlreadyUsed) clicked.
    void optionChosen(Mode mode);
    // Command1 (Shuffle) or Command2 (Removal) clicked.
    void passClicked(PassKind kind);
    // After wake(), on the window's thread: true when the plan's end was shown (false when it
    // waits for an open box's answer, or nothing ran).
    bool planFinished();
    // The window is asked to close: true when it may close now. During a plan the user is asked
    // while the plan waits after the file in hand; "stop" closes the window at the plan's end.
    bool closeAsked();
    // The desktop session ends (SIGTERM, the session manager): a running plan stops after the file
    // in hand, or with every file back while the files are stored in order, unasked, and the
    // window closes once it has ended, showing no box: the record tells the next start what
    // happened. `waitForPlan`: returns only once the plan has ended (the session manager may end
    // the program when its request returns). True when the window may close now.
    bool sessionEnds(bool waitForPlan);
    // The start-up's look for unfinished passes elsewhere has ended (and its offer was made).
    bool startUpDone() const { return m_startUpDone; }

    bool running() const { return m_running; }
    Progress progress() const { return m_session.progress(); }
    // The folder Dir1 shows and the one File1 shows (the passes act on it).
    const std::filesystem::path &folder() const { return m_folder; }
    const std::filesystem::path &shownFolder() const { return m_shown; }

private:
    class BoxAsker;

    // Opens the folder Dir1 shows; a folder that cannot be read gives way to the one shown
    // before, and what went wrong is given back.
    std::optional<Notice> openFolder(const std::filesystem::path &folder);
    // Dir1 goes to a folder the window did not choose itself (a drive, the start-up offer).
    void openChosen(const std::filesystem::path &folder);
    // The opened folder's songs, their count and the option that fits it.
    void showOpened();
    void offerOpening();
    // The start-up's offer of the unfinished passes found elsewhere, once the scan has ended.
    void offerUnfinished(const std::vector<UnfinishedPass> &passes);
    // Selects the option (none: the one selected stays) and sets the buttons as it does; a folder
    // that cannot be read leaves no pass button on.
    void showFit(std::optional<Mode> mode);
    void run(const Plan &plan);
    void showReport(const Report &report, bool tellDone = false);
    Answer ask(const Question &question);
    // The worker's check after every file: waits while the close question is open, then tells
    // whether the plan is to stop.
    bool afterFile();
    void pause(bool on);

    WindowHooks &m_hooks;
    std::filesystem::path m_folder;                // Dir1's
    std::filesystem::path m_shown;                 // File1's
    Mode m_mode = Mode::FirstTime;                 // the option selected
    Plan::Action m_action = Plan::Action::Nothing; // the plan running, or the last one
    RecoveryChoice m_choice = RecoveryChoice::Leave;
    bool m_running = false;
    // The window was closed during the plan and waits for its end to close.
    bool m_closeAfterPass = false;
    // The stop came while the files were being stored in order.
    bool m_stoppedWhileOrdering = false;
    // A box is open: the end of a plan is handled once it has been answered.
    bool m_asking = false;
    bool m_finishWaiting = false;
    std::mutex m_pauseMutex;
    std::condition_variable m_resume;
    bool m_paused = false;
    // The plan stops after the file in hand: the close question's answer, or the session ends.
    std::atomic<bool> m_stop{false};
    bool m_sessionEnding = false;
    bool m_startUpDone = false;
    // What the start-up scan found, handed over from its thread.
    std::mutex m_scanMutex;
    std::optional<std::vector<UnfinishedPass>> m_scanned;
    // It ends (and waits for its worker) before what the worker uses.
    FolderSession m_session;
    // Looks for unfinished passes off the window's thread, so that a mount that does not answer
    // delays only the offer; ends first.
    std::unique_ptr<StartUpScan> m_startUpScan;
};

// The folders Dir1 shows above a folder: from `root` (the drive's, when the folder is on it; else
// the folder's own root) down to the folder itself.
std::vector<std::filesystem::path> folderChain(const std::filesystem::path &folder,
                                               const std::filesystem::path &root);
// The volumes Drive1 lists: those mounted, and the drive shown even when it went away, so that the
// list does not jump under the user. Empty `keep`: only those mounted.
std::vector<Volume> drivesToList(std::vector<Volume> mounted, const std::filesystem::path &keep);

} // namespace korvalo::session

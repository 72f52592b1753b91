#pragma once

// The life of one music folder as a user meets it, for every front end: opening it (what state it
// is in and what to offer), planning a pass (its refusals and questions, all before any rename),
// running a plan on a worker thread with progress and stop, and a report of what happened. Every
// decision and every text a user meets is made here; a front end shows the texts, asks the
// questions through its Asker and draws the progress. Nothing here knows a toolkit.

#include "browse/listerror.h"
#include "browse/musicfilelist.h"
#include "journal/journal.h"
#include "passes/folderrecovery.h"
#include "passes/passes.h"
#include "passes/recoveryplan.h"
#include "passes/volumeclaim.h"
#include "session/question.h"
#include "session/texts.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvalo::session {

using texts::Front;

// How a folder is opened.
enum class Opening
{
    Work,    // to work in it: an unfinished pass with nothing to ask is settled silently
    Look,    // the status: nothing is written
    ListOnly // its songs only: the journal is not read
};

// What opening a folder found, and what to offer.
struct FolderState
{
    enum class Kind
    {
        Plain,           // no name carries a Korvalo prefix
        Prefixed,        // names carry Korvalo's prefix
        Pending,         // an unfinished pass: `question` asks what to do
        Unconfirmed,     // an unfinished pass on a stick Korvalo cannot confirm as its own
        OrderingFolder,  // the folder files pass through to be stored in order
        Busy,            // another Korvalo holds the volume
        LockUnavailable, // no private lock can be taken for the volume
        Unreadable,      // the folder cannot be listed
        Damaged,         // the folder's record is damaged: `question` offers to leave it
        JournalFailed    // the folder's record cannot be read
    };
    Kind kind = Kind::Plain;
    std::filesystem::path folder;
    int songs = 0;
    PrefixCount prefixes;
    // The pass that fits the folder: a removal where Korvalo prefixes are present.
    PassKind fits = PassKind::Shuffle;
    // What to ask now that the folder is open (an unfinished pass, a damaged record, the ordering
    // folder); its answer goes to FolderSession::answerOpening().
    std::optional<Question> question;
    // The text of a state that is a problem (Busy, LockUnavailable, Unreadable, JournalFailed),
    // to be shown as it opens; empty otherwise.
    std::string problem;

    // The facts behind it.
    PendingRecovery pending;
    JournalError journalError;
    ListError listError;
};

// What happened, and what is next.
struct Report
{
    enum class Outcome
    {
        Done,      // everything asked for was done (a pass over an empty list included)
        Partial,   // some files could not be renamed; the others stand
        Stopped,   // stopped on request after the file in hand, or while the files were
                   // being stored in order (the names right, every file back in the folder)
        Refused,   // nothing was renamed: the volume is busy, the record, the driver, ...
        Cancelled, // the user's answer (or the safe answer, unasked) renamed nothing
        BadFolder  // the folder cannot be read
    };
    Outcome outcome = Outcome::Done;
    PassKind kind = PassKind::Shuffle; // the pass (or the pass a recovery was about)
    int renamed = 0;
    int total = 0;
    int kept = 0; // names whose own four digits a removal kept
    bool emptyList = false;
    // What was done, for a success (one line each).
    std::vector<std::string> done;
    // What went wrong or needs the user, each a whole message saying what to do next.
    std::vector<std::string> problems;
    // The pass was planned again under the volume's lock, the folder having changed: done's first
    // line says so, worth telling even where successes pass silently.
    bool remade = false;
    // With Outcome::Done: every name was made as asked, but what came after failed (the stored
    // order not arranged, the record not written). A failure all the same for a script.
    bool incomplete = false;
};

// What a plan will do, decided before any rename.
struct Plan
{
    enum class Action
    {
        Nothing,       // see `report`: refused, cancelled, or nothing to do
        Shuffle,       // the shuffle pass
        Replace,       // the shuffle's answer for names with a prefix: new digits in its place
        Removal,       // the prefix removal pass
        Recovery,      // the user's choice for an unfinished pass
        ReturnOrdered, // files back from the folder they passed through
        LeaveRecord    // a damaged record set aside
    };
    Action action = Action::Nothing;
    std::filesystem::path folder;
    // The renames, in order. A shuffle's prefixes are examples: they are drawn when it runs.
    std::vector<PlannedRename> renames;
    int kept = 0;         // removal: names whose own digits are kept
    bool again = false;   // shuffle: names with a prefix (Korvalo's or not) get a second one
    bool stripAll = true; // removal: every four leading digits go
    RecoveryChoice choice = RecoveryChoice::Leave;
    PendingRecovery pending;
    // What a progress display is headed with while it runs.
    std::string label;
    // With Action::Nothing: why nothing will run.
    Report report;

    // A pass's plan is checked against the folder under the volume's lock before its first
    // rename (start()), and made again there when the folder or its record changed: what it was
    // made from, the answers it was made with, and who answers a question that must be asked
    // again.
    std::uint64_t namesPrint = 0;  // the listed names, in the list's order
    std::uint64_t recordPrint = 0; // what the record knew of the folder
    struct Asked
    {
        Question::Kind kind = Question::Kind::ShuffleAgain;
        std::vector<FileName> about; // the names the question was about
        Answer answer;
    };
    std::vector<Asked> answers;
    Asker *asker = nullptr; // from planPass(); nobody is asked when it is nullptr
    // Made again under the lock: what changed, told with the report.
    std::string changed;
    // The volume, held from that check to the plan's end.
    std::shared_ptr<const VolumeClaim> claim;

    bool runnable() const { return action != Action::Nothing; }
};

// A running plan's progress, as the front end draws it.
struct Progress
{
    int done = 0;  // files handled
    int count = 0; // files to handle
    // On FAT and exFAT, after the renames: files moving out and back to be stored in order.
    bool ordering = false;
    // With `ordering`, after a stop: the files already out going back, `done` of `count`. No
    // stop is asked any more (see ProgressSink::ordering()).
    bool movingBack = false;
    bool running = false;
};

class FolderSession
{
public:
    // `storedOrder`: where passes and recoveries store the files in the list's order.
    // `renameCalls`: what the passes rename through.
    explicit FolderSession(Front front, StoredOrderRule storedOrder = StoredOrderRule::FatAndExfat,
                           RenameSystem &renameCalls = systemRenameCalls());
    // Stops a running plan after the file in hand and waits for it.
    ~FolderSession();
    FolderSession(const FolderSession &) = delete;
    FolderSession &operator=(const FolderSession &) = delete;

    // Opens a folder: lists its songs and, unless ListOnly, looks up its record.
    const FolderState &open(const std::filesystem::path &folder, Opening how = Opening::Work);
    const FolderState &state() const { return m_state; }
    // The songs as listed when the folder was opened (or re-read after a plan).
    const MusicFileList &list() const { return m_list; }

    // The plan for the answer to state().question (as the front end's Asker gave it); Later
    // gives a plan that does nothing.
    Plan answerOpening(const Answer &answer);
    // What a pass's plan lists besides its decisions.
    enum class Detail
    {
        Decisions, // refusals, questions and answers: what running it needs
        Renames    // and every rename, for a dry run (describe())
    };
    // Plans a pass over the listed songs: its refusals, then its questions through `asker`.
    Plan planPass(PassKind kind, Asker &asker, Detail detail = Detail::Decisions);
    // A plan for a recovery choice given beforehand (korvalo-cli recover --undo ...).
    Plan planRecovery(RecoveryChoice choice);
    // A dry run's text: the plan's renames and their count, one line each.
    std::string describe(const Plan &plan) const;
    // The folder's status as opened with Opening::Look: its counts and any unfinished pass in
    // `done`, a problem that stops a look in `problems`.
    Report status() const;

    // Runs the plan on the session's worker thread (started with the first plan and kept for the
    // next ones). A pass is first checked here, on the caller's thread: the volume's lock is
    // taken, the folder and its record are read again, and the plan is made again from them,
    // asking through the plan's Asker only the questions whose answers the change concerns; what
    // changed is told with its report, and a plan made again that renames nothing reports why.
    // `finished` (optional) is called on that thread when it has ended, so a front end can wake
    // up. One plan at a time: while it runs, the worker owns the list and the journal, and only
    // running(), progress() and wait() may be called.
    void start(Plan plan, std::function<void()> finished = {});
    bool running() const;
    Progress progress() const;
    // The one way a plan is stopped: a check the worker makes after every file and every move of
    // the files being stored in order. True stops the plan after the file in hand, or sends no
    // further file out and brings those out back (Progress::movingBack); the plan then stops
    // whatever the check says after. It runs on the worker thread and may wait there (the
    // window: while its close question is open); korvalo-cli's reads the flag its signal handler
    // sets. Set before start().
    void setStopCheck(std::function<bool()> check) { m_stopCheck = std::move(check); }
    // Waits for the running plan and gives its report. The list has been re-read (the folder the
    // files went to, after moving them back from the ordering folder). After a plan that was not a
    // completed pass the state is the folder's as it is now (an unfinished pass left by a stop, a
    // recovery done); after a completed pass only its prefixes are stale. Call once per start.
    Report wait();

private:
    // planPass() from the refusals of a Plain or Prefixed folder on, over the list as it is;
    // `earlier` is the plan being checked under the lock held in `claim`: its answers are kept
    // where the question is about the same names.
    Plan planListed(PassKind kind, Asker &asker, Detail detail, const Plan *earlier,
                    std::shared_ptr<const VolumeClaim> claim);
    // The check start() makes of a pass's plan.
    Plan checkedUnderLock(Plan plan);
    // An answer to `question` about `about`, recorded in `plan`: the earlier plan's answer to the
    // same question about the same names, else asked (see answerOf()).
    Answer answerFor(Plan &plan, const Plan *earlier, Asker &asker, Question question,
                     std::vector<FileName> about, bool *unasked = nullptr);
    // Where a running plan's progress and the checks for a stop go (ProgressSink).
    class ProgressHandOff;
    // A plan for moving files back from the ordering folder `state()` shows.
    Plan planReturn();
    // Reads the journal's view of the listed folder into m_state (open() after the listing).
    void assess(Opening how);
    // The worker thread: runs each plan handed over by start() until the session ends.
    void work();
    // Runs a plan and re-reads what it changed: the list, and the state after anything but a
    // completed pass.
    Report finish(Plan &plan);
    Report execute(const Plan &plan);
    Report passReport(PassKind kind, const PassResult &result, int total) const;
    // What the report says of the stored order after every name was made as asked: `namesOf`, the
    // pass whose names the folder now has.
    void storedOrderTold(Report &report, PassKind namesOf, const OrderingOutcome &order,
                         const std::filesystem::path &folder) const;
    // The opened folder is not where it was any more (the stick pulled out, the folder moved):
    // the list is emptied and the state says why, so every later click says it too.
    std::optional<Plan> goneAway(PassKind kind);

    Front m_front;
    FolderState m_state;
    MusicFileList m_list;
    // What the record knew of the folder when it was opened (assess()), until a plan runs.
    std::optional<std::uint64_t> m_openedRecord;
    // The volume the opened folder was on when it was opened.
    std::optional<std::uint64_t> m_device;
    std::unique_ptr<Journal> m_journal;
    StoredOrderRule m_storedOrder;
    RenameSystem &m_renameCalls;
    std::function<bool()> m_stopCheck;
    // The running plan stops: its check said so, or the session ends.
    std::atomic<bool> m_stop{false};
    // A new thread's first allocations fault in fresh pages; one worker kept for every plan
    // runs a pass as fast as the core does on its own.
    std::thread m_thread;
    mutable std::mutex m_mutex;      // guards what follows
    std::condition_variable m_wake;  // a plan was handed over, or the session ends
    std::condition_variable m_ended; // a plan has ended
    std::optional<Plan> m_job;
    std::function<void()> m_finished;
    bool m_quit = false;
    Progress m_progress;
    Report m_report;
};

} // namespace korvalo::session

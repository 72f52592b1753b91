#pragma once

#include "session/foldersession.h"
#include "session/question.h"
#include "session/unfinished.h"
#include "session/windowview.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DirList;
class DriveList;
class FileList;
class PassProgress;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

// The program's one window. Every control carries its name as its object name (Command1, Dir1,
// Label5, ...). The folder is chosen with Drive1 and Dir1; File1 shows its songs and Label3 counts
// them. Option1 and Option2 choose which pass button is enabled; Command1 runs the shuffle pass,
// Command2 the prefix removal pass over the folder Dir1 shows.
//
// What a folder offers, the questions before a pass, the pass itself and what is told afterwards
// are the folder session's: the window asks its questions in message boxes, runs its plans on the
// session's worker thread while it draws their progress, and shows their reports.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    // Shows a message box; tests replace it to record what would be shown.
    using MessageHook =
        std::function<void(QMessageBox::Icon icon, const QString &title, const QString &text)>;

    // Asks the session's question in a message box and gives the answer of the button chosen;
    // tests replace it to answer themselves.
    using QuestionHook = std::function<int(const korvalo::session::Question &question)>;

    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // True from the start of a plan (a pass, a recovery, files moved back) until its report has
    // been shown.
    bool passRunning() const { return m_running; }

    // The start-up's look for unfinished passes elsewhere has ended (and its offer was made).
    bool startUpDone() const { return m_startUpDone; }
    // The desktop session ends (SIGTERM, the session manager): a running plan stops after the
    // file in hand, or with every file back while the files are stored in order, unasked, and
    // the window closes once it has ended, showing no box. `waitForPlan`: returns only once the
    // plan has ended (the session manager may end the program when its request returns).
    void endWithSession(bool waitForPlan = false);

    void setMessageHook(MessageHook hook);
    void setQuestionHook(QuestionHook hook);

signals:
    // A plan has ended: its report is shown, the buttons and the list are set.
    void passFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    class BoxAsker;

    // The pass buttons' states before a plan, restored when it leaves them as they were.
    struct ButtonStates
    {
        bool command1 = false;
        bool command2 = false;
    };

    void buildControls();
    void showStartFolder();

    void onDrive1Change();
    void onDir1Change();
    void onDir1OpenFailed(const std::filesystem::path &path, korvalo::ListError error);
    void onOption1Click();
    void onOption2Click();
    void onCommand1Click();
    void onCommand2Click();

    // Opens the folder in the session and shows its songs, with the option that fits it. When it
    // cannot be read, Dir1 goes back to the folder File1 shows and the problem is given back.
    std::optional<korvalo::session::Notice> openFolder(const std::filesystem::path &folder);
    // Asks what the opened folder's state asks (an unfinished pass, a damaged record, files to
    // move back), or tells its problem; runs the answer.
    void offerOpening();
    // At start-up: what the folder shown asks, else the unfinished passes of other folders.
    void offerStartUp();
    void offerUnfinished(const std::vector<korvalo::session::UnfinishedPass> &passes);
    void startPass(korvalo::PassKind kind);
    // Runs the plan on the session's worker with input held off, or shows why nothing runs.
    void run(const korvalo::session::Plan &plan);
    void onPlanFinished();
    void showReport(const korvalo::session::Report &report);
    void holdInput(bool hold);
    void tell(const korvalo::session::Notice &notice);
    // Selects the option (none: leaves the options as they are) and sets the buttons as its click.
    void showMode(std::optional<korvalo::session::Mode> mode);
    void showButtons(korvalo::session::Mode mode);
    int ask(const korvalo::session::Question &question);

    DriveList *m_drive1 = nullptr;
    DirList *m_dir1 = nullptr;
    FileList *m_file1 = nullptr;
    QGroupBox *m_frame1 = nullptr;
    QGroupBox *m_frame2 = nullptr;
    QGroupBox *m_frame3 = nullptr;
    QRadioButton *m_option1 = nullptr;
    QRadioButton *m_option2 = nullptr;
    QPushButton *m_command1 = nullptr;
    QPushButton *m_command2 = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_label2 = nullptr;
    QLabel *m_label3 = nullptr;
    QLabel *m_label4 = nullptr;
    QLabel *m_label5 = nullptr;
    QProgressBar *m_progressBar1 = nullptr;

    MessageHook m_message;
    QuestionHook m_question;
    std::unique_ptr<korvalo::session::FolderSession> m_session;
    std::unique_ptr<BoxAsker> m_asker;
    std::unique_ptr<PassProgress> m_progress;
    QTimer m_progressTimer;
    ButtonStates m_before;
    bool m_running = false;
    // The window was closed during the plan and waits for its end to close.
    bool m_closeAfterPass = false;
    // A box is open: the end of a plan is handled once it has been answered.
    bool m_asking = false;
    bool m_finishWaiting = false;
    bool m_sessionEnding = false;
    bool m_startUpDone = false;
    std::unique_ptr<korvalo::session::StartUpScan> m_startUpScan;
};

#pragma once

#include "session/question.h"
#include "session/windowcontroller.h"

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
class Form1 : public QWidget, private korvalo::session::WindowHooks
{
    Q_OBJECT
public:
    // Shows a message box; tests replace it to record what would be shown.
    using MessageHook =
        std::function<void(QMessageBox::Icon icon, const QString &title, const QString &text)>;

    // Asks the session's question in a message box and gives the answer of the button chosen;
    // tests replace it to answer themselves.
    using QuestionHook =
        std::function<korvalo::session::Answer(const korvalo::session::Question &question)>;

    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // True from the start of a plan (a pass, a recovery, files moved back) until its report has
    // been shown.
    bool passRunning() const { return m_controller->running(); }

    // The start-up's look for unfinished passes elsewhere has ended (and its offer was made).
    bool startUpDone() const { return m_controller->startUpDone(); }
    // The desktop session ends (SIGTERM, the session manager): a running plan stops unasked and
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
    void buildControls();
    void onPlanFinished();

    // What the controller has the window draw and ask.
    void showSongs(const korvalo::MusicFileList &songs) override;
    void showCount(const std::string &count) override;
    void showOption(korvalo::session::Mode mode) override;
    void showButtons(const korvalo::session::PassButtons &buttons) override;
    korvalo::ListError showFolder(const std::filesystem::path &folder) override;
    void restoreFolder(const std::filesystem::path &folder) override;
    void showDriveOf(const std::filesystem::path &folder) override;
    void holdInput(bool hold) override;
    void tell(const korvalo::session::Notice &notice) override;
    korvalo::session::Answer ask(const korvalo::session::Question &question) override;
    void wake() override;
    void closeWindow() override;

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
    std::unique_ptr<PassProgress> m_progress;
    QTimer m_progressTimer;
    // The window closed at a plan's end, its end announced already.
    bool m_closedAtEnd = false;
    std::unique_ptr<korvalo::session::WindowController> m_controller;
};

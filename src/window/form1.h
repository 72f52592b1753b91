#pragma once

#include "passes/journal.h"
#include "passes/passes.h"
#include "passes/randomsource.h"
#include "window/question.h"

#include <QMessageBox>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

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
// Label5, ...). The folder is chosen with Drive1 and Dir1; File1 follows Dir1 and Label3 counts
// File1's songs. Option1 and Option2 choose which pass button is enabled; Command1 runs the
// shuffle pass, Command2 the prefix removal pass over the folder Dir1 shows. Both passes keep the
// pass journal in the user's state folder; opening a folder whose last pass did not finish offers
// to put it right.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    // Shows a message box; tests replace it to record what would be shown.
    using MessageHook =
        std::function<void(QMessageBox::Icon icon, const QString &title, const QString &text)>;

    // Asks a question in a message box and gives the answer of the button chosen; tests replace
    // it to answer themselves.
    using QuestionHook = std::function<int(const Question &question)>;

    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // True while a pass, or the recovery of an unfinished one, runs.
    bool passRunning() const;

    void setMessageHook(MessageHook hook);
    void setQuestionHook(QuestionHook hook);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class Pass
    {
        Shuffle,
        Removal
    };

    // Hands the passes Dir1's path, read afresh for every file.
    class Dir1Folder : public korvalo::FolderSource
    {
    public:
        explicit Dir1Folder(const DirList &dir) : m_dir(dir) {}
        std::filesystem::path folder() const override;

    private:
        const DirList &m_dir;
    };

    void buildControls();
    void showStartFolder();

    void onDrive1Change();
    void onDir1Change();
    void onDir1OpenFailed(const std::filesystem::path &path, korvalo::ListError error);
    void onFile1PathChange();
    void onOption1Click();
    void onOption2Click();
    void onCommand1Click();
    void onCommand2Click();

    // The pass buttons' states before a pass, restored when it does not complete.
    struct ButtonStates
    {
        bool command1 = false;
        bool command2 = false;
    };

    // A click on a pass button: runs the pass with input held off, then shows how it ended.
    void startPass(Pass pass);
    korvalo::PassResult runPass(Pass pass);
    void applyPassResult(Pass pass, const korvalo::PassResult &result, int total,
                         ButtonStates before);
    void holdInput(bool hold);
    void warn(const QString &text);
    int ask(const Question &question);
    // When the folder File1 shows has a pass that did not finish, asks what to do and does it.
    // False when there was nothing to ask about.
    bool offerRecovery();
    // The folder's record is damaged: asks whether to set it aside and take the folder as it is.
    void offerLeavingDamagedRecord(const korvalo::JournalError &error);
    // When File1 shows the folder the files of a pass pass through to be stored in order, offers
    // to move them back into the folder above and then shows that folder. False when it is not
    // such a folder.
    bool offerOrderedFilesReturn();

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
    std::unique_ptr<korvalo::Journal> m_journal;
    std::unique_ptr<korvalo::PassQuestions> m_answers;
    korvalo::ClockRandomSource m_random;
    std::unique_ptr<PassProgress> m_progress;
    // The fusefat mounts whose refusal was shown already (device number, mount point).
    std::set<std::pair<std::uint64_t, std::string>> m_warnedUnsafeMounts;
};

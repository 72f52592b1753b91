#include "window/form1.h"

#include "passes/folderrecovery.h"
#include "passes/ordering.h"

#include "session/layout.h"
#include "session/texts.h"
#include "window/dirlist.h"
#include "window/drivelist.h"
#include "window/filelist.h"
#include "window/messages.h"
#include "window/passprogress.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <system_error>

namespace {

// The window's measures come from the layout table, in twips, drawn for 96 dots per inch.
int px(int twips)
{
    return korvalo::layout::twipsToPixels(twips);
}

QString controlName(std::string_view name)
{
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

// Names the widget and sets it where the layout table puts it. A name missing from the table, or
// a parent other than the table's, is this program's own fault: it stops at once.
template <typename Widget> Widget *place(Widget *widget, const char *name)
{
    const korvalo::layout::ControlPlace *where = korvalo::layout::controlPlace(name);
    if (!where)
        qFatal("%s is not in the layout table", name);
    if (widget->parentWidget()->objectName() != controlName(where->parent))
        qFatal("%s sits in another parent than the layout table's", name);
    const korvalo::layout::TwipsRect &r = where->rect;
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(QRect(px(r.left), px(r.top), px(r.width), px(r.height)));
    return widget;
}

// A progress bar that shows no text works out none: QProgressBar formats its percentage for
// every new value, shown or not, and during a pass that happens once per file.
class QuietProgressBar : public QProgressBar
{
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return isTextVisible() ? QProgressBar::text() : QString(); }
};

// The passes' questions, asked in message boxes.
class BoxAnswers : public korvalo::PassQuestions
{
public:
    explicit BoxAnswers(const Form1::QuestionHook &ask) : m_ask(ask) {}

    DigitAnswer stripOtherDigits(const std::vector<korvalo::FileName> &others,
                                 int qualifying) override
    {
        return DigitAnswer(m_ask(messages::stripDigitsQuestion(others, qualifying)));
    }
    bool shuffleAgain(const std::vector<korvalo::FileName> &prefixed, int listed) override
    {
        return m_ask(messages::shuffleAgainQuestion(prefixed, listed)) == 1;
    }

private:
    const Form1::QuestionHook &m_ask;
};

// A caption from the text table.
QString caption(const char *text)
{
    return QString::fromUtf8(text);
}
using namespace korvalo::texts::caption;

const QString shuffleCaption = caption(kShuffle);
const QString shuffleAgainCaption = caption(kShuffleAgain);

} // namespace

std::filesystem::path Form1::Dir1Folder::folder() const
{
    return m_dir.path();
}

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(caption(kWindowTitle));
    const korvalo::layout::TwipsSize client = korvalo::layout::formClientSize();
    setFixedSize(px(client.width), px(client.height));

    m_message = [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
        QMessageBox box(icon, title, text, QMessageBox::Ok, this);
        box.button(QMessageBox::Ok)->setText(caption(kOk));
        box.exec();
    };
    m_question = [this](const Question &q) {
        QMessageBox box(q.icon, q.title, q.text, QMessageBox::NoButton, this);
        std::vector<std::pair<QAbstractButton *, int>> answers;
        for (const Question::Choice &choice : q.choices) {
            QPushButton *button = box.addButton(choice.caption, QMessageBox::ActionRole);
            answers.emplace_back(button, choice.answer);
            if (choice.answer == q.defaultAnswer)
                box.setDefaultButton(button);
            if (choice.answer == q.escapeAnswer)
                box.setEscapeButton(button);
        }
        box.exec();
        for (const auto &[button, answer] : answers)
            if (button == box.clickedButton())
                return answer;
        return q.escapeAnswer;
    };
    m_journal = std::make_unique<korvalo::Journal>();
    m_answers = std::make_unique<BoxAnswers>(m_question);

    buildControls();
    m_progress = std::make_unique<PassProgress>(*m_progressBar1, *m_label5);
    showStartFolder();

    connect(m_drive1, &DriveList::changed, this, &Form1::onDrive1Change);
    connect(m_dir1, &DirList::changed, this, &Form1::onDir1Change);
    connect(m_dir1, &DirList::openFailed, this, &Form1::onDir1OpenFailed);
    connect(m_file1, &FileList::pathChanged, this, &Form1::onFile1PathChange);
    connect(m_option1, &QRadioButton::clicked, this, &Form1::onOption1Click);
    connect(m_option2, &QRadioButton::clicked, this, &Form1::onOption2Click);
    connect(m_command1, &QPushButton::clicked, this, &Form1::onCommand1Click);
    connect(m_command2, &QPushButton::clicked, this, &Form1::onCommand2Click);
    // The folder shown at start-up may be one whose last pass did not finish: asked once the
    // window is up.
    QTimer::singleShot(0, this, [this] { offerRecovery(); });
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    // Created in tab index order, so the focus chain follows it.
    m_frame1 = place(new QGroupBox(caption(kFrame1), this), "Frame1");
    m_frame2 = place(new QGroupBox(caption(kFrame2), this), "Frame2");
    m_dir1 = place(new DirList(m_frame2), "Dir1");
    m_label1 = place(new QLabel(caption(kLabel1), m_frame2), "Label1");
    m_file1 = place(new FileList(m_frame2), "File1");
    m_label2 = place(new QLabel(caption(kLabel2), m_frame2), "Label2");
    m_command1 = place(new QPushButton(shuffleCaption, m_frame1), "Command1");
    m_drive1 = place(new DriveList(m_frame2), "Drive1");
    m_label3 = place(new QLabel(m_frame2), "Label3");
    m_command2 = place(new QPushButton(caption(kRemove), m_frame1), "Command2");
    m_frame3 = place(new QGroupBox(caption(kFrame3), this), "Frame3");
    m_progressBar1 = place<QProgressBar>(new QuietProgressBar(m_frame3), "ProgressBar1");
    m_label4 = place(new QLabel(caption(kLabel4), m_frame3), "Label4");
    m_label5 = place(new QLabel(QStringLiteral("0%"), m_frame3), "Label5");
    m_option1 = place(new QRadioButton(caption(kOption1), m_frame1), "Option1");
    m_option2 = place(new QRadioButton(caption(kOption2), m_frame1), "Option2");

    m_command2->setEnabled(false);
    m_progressBar1->setRange(0, 100);
    m_progressBar1->setValue(0);
    m_progressBar1->setTextVisible(false);
    m_progressBar1->setFocusPolicy(Qt::NoFocus);

    // The percent label is narrow: a font whose digits and "%" are half as wide as a Chinese
    // character lets "100%" fit, as it did in the fonts the layout was drawn for.
    QFont percentFont = m_label5->font();
    percentFont.setFamilies(
        {QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    percentFont.setStyleHint(QFont::Monospace);
    m_label5->setFont(percentFont);

    // Tab walks the controls that take focus in the table's tab index order.
    QWidget *previous = nullptr;
    for (const korvalo::layout::ControlPlace &control : korvalo::layout::controls()) {
        QWidget *widget = findChild<QWidget *>(controlName(control.name));
        if (!widget || !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }

    m_dir1->setRootFinder([this](const std::filesystem::path &folder) {
        const std::filesystem::path drive = m_drive1->drive();
        return korvalo::isInside(folder, drive) ? drive : m_drive1->volumeRootOf(folder);
    });
}

// The lists start at the process's current folder and its drive, set directly: no handler runs,
// so the song count stays empty. A current folder that cannot be read gives way to home, then /.
void Form1::showStartFolder()
{
    std::vector<std::filesystem::path> candidates;
    std::error_code ec;
    const std::filesystem::path current = std::filesystem::current_path(ec);
    if (!ec)
        candidates.push_back(current);
    candidates.emplace_back(QFile::encodeName(QDir::homePath()).toStdString());
    candidates.emplace_back("/");
    for (const auto &folder : candidates) {
        m_drive1->setDrive(folder);
        if (!m_dir1->setPath(folder, DirList::Notify::No).ok())
            continue;
        if (m_file1->setPath(m_dir1->path()).ok())
            return;
    }
    m_dir1->restorePath(candidates.back());
}

void Form1::setMessageHook(MessageHook hook)
{
    m_message = std::move(hook);
}

void Form1::setQuestionHook(QuestionHook hook)
{
    m_question = std::move(hook);
}

int Form1::ask(const Question &question)
{
    return m_question(question);
}

void Form1::warn(const QString &text)
{
    m_message(QMessageBox::Warning, messages::warningTitle(), text);
}

void Form1::onDrive1Change()
{
    const std::filesystem::path drive = m_drive1->drive();
    const korvalo::ListError err = m_dir1->setPath(drive); // raises Dir1's changed on success
    if (!err.ok()) {
        m_drive1->setDrive(m_dir1->path());
        warn(messages::folderFailure(drive, err));
    }
}

void Form1::onDir1Change()
{
    const std::filesystem::path folder = m_dir1->path();
    const korvalo::ListError err = m_file1->setPath(folder); // raises File1's pathChanged
    if (!err.ok() && !m_file1->path().empty()) {
        // The passes join File1's names to Dir1's folder: they must show the same folder.
        m_dir1->restorePath(m_file1->path());
    }
    if (!korvalo::isInside(m_dir1->path(), m_drive1->drive()))
        m_drive1->setDrive(m_dir1->path());
    if (!err.ok())
        warn(messages::folderFailure(folder, err));
}

void Form1::onDir1OpenFailed(const std::filesystem::path &path, korvalo::ListError error)
{
    warn(messages::folderFailure(path, error));
}

void Form1::onFile1PathChange()
{
    m_label3->setText(QString::fromStdString(korvalo::texts::songCount(m_file1->listCount())));
    if (!offerOrderedFilesReturn())
        offerRecovery();
}

bool Form1::offerOrderedFilesReturn()
{
    const std::filesystem::path folder = m_file1->path();
    if (m_progress->running() || folder.empty() || !korvalo::isOrderingFolder(folder))
        return false;
    if (ask(messages::orderingFolderQuestion(folder)) != 1)
        return true;

    const ButtonStates before{m_command1->isEnabled(), m_command2->isEnabled()};
    holdInput(true);
    m_progress->begin();
    const korvalo::RecoveryResult result =
        korvalo::returnOrderedFiles(folder, *m_journal, *m_progress);
    m_progress->end();
    holdInput(false);
    m_command1->setEnabled(before.command1);
    m_command2->setEnabled(before.command2);

    // The files are one level up now: show that folder (its own unfinished pass, if any, is
    // offered as it opens).
    const std::filesystem::path parent = folder.parent_path();
    if (!m_dir1->setPath(parent).ok())
        m_file1->refresh();
    if (const QString report = messages::recoveryReport(result); !report.isEmpty())
        warn(report);
    if (m_progress->stopRequested())
        close();
    return true;
}

bool Form1::offerRecovery()
{
    if (m_progress->running())
        return false;
    const std::filesystem::path folder = m_file1->path();
    if (folder.empty())
        return false;
    korvalo::PendingRecovery pending;
    korvalo::JournalError error;
    const korvalo::RecoveryCheck check =
        korvalo::checkForRecovery(folder, *m_journal, pending, &error);
    switch (check) {
    case korvalo::RecoveryCheck::Nothing:
        return false;
    case korvalo::RecoveryCheck::VolumeBusy:
        warn(messages::recoveryBusyText());
        return true;
    case korvalo::RecoveryCheck::LockUnavailable:
        warn(messages::lockUnavailableText(pending.lockFailure));
        return true;
    case korvalo::RecoveryCheck::JournalFailed:
        warn(messages::journalFailure(error));
        return true;
    case korvalo::RecoveryCheck::Damaged:
        offerLeavingDamagedRecord(error);
        return true;
    case korvalo::RecoveryCheck::Pending:
    case korvalo::RecoveryCheck::Unconfirmed:
        break;
    }
    const korvalo::RecoveryStatus &status = pending.plan.status;
    const int answer =
        ask(messages::recoveryQuestion(status, static_cast<int>(pending.plan.finish.size()),
                                       check == korvalo::RecoveryCheck::Unconfirmed));
    if (answer == messages::kRecoveryLater)
        return true; // left as it is, for the stick it was made on; passes stay refused
    const auto choice = korvalo::RecoveryChoice(answer);

    const ButtonStates before{m_command1->isEnabled(), m_command2->isEnabled()};
    holdInput(true);
    m_progress->begin();
    const korvalo::RecoveryResult result =
        korvalo::recoverFolder(folder, *m_journal, pending, choice, *m_progress);
    m_progress->end();
    holdInput(false);
    m_command1->setEnabled(before.command1);
    m_command2->setEnabled(before.command2);

    m_file1->refresh();
    const bool done =
        result.status == korvalo::RecoveryResult::Status::Done && !m_progress->stopRequested();
    // Files moved back after an ordering keep the names their pass gave them: the buttons stay.
    if (done && choice != korvalo::RecoveryChoice::Leave &&
        status.kind != korvalo::PassKind::Order) {
        // As after the pass the recovery completed: a shuffle undone is as after a removal.
        const bool shuffled =
            status.kind == korvalo::PassKind::Shuffle && choice == korvalo::RecoveryChoice::Finish;
        if (shuffled)
            m_command1->setText(shuffleAgainCaption);
        m_command1->setEnabled(!shuffled);
        m_command2->setEnabled(shuffled);
    }
    if (const QString report = messages::recoveryReport(result); !report.isEmpty())
        warn(report);
    if (m_progress->stopRequested())
        close();
    return true;
}

void Form1::offerLeavingDamagedRecord(const korvalo::JournalError &error)
{
    if (ask(messages::damagedRecordQuestion(error)) != korvalo::session::kLeaveRecord)
        return;
    const korvalo::RecoveryResult result = korvalo::leaveDamagedRecord(m_file1->path(), *m_journal);
    if (result.status != korvalo::RecoveryResult::Status::Done)
        warn(messages::recoveryReport(result));
    else if (!result.keptRecord.empty())
        m_message(QMessageBox::Information, messages::warningTitle(),
                  messages::damagedRecordLeftText(result.keptRecord));
}

void Form1::onOption1Click()
{
    m_command1->setText(shuffleCaption);
    m_command1->setEnabled(true);
    m_command2->setEnabled(false);
}

void Form1::onOption2Click()
{
    m_command1->setText(shuffleAgainCaption);
    m_command1->setEnabled(false);
    m_command2->setEnabled(true);
}

void Form1::onCommand1Click()
{
    startPass(Pass::Shuffle);
}

void Form1::onCommand2Click()
{
    startPass(Pass::Removal);
}

bool Form1::passRunning() const
{
    return m_progress->running();
}

void Form1::holdInput(bool hold)
{
    for (QWidget *w : {static_cast<QWidget *>(m_command1), static_cast<QWidget *>(m_command2),
                       static_cast<QWidget *>(m_option1), static_cast<QWidget *>(m_option2),
                       static_cast<QWidget *>(m_drive1), static_cast<QWidget *>(m_dir1)})
        w->setEnabled(!hold);
}

void Form1::startPass(Pass pass)
{
    if (m_progress->running())
        return;
    // Both buttons would act on the folder the files pass through: offer what belongs there.
    if (offerOrderedFilesReturn())
        return;
    if (m_file1->listCount() < 1) {
        warn(messages::emptyListText());
        return;
    }
    int total = m_file1->listCount();
    const ButtonStates before{m_command1->isEnabled(), m_command2->isEnabled()};
    holdInput(true);
    korvalo::PassResult result = runPass(pass);
    if (result.status == korvalo::PassResult::Status::Refused &&
        (result.refusal == korvalo::PassResult::Refusal::RecoveryPending ||
         result.refusal == korvalo::PassResult::Refusal::RecordDamaged)) {
        // A pass in this folder failed earlier (or its record is damaged): the click that runs it
        // again, once the user has moved what was in the way, puts that right first.
        holdInput(false);
        m_command1->setEnabled(before.command1);
        m_command2->setEnabled(before.command2);
        if (offerRecovery()) {
            if (m_progress->stopRequested())
                close();
            return;
        }
        // Nothing to ask (the journal took the folder as it is): the pass runs over it.
        m_file1->refresh();
        total = m_file1->listCount();
        holdInput(true);
        result = runPass(pass);
    }
    holdInput(false);
    applyPassResult(pass, result, m_file1->listCount() > 0 ? m_file1->listCount() : total, before);
    // The window was closed during the pass: it waited for the file in hand, now it goes.
    if (m_progress->stopRequested())
        close();
}

korvalo::PassResult Form1::runPass(Pass pass)
{
    const Dir1Folder folder(*m_dir1);
    korvalo::PassContext context{m_file1->musicList(), folder, *m_progress};
    context.journal = m_journal.get();
    context.questions = m_answers.get();
    m_progress->begin();
    const korvalo::PassResult result = pass == Pass::Shuffle
                                           ? korvalo::runShufflePass(context, m_random)
                                           : korvalo::runRemovalPass(context);
    m_progress->end();
    return result;
}

void Form1::applyPassResult(Pass pass, const korvalo::PassResult &result, int total,
                            ButtonStates before)
{
    const auto restoreButtons = [&] {
        m_command1->setEnabled(before.command1);
        m_command2->setEnabled(before.command2);
    };

    using Status = korvalo::PassResult::Status;
    switch (result.status) {
    case Status::Completed:
        if (pass == Pass::Shuffle) {
            m_command1->setText(shuffleAgainCaption);
            m_command1->setEnabled(false);
            m_command2->setEnabled(true);
        } else {
            m_command1->setEnabled(true);
            m_command2->setEnabled(false);
        }
        if (!result.refreshError.ok())
            warn(messages::refreshFailure(m_file1->path(), result.refreshError));
        if (!result.journalError.ok())
            warn(messages::journalFailure(result.journalError));
        if (result.storedOrder == korvalo::PassResult::StoredOrder::NotArranged)
            warn(messages::storedOrderFailure(result));
        break;
    case Status::Failed: {
        restoreButtons();
        // Show the names as they are now, so the list names no file that is gone.
        const korvalo::ListError reread = m_file1->refresh();
        // Told even when the window is closing: the user must learn which file was not renamed.
        warn(messages::renameFailure(result, total, reread));
        break;
    }
    case Status::Stopped:
        restoreButtons();
        m_file1->refresh();
        break;
    case Status::EmptyList:
        restoreButtons();
        warn(messages::emptyListText());
        break;
    case Status::Cancelled:
        restoreButtons();
        break;
    case Status::Refused:
        restoreButtons();
        if (result.refusal == korvalo::PassResult::Refusal::VolumeBusy)
            warn(messages::volumeBusyText());
        else if (result.refusal == korvalo::PassResult::Refusal::RecoveryPending)
            warn(messages::recoveryPendingText());
        else if (result.refusal == korvalo::PassResult::Refusal::JournalUnwritable ||
                 result.refusal == korvalo::PassResult::Refusal::RecordDamaged)
            warn(messages::journalFailure(result.journalError));
        else if (result.refusal == korvalo::PassResult::Refusal::LockUnavailable)
            warn(messages::lockUnavailableText(result.lockFailure));
        else if (m_warnedUnsafeMounts.insert({result.device, result.mountPoint.native()}).second)
            warn(messages::unsafeDriverText()); // once per mount while the window is open
        break;
    }
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_progress->running()) {
        // Each rename is whole: stop after the file in hand, then close. The journal keeps what
        // was done, so the next opening of the folder offers to put it right.
        if (!m_progress->stopRequested() && ask(messages::closeDuringPassQuestion()) == 1)
            m_progress->requestStop();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

#include "window/form1.h"

#include "session/layout.h"
#include "session/texts.h"
#include "session/unfinished.h"
#include "session/windowview.h"
#include "window/dirlist.h"
#include "window/drivelist.h"
#include "window/filelist.h"
#include "window/messages.h"
#include "window/passprogress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

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

// A caption from the text table.
QString caption(const char *text)
{
    return QString::fromUtf8(text);
}
using namespace korvalo::texts::caption;

using korvalo::session::FolderState;
using korvalo::session::Mode;
using korvalo::session::Notice;
using korvalo::session::Plan;
using korvalo::session::Question;
using korvalo::session::Report;

} // namespace

class Form1::BoxAsker : public korvalo::session::Asker
{
public:
    explicit BoxAsker(Form1 &form) : m_form(form) {}
    int ask(const Question &question) override { return m_form.ask(question); }

private:
    Form1 &m_form;
};

Form1::Form1(QWidget *parent)
    : QWidget(parent),
      m_session(std::make_unique<korvalo::session::FolderSession>(korvalo::texts::Front::Window)),
      m_asker(std::make_unique<BoxAsker>(*this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(caption(kWindowTitle));
    const korvalo::layout::TwipsSize client = korvalo::layout::formClientSize();
    setFixedSize(px(client.width), px(client.height));

    m_message = [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
        messages::showBox(this, icon, title, text);
    };
    m_question = [this](const Question &q) { return messages::askInBox(this, q); };

    buildControls();
    m_progress = std::make_unique<PassProgress>(*m_progressBar1, *m_label5, *m_frame3);
    // Often enough to look smooth, far less often than files pass on a fast disk.
    m_progressTimer.setInterval(30);
    connect(&m_progressTimer, &QTimer::timeout, this,
            [this] { m_progress->show(m_session->progress()); });
    showStartFolder();

    connect(m_drive1, &DriveList::changed, this, &Form1::onDrive1Change);
    connect(m_dir1, &DirList::changed, this, &Form1::onDir1Change);
    connect(m_dir1, &DirList::openFailed, this, &Form1::onDir1OpenFailed);
    connect(m_option1, &QRadioButton::clicked, this, &Form1::onOption1Click);
    connect(m_option2, &QRadioButton::clicked, this, &Form1::onOption2Click);
    connect(m_command1, &QPushButton::clicked, this, &Form1::onCommand1Click);
    connect(m_command2, &QPushButton::clicked, this, &Form1::onCommand2Click);
    // The folder shown at start-up may be one whose last pass did not finish, and so may others:
    // asked once the window is up.
    QTimer::singleShot(0, this, &Form1::offerStartUp);
}

// A plan still running is stopped after the file in hand; its end is not waited for in an event
// loop any more.
Form1::~Form1()
{
    m_session.reset();
    m_startUpScan.reset();
}

void Form1::endWithSession(bool waitForPlan)
{
    m_sessionEnding = true;
    // A box that waits for an answer gets its safe one; the pass, if any, then stops and the
    // window closes when it has ended.
    if (QWidget *box = QApplication::activeModalWidget())
        box->close();
    if (m_running && korvalo::session::closeDuringPlan(true) ==
                         korvalo::session::CloseDuringPlan::StopThenClose) {
        m_closeAfterPass = true;
        m_session->requestStop();
        if (waitForPlan)
            m_session->wait(); // its end, queued, closes the window
        return;
    }
    close();
}

void Form1::buildControls()
{
    // Created in tab index order, so the focus chain follows it.
    m_frame1 = place(new QGroupBox(caption(kFrame1), this), "Frame1");
    m_frame2 = place(new QGroupBox(caption(kFrame2), this), "Frame2");
    m_dir1 = place(new DirList(m_frame2), "Dir1");
    m_label1 = place(new QLabel(caption(kLabel1), m_frame2), "Label1");
    m_file1 = place(new FileList(m_frame2), "File1");
    m_label2 = place(new QLabel(caption(kLabel2), m_frame2), "Label2");
    m_command1 = place(new QPushButton(caption(kShuffle), m_frame1), "Command1");
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
    // Its first line stands level with Label1 and Label2; what a pass did goes below.
    m_label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The controls that show no caption of their own are named for screen readers.
    m_drive1->setAccessibleName(caption(kDriveListName));
    m_dir1->setAccessibleName(caption(kFolderListName));
    // The tree's header is hidden, yet a screen reader reads its label: the list's own name.
    m_dir1->setHeaderLabel(caption(kFolderListName));
    m_file1->setAccessibleName(caption(kFileListName));
    m_progressBar1->setAccessibleName(caption(kProgressName));
    m_label5->setAccessibleName(caption(kPercentName));
    // The lists show a faint frame around their current row only: a frame in the highlight
    // colour tells which of them has the keyboard.
    for (QAbstractItemView *list :
         {static_cast<QAbstractItemView *>(m_dir1), static_cast<QAbstractItemView *>(m_file1)})
        list->setStyleSheet(
            QStringLiteral("QAbstractItemView:focus { border: 2px solid palette(highlight); }"));
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
        if (m_session->open(m_dir1->path()).kind != FolderState::Kind::Unreadable) {
            m_file1->showList(m_session->list());
            showMode(korvalo::session::modeFor(m_session->state()));
            return;
        }
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
    // The end of a plan that comes while the box is open waits for the answer: the answer may be
    // to close the window, which that end then does.
    m_asking = true;
    const int answer = m_question(question);
    m_asking = false;
    if (m_finishWaiting) {
        m_finishWaiting = false;
        QTimer::singleShot(0, this, &Form1::onPlanFinished);
    }
    return answer;
}

void Form1::tell(const Notice &notice)
{
    m_message(notice.kind == Notice::Kind::Information ? QMessageBox::Information
                                                       : QMessageBox::Warning,
              messages::text(notice.title), messages::text(notice.text));
}

void Form1::showMode(std::optional<Mode> mode)
{
    if (!mode)
        return;
    (*mode == Mode::AlreadyUsed ? m_option2 : m_option1)->setChecked(true);
    showButtons(*mode);
}

void Form1::showButtons(Mode mode)
{
    const korvalo::session::PassButtons buttons = korvalo::session::buttonsFor(mode);
    m_command1->setText(messages::text(buttons.command1Caption));
    m_command1->setEnabled(buttons.command1);
    m_command2->setEnabled(buttons.command2);
}

void Form1::onDrive1Change()
{
    const std::filesystem::path drive = m_drive1->drive();
    const korvalo::ListError err = m_dir1->setPath(drive); // raises Dir1's changed on success
    if (!err.ok()) {
        m_drive1->setDrive(m_dir1->path());
        tell(korvalo::session::folderFailureNotice(drive, err, korvalo::texts::Front::Window));
    }
}

void Form1::onDir1Change()
{
    const std::optional<Notice> problem = openFolder(m_dir1->path());
    if (!korvalo::isInside(m_dir1->path(), m_drive1->drive()))
        m_drive1->setDrive(m_dir1->path());
    if (problem)
        tell(*problem);
    else
        offerOpening();
}

void Form1::onDir1OpenFailed(const std::filesystem::path &path, korvalo::ListError error)
{
    tell(korvalo::session::folderFailureNotice(path, error, korvalo::texts::Front::Window));
}

std::optional<Notice> Form1::openFolder(const std::filesystem::path &folder)
{
    const FolderState &state = m_session->open(folder);
    if (state.kind == FolderState::Kind::Unreadable) {
        std::optional<Notice> problem = korvalo::session::openingNotice(state);
        // The passes work on the folder File1 shows: Dir1 and the session go back to it.
        if (const std::filesystem::path shown = m_file1->path(); !shown.empty()) {
            m_dir1->restorePath(shown);
            m_session->open(shown);
        }
        return problem;
    }
    m_file1->showList(m_session->list());
    m_label3->setText(messages::text(korvalo::texts::songCount(state.songs)));
    showMode(korvalo::session::modeFor(state));
    return std::nullopt;
}

void Form1::offerOpening()
{
    if (m_running)
        return;
    const FolderState &state = m_session->state();
    if (state.question)
        run(m_session->answerOpening(ask(*state.question)));
    else if (const std::optional<Notice> problem = korvalo::session::openingNotice(state))
        tell(*problem);
}

void Form1::offerStartUp()
{
    // The folder shown asks about its own pass first; the others wait for the next start.
    const bool asked = m_session->state().question.has_value();
    offerOpening();
    if (asked || m_running) {
        m_startUpDone = true;
        return;
    }
    // Looked for off the window's thread: a mount that does not answer delays only the offer.
    m_startUpScan = std::make_unique<korvalo::session::StartUpScan>(
        [this](std::vector<korvalo::session::UnfinishedPass> passes) {
            QMetaObject::invokeMethod(
                this, [this, passes = std::move(passes)] { offerUnfinished(passes); },
                Qt::QueuedConnection);
        });
}

void Form1::offerUnfinished(const std::vector<korvalo::session::UnfinishedPass> &passes)
{
    m_startUpDone = true;
    // The user went on meanwhile: the folders are offered as they are opened.
    if (m_running || m_asking || m_sessionEnding)
        return;
    const std::optional<korvalo::session::StartUpOffer> offer =
        korvalo::session::startUpOffer(passes, m_dir1->path());
    if (!offer)
        return;
    const int answer = ask(offer->question);
    if (answer < 0 || answer >= static_cast<int>(offer->folders.size()))
        return;
    // The folder opens as the user would open it: its own question follows.
    const std::filesystem::path &folder = offer->folders[static_cast<std::size_t>(answer)];
    if (const korvalo::ListError err = m_dir1->setPath(folder); !err.ok())
        tell(korvalo::session::folderFailureNotice(folder, err, korvalo::texts::Front::Window));
}

void Form1::onOption1Click()
{
    showButtons(Mode::FirstTime);
}

void Form1::onOption2Click()
{
    showButtons(Mode::AlreadyUsed);
}

void Form1::onCommand1Click()
{
    startPass(korvalo::PassKind::Shuffle);
}

void Form1::onCommand2Click()
{
    startPass(korvalo::PassKind::Removal);
}

void Form1::holdInput(bool hold)
{
    for (QWidget *w : {static_cast<QWidget *>(m_command1), static_cast<QWidget *>(m_command2),
                       static_cast<QWidget *>(m_option1), static_cast<QWidget *>(m_option2),
                       static_cast<QWidget *>(m_drive1), static_cast<QWidget *>(m_dir1)})
        w->setEnabled(!hold);
}

void Form1::startPass(korvalo::PassKind kind)
{
    if (m_running)
        return;
    run(m_session->planPass(kind, *m_asker));
}

void Form1::run(const Plan &plan)
{
    if (!plan.runnable()) {
        // The folder may have gone away since it was opened: the list shows that it did.
        if (plan.report.namesChanged)
            m_file1->showList(m_session->list());
        if (!plan.report.countLabel.empty())
            m_label3->setText(messages::text(plan.report.countLabel));
        showReport(plan.report);
        return;
    }
    m_before = {m_command1->isEnabled(), m_command2->isEnabled()};
    m_running = true;
    holdInput(true);
    m_progress->begin();
    m_progressTimer.start();
    // Called on the worker's thread: the window hears of it through its own event queue.
    m_session->start(plan, [this] {
        QMetaObject::invokeMethod(this, &Form1::onPlanFinished, Qt::QueuedConnection);
    });
}

void Form1::onPlanFinished()
{
    if (!m_running)
        return;
    if (m_asking) {
        m_finishWaiting = true;
        return;
    }
    const Report report = m_session->wait();
    m_progressTimer.stop();
    const korvalo::session::Progress last = m_session->progress();
    m_progress->show(last); // the last file, which a redraw may have missed
    m_frame3->setTitle(caption(kFrame3));
    m_running = false;
    holdInput(false);
    m_command1->setEnabled(m_before.command1);
    m_command2->setEnabled(m_before.command2);
    if (report.next == korvalo::PassKind::Removal) {
        showButtons(Mode::AlreadyUsed);
    } else if (report.next == korvalo::PassKind::Shuffle) {
        m_command1->setEnabled(true);
        m_command2->setEnabled(false);
    }
    m_file1->showList(m_session->list());
    if (!report.countLabel.empty())
        m_label3->setText(messages::text(report.countLabel));
    if (report.settled && report.showFolder.empty()) {
        // Files came back, or a record was set aside: the folder is shown as it is now, subfolders
        // included, with the option that fits it.
        m_dir1->setPath(m_dir1->path(), DirList::Notify::No);
        showMode(korvalo::session::modeFor(m_session->state()));
    }

    // A plan stopped because the window closes ends with the window; what went wrong is told
    // even then, so the user learns which file was not renamed. So is a stop while the files were
    // stored in order: nothing is offered when the folder is opened next, so the box says how to
    // have the order arranged.
    // The desktop session ending waits for no box: the record tells the next start what happened.
    if (!m_sessionEnding &&
        !(m_closeAfterPass && report.outcome == Report::Outcome::Stopped && !last.ordering))
        showReport(report);
    emit passFinished();
    if (m_closeAfterPass)
        close();
    else if (!report.showFolder.empty())
        m_dir1->setPath(report.showFolder); // where the files are now; it opens as usual
}

void Form1::showReport(const Report &report)
{
    // A success is seen in the list, the buttons and the song count; the user's own "no" needs no
    // answer.
    for (const Notice &notice : korvalo::session::noticesOf(report))
        tell(notice);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_running) {
        // Each rename is whole: stop after the file in hand, then close. The journal keeps what
        // was done, so the next opening of the folder offers to put it right. While the files
        // are stored in order, no further file goes out and those out come back first.
        if (!m_closeAfterPass && ask(korvalo::texts::closeDuringPassQuestion(
                                     m_session->progress().ordering)) == korvalo::session::kYes) {
            m_closeAfterPass = true;
            m_session->requestStop();
        }
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

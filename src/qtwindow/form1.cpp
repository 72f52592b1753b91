#include "qtwindow/form1.h"

#include "qtwindow/dirlist.h"
#include "qtwindow/drivelist.h"
#include "qtwindow/filelist.h"
#include "qtwindow/messages.h"
#include "qtwindow/passprogress.h"
#include "session/layout.h"
#include "session/texts.h"

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

// A caption from the text table.
QString caption(const char *text)
{
    return QString::fromUtf8(text);
}
using namespace korvalo::texts::caption;

using korvalo::session::Mode;
using korvalo::session::Notice;
using korvalo::session::Question;

} // namespace

Form1::Form1(QWidget *parent) : QWidget(parent)
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
    m_controller = std::make_unique<korvalo::session::WindowController>(
        static_cast<korvalo::session::WindowHooks &>(*this));
    // Often enough to look smooth, far less often than files pass on a fast disk.
    m_progressTimer.setInterval(30);
    connect(&m_progressTimer, &QTimer::timeout, this,
            [this] { m_progress->show(m_controller->progress()); });

    // The lists start at the process's current folder and its drive; a current folder that
    // cannot be read gives way to home, then /.
    std::vector<std::filesystem::path> candidates;
    std::error_code ec;
    const std::filesystem::path current = std::filesystem::current_path(ec);
    if (!ec)
        candidates.push_back(current);
    candidates.emplace_back(QFile::encodeName(QDir::homePath()).toStdString());
    candidates.emplace_back("/");
    m_controller->showStartFolder(candidates);

    connect(m_drive1, &DriveList::changed, this,
            [this] { m_controller->driveChosen(m_drive1->drive()); });
    connect(m_dir1, &DirList::changed, this, [this] { m_controller->folderShown(m_dir1->path()); });
    connect(m_dir1, &DirList::openFailed, this,
            [this](const std::filesystem::path &path, korvalo::ListError error) {
                m_controller->folderFailed(path, error);
            });
    connect(m_option1, &QRadioButton::clicked, this,
            [this] { m_controller->optionChosen(Mode::FirstTime); });
    connect(m_option2, &QRadioButton::clicked, this,
            [this] { m_controller->optionChosen(Mode::AlreadyUsed); });
    connect(m_command1, &QPushButton::clicked, this,
            [this] { m_controller->passClicked(korvalo::PassKind::Shuffle); });
    connect(m_command2, &QPushButton::clicked, this,
            [this] { m_controller->passClicked(korvalo::PassKind::Removal); });
    // The folder shown at start-up may be one whose last pass did not finish, and so may others:
    // asked once the window is up.
    QTimer::singleShot(0, this, [this] { m_controller->offerStartUp(); });
}

// A plan still running is stopped after the file in hand; its end is not waited for in an event
// loop any more.
Form1::~Form1()
{
    m_controller.reset();
}

void Form1::endWithSession(bool waitForPlan)
{
    // A box that waits for an answer gets its safe one.
    if (QWidget *box = QApplication::activeModalWidget())
        box->close();
    if (m_controller->sessionEnds(waitForPlan))
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

void Form1::setMessageHook(MessageHook hook)
{
    m_message = std::move(hook);
}

void Form1::setQuestionHook(QuestionHook hook)
{
    m_question = std::move(hook);
}

void Form1::onPlanFinished()
{
    m_closedAtEnd = false;
    if (m_controller->planFinished() && !m_closedAtEnd)
        emit passFinished();
}

void Form1::showSongs(const korvalo::MusicFileList &songs)
{
    m_file1->showList(songs);
}

void Form1::showCount(const std::string &count)
{
    m_label3->setText(messages::text(count));
}

void Form1::showOption(Mode mode)
{
    (mode == Mode::AlreadyUsed ? m_option2 : m_option1)->setChecked(true);
}

void Form1::showButtons(const korvalo::session::PassButtons &buttons)
{
    m_command1->setText(messages::text(buttons.command1Caption));
    m_command1->setEnabled(buttons.command1);
    m_command2->setEnabled(buttons.command2);
}

korvalo::ListError Form1::showFolder(const std::filesystem::path &folder)
{
    return m_dir1->setPath(folder, DirList::Notify::No);
}

void Form1::restoreFolder(const std::filesystem::path &folder)
{
    m_dir1->restorePath(folder);
}

void Form1::showDriveOf(const std::filesystem::path &folder)
{
    m_drive1->setDrive(folder);
}

void Form1::holdInput(bool hold)
{
    for (QWidget *w : {static_cast<QWidget *>(m_command1), static_cast<QWidget *>(m_command2),
                       static_cast<QWidget *>(m_option1), static_cast<QWidget *>(m_option2),
                       static_cast<QWidget *>(m_drive1), static_cast<QWidget *>(m_dir1)})
        w->setEnabled(!hold);
    if (hold) {
        m_progress->begin();
        m_progressTimer.start();
        return;
    }
    m_progressTimer.stop();
    m_progress->show(m_controller->progress()); // the last file, which a redraw may have missed
    m_frame3->setTitle(caption(kFrame3));
}

void Form1::tell(const Notice &notice)
{
    m_message(notice.kind == Notice::Kind::Information ? QMessageBox::Information
                                                       : QMessageBox::Warning,
              messages::text(notice.title), messages::text(notice.text));
}

korvalo::session::Answer Form1::ask(const Question &question)
{
    return m_question(question);
}

void Form1::wake()
{
    // On the worker's thread: the window hears of it through its own event queue.
    QMetaObject::invokeMethod(this, &Form1::onPlanFinished, Qt::QueuedConnection);
}

void Form1::closeWindow()
{
    m_closedAtEnd = true;
    emit passFinished();
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (m_controller->closeAsked())
        QWidget::closeEvent(event);
    else
        event->ignore();
}

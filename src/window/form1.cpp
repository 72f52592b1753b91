#include "window/form1.h"

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
#include <QMetaObject>
#include <QTimer>
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
    m_controller = std::make_unique<korvalo::session::WindowController>(*this);
    // Often enough to look smooth, far less often than files pass on a fast disk.
    m_progressTimer.setInterval(30);
    connect(&m_progressTimer, &QTimer::timeout, this,
            [this] { m_progress->show(m_controller->progress()); });

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

int Form1::ask(const Question &question)
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

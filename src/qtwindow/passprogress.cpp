#include "qtwindow/passprogress.h"

#include "session/texts.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>

PassProgress::PassProgress(QProgressBar &bar, QLabel &percent, QGroupBox &frame)
    : m_bar(bar), m_percent(percent), m_frame(frame)
{
}

void PassProgress::begin()
{
    m_view.begin();
    m_heading.clear(); // the window puts the frame's own caption back after every plan
}

void PassProgress::show(const korvalo::session::Progress &progress)
{
    const korvalo::session::ProgressDrawing drawing = m_view.show(progress);
    if (drawing.range)
        m_bar.setRange(drawing.range->minimum, drawing.range->maximum);
    if (drawing.value)
        m_bar.setValue(*drawing.value);
    if (drawing.text)
        m_percent.setText(QString::fromStdString(*drawing.text));
    if (drawing.heading != m_heading) {
        m_heading = drawing.heading;
        m_frame.setTitle(QString::fromUtf8(m_heading.empty() ? korvalo::texts::caption::kFrame3
                                                             : m_heading.c_str()));
    }
}

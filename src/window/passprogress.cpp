#include "window/passprogress.h"

#include "passes/progress.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

PassProgress::PassProgress(QProgressBar &bar, QLabel &percent) : m_bar(bar), m_percent(percent) {}

void PassProgress::begin()
{
    m_running = true;
    m_stopRequested = false;
    m_shownPercent = -1;
}

void PassProgress::end()
{
    m_running = false;
    // A pass that ended between two redraws leaves the display frozen; draw what it holds.
    m_bar.setUpdatesEnabled(true);
    m_percent.setUpdatesEnabled(true);
}

void PassProgress::start(int count)
{
    const korvalo::ProgressRange range = korvalo::progressRange(count);
    m_bar.setMinimum(range.minimum);
    // A range of zero width would make the bar a busy indicator: one file fills 0..1.
    m_bar.setMaximum(range.maximum > range.minimum ? range.maximum : range.minimum + 1);
}

bool PassProgress::step(int index, int count)
{
    const korvalo::ProgressRange range = korvalo::progressRange(count);
    // Drawn at most every kRedrawMs and at the last file: on a fast disk thousands of files pass
    // in a second, more pictures than an eye can see, and drawing each would cost more than the
    // renames.
    const bool draw =
        index >= range.maximum || !m_lastDraw.isValid() || m_lastDraw.hasExpired(kRedrawMs);
    if (!draw) {
        m_bar.setUpdatesEnabled(false);
        m_percent.setUpdatesEnabled(false);
    }
    m_bar.setValue(range.maximum > range.minimum ? korvalo::progressValue(index)
                                                 : range.minimum + 1);
    // The text changes once per percent, not per file.
    if (const int percent = korvalo::progressPercent(index, count); percent != m_shownPercent) {
        m_percent.setText(QString::fromStdString(korvalo::progressText(index, count)));
        m_shownPercent = percent;
    }
    if (draw) {
        m_bar.setUpdatesEnabled(true); // schedules the redraw if it was held back
        m_percent.setUpdatesEnabled(true);
        m_lastDraw.start();
    }
    QCoreApplication::processEvents();
    return !m_stopRequested;
}

void PassProgress::ordering(int done, int total)
{
    if (total < 1)
        return;
    m_shownPercent = -1; // the label then counts the moves
    if (done == 0) {
        m_bar.setMinimum(0);
        m_bar.setMaximum(total);
    }
    const bool draw = done >= total || !m_lastDraw.isValid() || m_lastDraw.hasExpired(kRedrawMs);
    if (!draw) {
        m_bar.setUpdatesEnabled(false);
        m_percent.setUpdatesEnabled(false);
    }
    m_bar.setValue(done);
    m_percent.setText(QString::fromStdString(korvalo::progressText(done, total + 1)));
    if (draw) {
        m_bar.setUpdatesEnabled(true);
        m_percent.setUpdatesEnabled(true);
        m_lastDraw.start();
    }
    QCoreApplication::processEvents();
}

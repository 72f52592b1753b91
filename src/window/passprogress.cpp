#include "window/passprogress.h"

#include "passes/progress.h"

#include <QLabel>
#include <QProgressBar>

PassProgress::PassProgress(QProgressBar &bar, QLabel &percent) : m_bar(bar), m_percent(percent) {}

void PassProgress::begin()
{
    m_count = -1;
    m_ordering = false;
    m_shownDone = -1;
    m_shownPercent = -1;
}

void PassProgress::show(const korvalo::session::Progress &progress)
{
    const int count = progress.count;
    if (count < 1)
        return;
    if (count != m_count || progress.ordering != m_ordering) {
        m_count = count;
        m_ordering = progress.ordering;
        m_shownDone = -1;
        m_shownPercent = -1;
        if (m_ordering) {
            // On FAT and exFAT the files then move out and back to be stored in the list's order:
            // the bar runs a second time, over the moves, so it does not stand at 100 % meanwhile.
            m_bar.setRange(0, count);
        } else {
            const korvalo::ProgressRange range = korvalo::progressRange(count);
            // A range of zero width would make the bar a busy indicator: one file fills 0..1.
            m_bar.setRange(range.minimum,
                           range.maximum > range.minimum ? range.maximum : range.minimum + 1);
        }
    }
    if (progress.done == m_shownDone)
        return;
    m_shownDone = progress.done;
    if (m_ordering) {
        m_bar.setValue(progress.done);
        m_percent.setText(QString::fromStdString(korvalo::progressText(progress.done, count + 1)));
        return;
    }
    if (progress.done < 1)
        return;
    const int index = progress.done - 1; // the file last handled
    const korvalo::ProgressRange range = korvalo::progressRange(count);
    m_bar.setValue(range.maximum > range.minimum ? korvalo::progressValue(index)
                                                 : range.minimum + 1);
    // The text changes once per percent, not per file.
    if (const int percent = korvalo::progressPercent(index, count); percent != m_shownPercent) {
        m_percent.setText(QString::fromStdString(korvalo::progressText(index, count)));
        m_shownPercent = percent;
    }
}

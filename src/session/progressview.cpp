#include "session/progressview.h"

#include "passes/progress.h"
#include "session/texts.h"

namespace korvalo::session {

SongCount songsOf(const Progress &progress)
{
    if (!progress.ordering || progress.movingBack)
        return {progress.done, progress.count};
    // Every song goes out once and comes back once.
    return {progress.done / 2, progress.count / 2};
}

void ProgressView::begin()
{
    m_count = -1;
    m_ordering = false;
    m_shownDone = -1;
    m_shownPercent = -1;
}

ProgressDrawing ProgressView::show(const Progress &progress)
{
    ProgressDrawing out;
    // The percent label is too narrow to say what the files do while they are stored in order:
    // the frame's heading says it.
    if (progress.movingBack)
        out.heading = texts::movingBackProgressLabel();
    else if (progress.ordering)
        out.heading = texts::orderingProgressLabel();

    const int count = progress.count;
    if (count < 1)
        return out;
    if (count != m_count || progress.ordering != m_ordering) {
        m_count = count;
        m_ordering = progress.ordering;
        m_shownDone = -1;
        m_shownPercent = -1;
        if (m_ordering) {
            // On FAT and exFAT the files then move out and back to be stored in the list's order:
            // the bar runs a second time, over the moves, so it does not stand at 100 % meanwhile.
            out.range = ProgressDrawing::Range{0, count};
        } else {
            const ProgressRange range = progressRange(count);
            // A range of zero width would make a bar a busy indicator: one file fills 0..1.
            out.range = ProgressDrawing::Range{
                range.minimum, range.maximum > range.minimum ? range.maximum : range.minimum + 1};
        }
    }
    if (progress.done == m_shownDone)
        return out;
    m_shownDone = progress.done;
    if (m_ordering) {
        out.value = progress.done;
        out.text = progressText(progress.done, count + 1);
        return out;
    }
    if (progress.done < 1)
        return out;
    const int index = progress.done - 1; // the file last handled
    const ProgressRange range = progressRange(count);
    out.value = range.maximum > range.minimum ? progressValue(index) : range.minimum + 1;
    // The text changes once per percent, not per file.
    if (const int percent = progressPercent(index, count); percent != m_shownPercent) {
        out.text = progressText(index, count);
        m_shownPercent = percent;
    }
    return out;
}

} // namespace korvalo::session

#pragma once

#include "session/foldersession.h"

class QLabel;
class QProgressBar;

// Draws a running plan's progress, as the session hands it over, on the bar and the percent
// label. The window calls show() every few tens of milliseconds and once more at the end; a
// figure that has not changed since the last call is not drawn again.
class PassProgress
{
public:
    PassProgress(QProgressBar &bar, QLabel &percent);

    // Before a plan starts: what was drawn for the last one is forgotten.
    void begin();
    void show(const korvalo::session::Progress &progress);

private:
    QProgressBar &m_bar;
    QLabel &m_percent;
    int m_count = -1;       // the count the bar's range was set for
    bool m_ordering = false; // the range is the moves out and back, not the renames
    int m_shownDone = -1;
    int m_shownPercent = -1;
};

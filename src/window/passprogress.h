#pragma once

#include "passes/passes.h"

#include <QElapsedTimer>

class QLabel;
class QProgressBar;

// What the window shows of a running pass, and whether the pass may go on. The bar and the percent
// label take their values at every file, but are drawn only now and then; the window's events are
// handled at every file, so it stays responsive, and a request to stop (the window is being
// closed) ends the pass after the file in hand.
class PassProgress : public korvalo::ProgressSink
{
public:
    PassProgress(QProgressBar &bar, QLabel &percent);

    // Around a pass: begin() clears an earlier stop request, end() draws what the display holds.
    void begin();
    void end();
    bool running() const { return m_running; }

    // Asks the running pass to stop after the file in hand.
    void requestStop() { m_stopRequested = true; }
    bool stopRequested() const { return m_stopRequested; }

    void start(int count) override;
    bool step(int index, int count) override;
    // On FAT and exFAT: the files moving out and back to be stored in the list's order. The bar
    // runs a second time, over the moves, so it does not stand at 100 % while files move.
    void ordering(int done, int total) override;

private:
    // Often enough to look smooth, far less often than files pass on a fast disk.
    static constexpr qint64 kRedrawMs = 40;

    QProgressBar &m_bar;
    QLabel &m_percent;
    QElapsedTimer m_lastDraw;
    bool m_running = false;
    bool m_stopRequested = false;
    int m_shownPercent = -1; // what the label reads during a pass, -1 before its first file
};

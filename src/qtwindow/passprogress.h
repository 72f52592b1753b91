#pragma once

#include "session/progressview.h"

#include <string>

class QGroupBox;
class QLabel;
class QProgressBar;

// Draws a running plan's progress on the bar, the percent label and the progress frame's title,
// as the session's progress view works it out. The window calls show() every few tens of
// milliseconds and once more at the end.
class PassProgress
{
public:
    PassProgress(QProgressBar &bar, QLabel &percent, QGroupBox &frame);

    // Before a plan starts: what was drawn for the last one is forgotten.
    void begin();
    void show(const korvalo::session::Progress &progress);

private:
    QProgressBar &m_bar;
    QLabel &m_percent;
    QGroupBox &m_frame;
    korvalo::session::ProgressView m_view;
    std::string m_heading; // the frame's title as last drawn; empty for its own caption
};

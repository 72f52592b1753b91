#pragma once

// What a progress display draws for a running plan, worked out once for every front end: the
// bar's range and position, the percent text and the heading while the files are stored in order.
// A front end polls the session's progress every few tens of milliseconds and draws only what
// changed since the last poll.

#include "session/foldersession.h"

#include <optional>
#include <string>

namespace korvalo::session {

struct ProgressDrawing
{
    struct Range
    {
        int minimum = 0;
        int maximum = 0;
    };
    std::optional<Range> range;      // a new range for the bar
    std::optional<int> value;        // a new position
    std::optional<std::string> text; // a new percent text
    // The heading of the progress frame: empty for its own caption, else what the files do now.
    std::string heading;
};

// The songs a progress counts: while the files are stored in order each song moves out and back,
// and the moves are told as the songs they stand for.
struct SongCount
{
    int done = 0;
    int count = 0;
};
SongCount songsOf(const Progress &progress);

class ProgressView
{
public:
    // Before a plan starts: what was drawn for the last one is forgotten.
    void begin();
    // What to draw for `progress`, only what changed since the last call.
    ProgressDrawing show(const Progress &progress);

private:
    int m_count = -1;        // the count the bar's range was set for
    bool m_ordering = false; // the range is the moves out and back, not the renames
    int m_shownDone = -1;
    int m_shownPercent = -1;
};

} // namespace korvalo::session

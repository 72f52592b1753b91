#pragma once

namespace korvalo {

// Where a pass reports its progress. start() runs once before the first file, step() after
// every file with its index and the list's count as it is at that moment. step() returns false
// to stop the pass after the file in hand (the window is being closed).
// On FAT and exFAT a completed pass (or a recovery that finished or undid one) then moves its
// files out and back so that they are stored in the list's order (see ordering.h): ordering()
// runs before the first of those moves (done 0) and after each, with the number of moves made
// and the number to make, twice the files. It returns false to stop them: no further file goes
// out, and the `out` files already out come back at once, for files must not be left outside
// their folder. Each of those moves back is then told with done running from out + 1 to total ==
// 2 * out, and what ordering() returns is no longer heeded; nor is it during the moves back of an
// arrangement that was not stopped: a stop asked then lets them finish.
class ProgressSink
{
public:
    virtual ~ProgressSink() = default;
    virtual void start(int count) = 0;
    virtual bool step(int index, int count) = 0;
    virtual bool ordering(int done, int total)
    {
        (void)done;
        (void)total;
        return true;
    }
};

// A sink that ignores everything.
class NullProgress : public ProgressSink
{
public:
    void start(int) override {}
    bool step(int, int) override { return true; }
};

} // namespace korvalo

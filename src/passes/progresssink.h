#pragma once

namespace korvalo {

// Where a pass reports its progress. start() runs once before the first file, step() after
// every file with its index and the list's count as it is at that moment. step() returns false
// to stop the pass after the file in hand (the window is being closed).
// On FAT and exFAT a completed pass then moves its files out and back so that they are stored in
// the list's order (see ordering.h): ordering() runs before the first of those moves (done 0) and
// after each, with the number of moves made and the number to make. Those moves cannot be
// stopped half-way: files must not be left outside their folder.
class ProgressSink
{
public:
    virtual ~ProgressSink() = default;
    virtual void start(int count) = 0;
    virtual bool step(int index, int count) = 0;
    virtual void ordering(int done, int total)
    {
        (void)done;
        (void)total;
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

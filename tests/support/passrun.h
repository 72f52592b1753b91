#pragma once

// What the pass tests share: a progress sink that records the steps and can act in the middle of
// a pass, one pass over a freshly listed folder, and the check that a name is an old name with an
// order prefix in front.

#include "browse/musicfilelist.h"
#include "passes/passes.h"
#include "passes/randomsource.h"

#include <QList>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Records what the window would show; onStart, when set, runs at the start, and onStep answers
// step() instead of "go on".
class RecordingProgress : public korvalo::ProgressSink
{
public:
    int starts = 0;
    int startCount = -1;
    QList<int> steps;
    std::function<void()> onStart;
    std::function<bool(int index, int count)> onStep;

    void start(int count) override
    {
        ++starts;
        startCount = count;
        if (onStart)
            onStart();
    }
    bool step(int index, int count) override
    {
        steps << index;
        return onStep ? onStep(index, count) : true;
    }
};

// What a test may choose for a pass: where it is recorded (nowhere when null), its system calls
// (the real ones when null) and its draws (from the clock when null).
struct PassOptions
{
    korvalo::Journal *journal = nullptr;
    korvalo::RenameSystem *calls = nullptr;
    korvalo::RandomSource *random = nullptr;
};

struct PassRun
{
    korvalo::MusicFileList list; // re-read by the pass when it completes
    korvalo::ListError listError;
    std::vector<std::string> listed; // the snapshot the pass worked from
    korvalo::PassResult result;
};

// Lists `folder` into run.list and, when that worked, runs one pass over it.
inline void runPass(PassRun &run, bool shuffle, const std::filesystem::path &folder,
                    korvalo::ProgressSink &progress, const PassOptions &options = {})
{
    run.listError = run.list.setFolder(folder);
    if (!run.listError.ok())
        return;
    for (int i = 0; i < run.list.count(); ++i)
        run.listed.emplace_back(run.list.nameView(i));
    const korvalo::FixedFolder source(folder);
    const korvalo::PassContext ctx{run.list, source, progress,
                                   options.calls ? *options.calls : korvalo::systemRenameCalls(),
                                   options.journal};
    korvalo::ClockRandomSource clock;
    run.result = shuffle ? korvalo::runShufflePass(ctx, options.random ? *options.random : clock)
                         : korvalo::runRemovalPass(ctx);
}

// The same, the run given back whole.
inline PassRun runPass(bool shuffle, const std::filesystem::path &folder,
                       korvalo::ProgressSink &progress, const PassOptions &options = {})
{
    PassRun run;
    runPass(run, shuffle, folder, progress, options);
    return run;
}

inline korvalo::PassResult runPass(bool shuffle, const std::filesystem::path &folder,
                                   korvalo::Journal *journal = nullptr)
{
    RecordingProgress progress;
    return runPass(shuffle, folder, progress, {.journal = journal}).result;
}

// True when `name` is `original` with an order prefix "1000".."9999" in front.
inline bool hasPrefixBefore(const std::string &name, const std::string &original)
{
    return name.size() == original.size() + 4 && korvalo::hasOrderPrefix(name) && name[0] != '0' &&
           name.compare(4, std::string::npos, original) == 0;
}

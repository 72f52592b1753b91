#pragma once

// What the pass tests share: a progress sink that records the steps and can act in the middle of
// a pass, one pass over a freshly listed folder with the real system calls, and the check that a
// name is an old name with an order prefix in front.

#include "browse/musicfilelist.h"
#include "passes/passes.h"
#include "passes/randomsource.h"

#include <QList>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Records what the window would show; onStep, when set, answers step() instead of "go on".
class RecordingProgress : public korvalo::ProgressSink
{
public:
    int starts = 0;
    int startCount = -1;
    QList<int> steps;
    std::function<bool(int index, int count)> onStep;

    void start(int count) override
    {
        ++starts;
        startCount = count;
    }
    bool step(int index, int count) override
    {
        steps << index;
        return onStep ? onStep(index, count) : true;
    }
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
                    korvalo::ProgressSink &progress, korvalo::Journal *journal = nullptr)
{
    run.listError = run.list.setFolder(folder);
    if (!run.listError.ok())
        return;
    for (int i = 0; i < run.list.count(); ++i)
        run.listed.emplace_back(run.list.nameView(i));
    const korvalo::FixedFolder source(folder);
    const korvalo::PassContext ctx{run.list, source, progress, korvalo::systemRenameCalls(),
                                   journal};
    if (shuffle) {
        korvalo::ClockRandomSource random;
        run.result = korvalo::runShufflePass(ctx, random);
    } else {
        run.result = korvalo::runRemovalPass(ctx);
    }
}

inline korvalo::PassResult runPass(bool shuffle, const std::filesystem::path &folder,
                                   korvalo::Journal *journal = nullptr)
{
    PassRun run;
    RecordingProgress progress;
    runPass(run, shuffle, folder, progress, journal);
    return run.result;
}

// True when `name` is `original` with an order prefix "1000".."9999" in front.
inline bool hasPrefixBefore(const std::string &name, const std::string &original)
{
    return name.size() == original.size() + 4 && korvalo::hasOrderPrefix(name) && name[0] != '0' &&
           name.compare(4, std::string::npos, original) == 0;
}

// Reading a large folder's record (figure 7): the journal of a folder of N music files after two
// shuffles, the first folded into what is known of the folder and the second still written out
// name by name, as the folder's next opening finds it. Journal::load() reads it, checks every
// line's checksum and every name, and folds the pass in. Timed by the process's CPU time, the
// median of the repetitions.

#include "benchutil.h"

#include "journal/journal.h"
#include "passes/recoveryplan.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<korvalo::PlannedRename> moves(const std::vector<std::string> &from,
                                          const std::vector<std::string> &to)
{
    std::vector<korvalo::PlannedRename> out;
    for (std::size_t i = 0; i < from.size(); ++i)
        out.push_back({from[i], to[i]});
    return out;
}

// A recorded shuffle whose renames all succeed (no file is touched: the record is what counts).
void recordShuffle(korvalo::Journal &journal, const korvalo::JournalKey &key,
                   const std::vector<korvalo::PlannedRename> &planned)
{
    korvalo::RecordedMoves what;
    what.kind = korvalo::PassKind::Shuffle;
    what.moves = planned;
    const korvalo::RecordedRun run =
        korvalo::runRecordedMoves(journal, key, what, [](const korvalo::PlannedRename &) {
            return korvalo::MoveOutcome::Renamed;
        });
    if (!run.journal.ok() || run.end != korvalo::PassEnd::Completed)
        bench::fail("the shuffle was not recorded");
}

} // namespace

int main()
{
    std::printf("# the journal: loading the record of a large folder, medians of %s, on %s\n",
                bench::clockName(), bench::describeFileSystem(bench::scratchBase()).c_str());
    bool allPass = true;
    for (const std::size_t n : bench::sizes({100000})) {
        const std::vector<std::string> names = bench::musicNames(n);
        const std::vector<std::string> once = bench::withPrefixes(names);
        const std::vector<std::string> twice = bench::withPrefixes(once, 4);
        bench::ScratchFolder state("state");
        korvalo::Journal journal(state.path());
        const korvalo::JournalKey key{"2C6E-91F0", "/Music"};
        recordShuffle(journal, key, moves(names, once));
        recordShuffle(journal, key, moves(once, twice)); // folds the first in

        std::vector<double> times;
        for (int rep = 0; rep < bench::repetitions(n); ++rep) {
            korvalo::FolderRecord record;
            const bench::Stopwatch watch;
            const korvalo::JournalError err = journal.load(key, record);
            times.push_back(watch.elapsedMs());
            if (!err.ok() || record.prefixed.size() != n || !record.passToFold ||
                record.prefixed.begin()->second != 2)
                bench::fail("the record did not load back whole");
        }
        allPass &= bench::reportLimitRow("7 journal load (2 passes)", n, bench::median(times), 0,
                                         250, "ms", "< 250 ms");
    }
    return allPass ? 0 : 1;
}

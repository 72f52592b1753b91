// The shuffle pass and the prefix removal pass through the core (a progress sink that does
// nothing, the final re-read of the list included) against a bare loop of
// renameat2(RENAME_NOREPLACE) over the same names in the same order. Fresh files for every
// repetition; both sides measured in the same run, alternating which goes first. The passes run
// once without a journal and once with one (its state folder beside the music folder), so the
// journal's share shows on its own.
//
// Then the replace pass (a new order in one rename per file) against a first shuffle, both
// recorded; and finishing a shuffle stopped halfway, through the folder session as both front ends
// do it, against a whole shuffle through the session over as many files (see sessionrun.h).

#include "benchutil.h"
#include "renameloop.h"
#include "sessionrun.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

enum class Pass
{
    Shuffle,
    Removal
};

} // namespace

int main()
{
    const int reps = bench::repetitions();
    std::printf("# passes through the core vs bare renameat2 loop, at least %d repetitions, "
                "medians of %s, on %s\n",
                reps, bench::clockName(), bench::describeFileSystem(bench::scratchBase()).c_str());
    bool allPass = true;
    for (const std::size_t n : bench::sizes({1000, 10000, 100000})) {
        const std::vector<std::string> plain = bench::musicNames(n);
        const std::vector<std::string> prefixed = bench::withPrefixes(plain);
        for (const Pass pass : {Pass::Shuffle, Pass::Removal}) {
            const std::vector<std::string> &names = pass == Pass::Shuffle ? plain : prefixed;
            const bool shuffle = pass == Pass::Shuffle;
            std::vector<double> korvalo;
            std::vector<double> baseline;
            std::vector<double> openFolder;
            std::vector<double> recorded;
            for (int rep = 0; rep < bench::repetitions(n); ++rep) {
                bench::ScratchFolder a("core");
                bench::ScratchFolder b("bare");
                bench::ScratchFolder c("open");
                bench::ScratchFolder d("journal");
                bench::ScratchFolder state("state");
                bench::createFiles(a.path(), names);
                bench::createFiles(b.path(), names);
                bench::createFiles(c.path(), names);
                bench::createFiles(d.path(), names);
                // The four take turns at going first.
                for (int turn = 0; turn < 4; ++turn) {
                    switch ((rep + turn) % 4) {
                    case 0:
                        korvalo.push_back(bench::corePass(shuffle, a.path(), n));
                        break;
                    case 1:
                        baseline.push_back(bench::bareRenameLoop(shuffle, b.path()));
                        break;
                    case 2:
                        recorded.push_back(bench::corePass(shuffle, d.path(), n, state.path()));
                        break;
                    default:
                        openFolder.push_back(
                            bench::bareRenameLoop(shuffle, c.path(), bench::Naming::OpenFolder));
                        break;
                    }
                }
            }
            allPass &= bench::reportRow(shuffle ? "2 shuffle pass (core)" : "2 removal pass (core)",
                                        n, korvalo, baseline, 1.25);
            bench::reportRow(shuffle ? "2 shuffle (core) vs open-folder loop"
                                     : "2 removal (core) vs open-folder loop",
                             n, korvalo, openFolder, 1.25, false);
            allPass &= bench::reportRow(shuffle ? "2 shuffle pass (core, journal)"
                                                : "2 removal pass (core, journal)",
                                        n, recorded, baseline, 1.3);
            // The journal's share: the recorded pass against the same pass unrecorded. It writes
            // and seals a line for every file before the first rename.
            allPass &= bench::reportRow(shuffle ? "2 shuffle journal's share"
                                                : "2 removal journal's share",
                                        n, recorded, korvalo, 1.10, n >= 100000);
        }
    }
    // A new order: the replace pass over a folder Korvalo shuffled before (its record knows every
    // prefix) against a shuffle of the same folder with the same record (--again), both
    // recorded; and, for the trend, against a first shuffle of plain names. A new order used to
    // take a removal and a shuffle.
    for (const std::size_t n : bench::sizes({10000})) {
        const std::vector<std::string> plain = bench::musicNames(n);
        std::vector<double> replace;
        std::vector<double> again;
        std::vector<double> first;
        for (int rep = 0; rep < bench::repetitions(n); ++rep) {
            bench::ScratchFolder a("replace");
            bench::ScratchFolder b("again");
            bench::ScratchFolder c("first");
            bench::ScratchFolder stateA("state-replace");
            bench::ScratchFolder stateB("state-again");
            bench::ScratchFolder stateC("state-first");
            bench::createFiles(a.path(), plain);
            bench::createFiles(b.path(), plain);
            bench::createFiles(c.path(), plain);
            // Untimed: the shuffle before.
            bench::corePass(true, a.path(), n, stateA.path());
            bench::corePass(true, b.path(), n, stateB.path());
            for (int turn = 0; turn < 3; ++turn) {
                switch ((rep + turn) % 3) {
                case 0:
                    replace.push_back(bench::coreReplacePass(a.path(), n, stateA.path()));
                    break;
                case 1:
                    again.push_back(bench::coreShuffleAgainPass(b.path(), n, stateB.path()));
                    break;
                default:
                    first.push_back(bench::corePass(true, c.path(), n, stateC.path()));
                    break;
                }
            }
        }
        allPass &=
            bench::reportRow("2 replace vs shuffle again (core, journal)", n, replace, again, 1.10);
        bench::reportRow("2 replace vs first shuffle (core, journal)", n, replace, first, 1.10,
                         false);
    }
    // What the user waits for at the next opening after a stop (or a kill) should not take much
    // longer than the pass itself would have, whatever the recovery reads and checks besides.
    for (const std::size_t n : bench::sizes({10000}))
        allPass &= bench::recoveryRow("8 finish a stopped shuffle (session)", n,
                                      bench::repetitions(n), 1.5, n >= 10000);
    return allPass ? 0 : 1;
}

// Both passes through the core on a stick mounted through FUSE (exfat-fuse, ntfs-3g), against a
// loop of plain rename(2) over the same names in the same order. The FUSE drivers refuse the
// no-replace flag and plain rename replaces an existing file, so the loop is the unsafe floor: no
// program that renames safely can be faster. scripts/bench.sh mounts the images and points
// KORVALO_BENCH_DIR at the mount.
//
//   bench_mounted time LABEL TARGET          the timed rows (wall clock: the work is done by the
//                                            FUSE daemon, not by this process)
//   bench_mounted same LABEL TARGET          the same rows against a bare loop making the renames
//                                            the pass makes on FAT and exFAT (sameRenamesLoop():
//                                            the stored order arranged too), on the kernel's vfat
//                                            in scripts/test-kernel-drivers.sh's virtual machine
//   bench_mounted recovery LABEL TARGET      finishing a shuffle stopped halfway, through the
//                                            session, against a whole shuffle (sessionrun.h); the
//                                            journal stays off the stick, as a user's does
// and, for counting system calls under strace, one step per process:
//   bench_mounted prepare DIR N plain|prefixed   makes DIR with N music files
//   bench_mounted pass shuffle|removal DIR N     lists DIR, then one pass
//   bench_mounted loop shuffle|removal DIR       lists DIR, then the plain rename loop
//   bench_mounted list DIR K                     lists DIR K times (what to subtract)

#include "benchutil.h"
#include "renameloop.h"
#include "sessionrun.h"

#include "browse/musicfilelist.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

bool isShuffle(const char *arg)
{
    if (std::strcmp(arg, "shuffle") == 0)
        return true;
    if (std::strcmp(arg, "removal") == 0)
        return false;
    bench::fail(std::string("expected shuffle or removal, got ") + arg);
}

int timeRows(const std::string &label, double target)
{
    bool allPass = true;
    for (const std::size_t n : bench::sizes({2000u})) {
        const std::vector<std::string> plain = bench::musicNames(n);
        const std::vector<std::string> prefixed = bench::withPrefixes(plain);
        for (const bool shuffle : {true, false}) {
            const std::vector<std::string> &names = shuffle ? plain : prefixed;
            std::vector<double> korvalo;
            std::vector<double> floor;
            for (int rep = 0; rep < bench::repetitions(); ++rep) {
                bench::ScratchFolder a("core");
                bench::ScratchFolder b("plain");
                bench::createFiles(a.path(), names);
                bench::createFiles(b.path(), names);
                // The two take turns at going first.
                for (int turn = 0; turn < 2; ++turn) {
                    if ((rep + turn) % 2 == 0)
                        korvalo.push_back(bench::corePass(shuffle, a.path(), n));
                    else
                        floor.push_back(bench::bareRenameLoop(
                            shuffle, b.path(), bench::Naming::FullPaths, bench::RenameCall::Plain));
                }
            }
            allPass &= bench::reportRow(std::string("5 ") + (shuffle ? "shuffle" : "removal") +
                                            " pass (" + label + ")",
                                        n, korvalo, floor, target);
        }
    }
    return allPass ? 0 : 1;
}

// The pass against the loop making the same renames, where each file operation is slow (the
// kernel's vfat under emulation): the two folders are made once, and each repetition is a
// shuffle and the removal that brings the names back, so no repetition pays for making and
// deleting files. KORVALO_BENCH_REPS repetitions (default 3, no floor: one is a figure too).
int sameRenamesRows(const std::string &label, double target)
{
    const char *asked = std::getenv("KORVALO_BENCH_REPS");
    const int reps = asked && *asked ? std::max(1, std::atoi(asked)) : 3;
    bool allPass = true;
    for (const std::size_t n : bench::sizes({1000u})) {
        bench::ScratchFolder a("core");
        bench::ScratchFolder b("plain");
        const double started = bench::wallMs();
        bench::createFiles(a.path(), bench::musicNames(n));
        bench::createFiles(b.path(), bench::musicNames(n));
        std::printf("# %zu files: both folders made in %.1f s\n", n,
                    (bench::wallMs() - started) / 1000);
        std::vector<double> korvalo[2];
        std::vector<double> floor[2];
        for (int rep = 0; rep < reps; ++rep) {
            for (const bool shuffle : {true, false}) {
                // The two take turns at going first.
                for (int turn = 0; turn < 2; ++turn) {
                    if ((rep + turn) % 2 == 0)
                        korvalo[shuffle].push_back(bench::corePass(shuffle, a.path(), n));
                    else
                        floor[shuffle].push_back(bench::sameRenamesLoop(shuffle, b.path()));
                }
                std::printf("# repetition %d, %s: korvalo %.1f s, loop %.1f s\n", rep + 1,
                            shuffle ? "shuffle" : "removal", korvalo[shuffle].back() / 1000,
                            floor[shuffle].back() / 1000);
                std::fflush(stdout);
            }
        }
        for (const bool shuffle : {true, false}) {
            std::vector<double> ratios;
            for (std::size_t k = 0; k < korvalo[shuffle].size(); ++k)
                ratios.push_back(korvalo[shuffle][k] / floor[shuffle][k]);
            std::sort(ratios.begin(), ratios.end());
            std::printf("# %s ratios, lowest to highest:", shuffle ? "shuffle" : "removal");
            for (const double r : ratios)
                std::printf(" %.3f", r);
            std::printf("\n");
            allPass &= bench::reportRow(std::string("9 ") + (shuffle ? "shuffle" : "removal") +
                                            " pass (" + label + ")",
                                        n, korvalo[shuffle], floor[shuffle], target);
        }
    }
    return allPass ? 0 : 1;
}

std::size_t count(const char *arg)
{
    const long long n = std::atoll(arg);
    if (n <= 0)
        bench::fail(std::string("not a count: ") + arg);
    return static_cast<std::size_t>(n);
}

} // namespace

int main(int argc, char **argv)
{
    // On a FUSE mount the renames are worked by the driver's own process: only the wall clock
    // sees that time.
    ::setenv("KORVALO_BENCH_CLOCK", "wall", 1);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "time" && argc == 4) {
        std::printf("# passes through the core vs a plain rename(2) loop, %d repetitions, medians "
                    "of %s, on %s\n",
                    bench::repetitions(), bench::clockName(),
                    bench::describeFileSystem(bench::scratchBase()).c_str());
        return timeRows(argv[2], std::atof(argv[3]));
    }
    if (mode == "same" && argc == 4) {
        std::printf("# passes through the core vs a bare loop making the same renames, medians "
                    "of %s, on %s\n",
                    bench::clockName(), bench::describeFileSystem(bench::scratchBase()).c_str());
        return sameRenamesRows(argv[2], std::atof(argv[3]));
    }
    if (mode == "recovery" && argc == 4) {
        std::printf("# finishing a stopped shuffle vs a whole shuffle, through the session, %d "
                    "repetitions, medians of %s, on %s\n",
                    bench::repetitions(), bench::clockName(),
                    bench::describeFileSystem(bench::scratchBase()).c_str());
        bool allPass = true;
        for (const std::size_t n : bench::sizes({10000}))
            allPass &=
                bench::recoveryRow(std::string("8 finish a stopped shuffle (") + argv[2] + ")", n,
                                   bench::repetitions(), std::atof(argv[3]), n >= 10000);
        return allPass ? 0 : 1;
    }
    if (mode == "prepare" && argc == 5) {
        const std::filesystem::path dir = argv[2];
        if (::mkdir(dir.c_str(), 0755) != 0)
            bench::fail("cannot make " + dir.string() + ": " + std::strerror(errno));
        const std::vector<std::string> plain = bench::musicNames(count(argv[3]));
        bench::createFiles(dir, std::strcmp(argv[4], "prefixed") == 0 ? bench::withPrefixes(plain)
                                                                      : plain);
        return 0;
    }
    if (mode == "pass" && argc == 5) {
        bench::corePass(isShuffle(argv[2]), argv[3], count(argv[4]));
        return 0;
    }
    if (mode == "loop" && argc == 4) {
        bench::bareRenameLoop(isShuffle(argv[2]), argv[3], bench::Naming::FullPaths,
                              bench::RenameCall::Plain);
        return 0;
    }
    if (mode == "list" && argc == 4) {
        for (std::size_t k = 0; k < count(argv[3]); ++k) {
            korvalo::MusicFileList list;
            if (!list.setFolder(argv[2]).ok())
                bench::fail(std::string("cannot list ") + argv[2]);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: see the comment at the top of bench_mounted.cpp\n");
    return 2;
}

#pragma once

// Helpers shared by the benchmarks: a scratch folder on tmpfs where there is one, fast creation
// and removal of many files, realistic music file names, medians, and the result rows that
// scripts/bench.sh gathers into one table.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// Where the benchmark files go: $KORVALO_BENCH_DIR, else /dev/shm when it is a tmpfs, else the
// system's temporary folder.
std::filesystem::path scratchBase();
// "tmpfs (/dev/shm)", "ext4 (/tmp)"...: the file system under `path`, for the output.
std::string describeFileSystem(const std::filesystem::path &path);

// A fresh empty folder under `base`, removed with everything in it on destruction.
class ScratchFolder
{
public:
    explicit ScratchFolder(std::string_view tag, const std::filesystem::path &base = scratchBase());
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Creates empty files with these bare names in `folder`; aborts on any failure.
void createFiles(const std::filesystem::path &folder, const std::vector<std::string> &names);
// Removes every entry of `folder` (files only), leaving the folder.
void emptyFolder(const std::filesystem::path &folder);

// N distinct music file names ("Artist Name - Title Words 123.mp3", a quarter ".flac", a few in
// upper case) in a shuffled order, the same for the same N and seed.
std::vector<std::string> musicNames(std::size_t n, unsigned seed = 1);
// N distinct names that are not music files (covers, playlists, notes).
std::vector<std::string> otherNames(std::size_t n, unsigned seed = 2);
// The names with a four-digit order prefix in front, as a shuffle leaves them.
std::vector<std::string> withPrefixes(const std::vector<std::string> &names, unsigned seed = 3);
// Total bytes of the names.
std::size_t totalBytes(const std::vector<std::string> &names);

// Repetitions per figure: $KORVALO_BENCH_REPS, at least 5 (default 5).
int repetitions();
// Repetitions for a folder of n files: small folders take a few milliseconds, where one
// disturbance weighs more, so they get more: 25 up to 1,000 files, 11 up to 10,000, 7 above.
int repetitions(std::size_t n);
// The sizes to measure: $KORVALO_BENCH_SIZES ("1000,10000"), else the given default.
std::vector<std::size_t> sizes(std::vector<std::size_t> fallback);

double median(std::vector<double> values);

// Measures a stretch of work. By default the process's CPU time (user + system): on tmpfs both
// sides are all CPU work, and CPU time does not count the moments the scheduler gives the core to
// another program, which on a busy machine makes wall times swing. KORVALO_BENCH_CLOCK=wall
// measures the wall clock instead.
class Stopwatch
{
public:
    Stopwatch();
    double elapsedMs() const;

private:
    double m_start;
};
// "CPU time" or "wall clock", for the output.
const char *clockName();

// The clocks themselves, in milliseconds, for a breakdown that sets them side by side: the wall
// clock, the process's CPU time (every thread), and the calling thread's own CPU time.
double wallMs();
double processCpuMs();
double threadCpuMs();

// Prints one result line, human readable, and one machine line starting with "ROW\t" that
// scripts/bench.sh turns into the table. korvalo[k] and baseline[k] were measured side by side
// in repetition k; the ratio is the median of their per-repetition ratios, which a slow change
// of the machine's load disturbs less than the ratio of the two medians. A row that is not
// `binding` shows the ratio for the trend only ("info", no target). Returns whether the target
// holds.
bool reportRow(std::string_view figure, std::size_t n, const std::vector<double> &korvalo,
               const std::vector<double> &baseline, double targetRatio, bool binding = true,
               std::string_view unit = "ms");
// A row for what korvalo adds on top of a reference measured beside it, counted in bare loops:
// korvalo[k], reference[k] and baseline[k] were measured side by side in repetition k, and the
// target holds when the median of (korvalo[k] - reference[k]) / baseline[k] stays within `share`.
// As with reportRow(), the per-repetition figure decides, and the one of the three medians is
// shown beside it. Returns whether the target holds.
bool reportExcessRow(std::string_view figure, std::size_t n, const std::vector<double> &korvalo,
                     const std::vector<double> &reference, const std::vector<double> &baseline,
                     double share, bool binding = true);
// A row whose target is an absolute bound: `value` must stay below `limit`.
bool reportLimitRow(std::string_view figure, std::size_t n, double value, double reference,
                    double limit, std::string_view unit, std::string_view targetText);

// Prints the message and ends the process with a failure status.
[[noreturn]] void fail(std::string_view message);

} // namespace bench

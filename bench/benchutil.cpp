#include "benchutil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

namespace bench {

namespace {

constexpr long kTmpfsMagic = 0x01021994;

bool isTmpfs(const std::filesystem::path &path)
{
    struct statfs fs;
    return ::statfs(path.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kTmpfsMagic;
}

std::string fileSystemType(const std::filesystem::path &path)
{
    // The mount with the longest mount point that contains `path`.
    std::error_code ec;
    const std::string target = std::filesystem::weakly_canonical(path, ec).string();
    FILE *mounts = std::fopen("/proc/self/mounts", "r");
    if (!mounts)
        return "unknown";
    std::string best;
    std::string bestType = "unknown";
    char dev[512];
    char dir[512];
    char type[128];
    while (std::fscanf(mounts, "%511s %511s %127s %*[^\n]", dev, dir, type) == 3) {
        const std::string d = dir;
        const bool contains =
            target == d || d == "/" ||
            (target.rfind(d, 0) == 0 && target.size() > d.size() && target[d.size()] == '/');
        if (contains && d.size() >= best.size()) {
            best = d;
            bestType = type;
        }
    }
    std::fclose(mounts);
    return bestType;
}

} // namespace

std::filesystem::path scratchBase()
{
    if (const char *dir = std::getenv("KORVALO_BENCH_DIR"); dir && *dir)
        return dir;
    if (isTmpfs("/dev/shm") && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

std::string describeFileSystem(const std::filesystem::path &path)
{
    return fileSystemType(path) + " (" + path.string() + ")";
}

ScratchFolder::ScratchFolder(std::string_view tag, const std::filesystem::path &base)
{
    std::string templ = (base / ("korvalo-bench-" + std::string(tag) + "-XXXXXX")).string();
    if (!::mkdtemp(templ.data()))
        fail("cannot create a scratch folder under " + base.string() + ": " + std::strerror(errno));
    m_path = templ;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void createFiles(const std::filesystem::path &folder, const std::vector<std::string> &names)
{
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        fail("cannot open " + folder.string() + ": " + std::strerror(errno));
    for (const std::string &name : names) {
        // Opened for reading only: vfat mounted with `flush` waits a tenth of a second at each
        // close of a file opened for writing, and these stay empty.
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("cannot create " + name + " in " + folder.string() + ": " + std::strerror(errno));
        ::close(fd);
    }
    ::close(dirFd);
}

void emptyFolder(const std::filesystem::path &folder)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        fail("cannot open " + folder.string() + ": " + std::strerror(errno));
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    const int fd = ::dirfd(dir);
    for (const std::string &name : names)
        ::unlinkat(fd, name.c_str(), 0);
    ::closedir(dir);
}

namespace {

const char *const kWords[] = {
    "Blue",   "Night", "River",  "Summer", "Love",    "Dream",  "Heart",   "Fire",
    "Moon",   "Road",  "Song",   "Light",  "Rain",    "Stone",  "Golden",  "Wild",
    "Silver", "Ocean", "Shadow", "Dance",  "Echo",    "Winter", "Morning", "City",
    "Star",   "Sky",   "Time",   "Home",   "Garden",  "Storm",  "Velvet",  "Electric",
    "Lonely", "Sweet", "Broken", "Little", "Highway", "Angel",  "Thunder", "Paper"};
constexpr std::size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

std::string stem(std::mt19937 &rng, std::size_t k)
{
    auto word = [&] { return std::string(kWords[rng() % kWordCount]); };
    // "Artist Name - 07 - Title Words 4711": a track number, words, and a unique serial.
    char track[8];
    std::snprintf(track, sizeof track, "%02u", static_cast<unsigned>(rng() % 20 + 1));
    return word() + " " + word() + " - " + track + " - " + word() + " " + word() + " " +
           std::to_string(k);
}

} // namespace

std::vector<std::string> musicNames(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::string> names;
    names.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        const unsigned pick = rng() % 16;
        const char *ext = pick < 11 ? ".mp3" : pick < 15 ? ".flac" : ".MP3";
        names.push_back(stem(rng, k) + ext);
    }
    std::shuffle(names.begin(), names.end(), rng);
    return names;
}

std::vector<std::string> otherNames(std::size_t n, unsigned seed)
{
    static const char *const kExts[] = {".jpg", ".txt", ".m3u", ".nfo", ".png", ".cue", ".log"};
    std::mt19937 rng(seed);
    std::vector<std::string> names;
    names.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        names.push_back(stem(rng, k) + kExts[rng() % 7]);
    std::shuffle(names.begin(), names.end(), rng);
    return names;
}

std::vector<std::string> withPrefixes(const std::vector<std::string> &names, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::string> out;
    out.reserve(names.size());
    for (const std::string &name : names)
        out.push_back(std::to_string(1000 + rng() % 9000) + name);
    return out;
}

std::size_t totalBytes(const std::vector<std::string> &names)
{
    std::size_t total = 0;
    for (const std::string &name : names)
        total += name.size();
    return total;
}

int repetitions()
{
    int reps = 5;
    if (const char *env = std::getenv("KORVALO_BENCH_REPS"); env && *env)
        reps = std::atoi(env);
    return std::max(reps, 5);
}

int repetitions(std::size_t n)
{
    const int floor = n <= 1000 ? 25 : n <= 10000 ? 11 : 7;
    return std::max(repetitions(), floor);
}

std::vector<std::size_t> sizes(std::vector<std::size_t> fallback)
{
    const char *env = std::getenv("KORVALO_BENCH_SIZES");
    if (!env || !*env)
        return fallback;
    std::vector<std::size_t> out;
    const char *p = env;
    while (*p) {
        char *end = nullptr;
        const unsigned long long v = std::strtoull(p, &end, 10);
        if (end == p)
            break;
        if (v > 0)
            out.push_back(static_cast<std::size_t>(v));
        p = *end ? end + 1 : end;
    }
    return out.empty() ? fallback : out;
}

namespace {

bool wallClock()
{
    const char *env = std::getenv("KORVALO_BENCH_CLOCK");
    return env && std::strcmp(env, "wall") == 0;
}

double readClock(clockid_t id)
{
    timespec ts{};
    ::clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double clockMs()
{
    static const clockid_t id = wallClock() ? CLOCK_MONOTONIC : CLOCK_PROCESS_CPUTIME_ID;
    return readClock(id);
}

} // namespace

Stopwatch::Stopwatch() : m_start(clockMs()) {}

double Stopwatch::elapsedMs() const
{
    return clockMs() - m_start;
}

const char *clockName()
{
    return wallClock() ? "wall clock" : "CPU time";
}

double wallMs()
{
    return readClock(CLOCK_MONOTONIC);
}

double processCpuMs()
{
    return readClock(CLOCK_PROCESS_CPUTIME_ID);
}

double threadCpuMs()
{
    return readClock(CLOCK_THREAD_CPUTIME_ID);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

bool reportRow(std::string_view figure, std::size_t n, const std::vector<double> &korvalo,
               const std::vector<double> &baseline, double targetRatio, bool binding,
               std::string_view unit)
{
    if (korvalo.size() != baseline.size() || korvalo.empty())
        fail("unpaired measurements for " + std::string(figure));
    std::vector<double> ratios;
    for (std::size_t k = 0; k < korvalo.size(); ++k)
        ratios.push_back(baseline[k] > 0 ? korvalo[k] / baseline[k] : 0);
    const double ratio = median(ratios);
    const double k = median(korvalo);
    const double b = median(baseline);
    const bool pass = !binding || ratio <= targetRatio;
    char target[32];
    if (binding)
        std::snprintf(target, sizeof target, "<= %.2fx", targetRatio);
    else
        std::snprintf(target, sizeof target, "-");
    const char *verdict = !binding ? "info" : pass ? "pass" : "FAIL";
    const int u = static_cast<int>(unit.size());
    const int f = static_cast<int>(figure.size());
    std::printf("%-36.*s N=%-7zu reps %2zu  korvalo %9.2f %.*s  baseline %9.2f %.*s  "
                "ratio %5.2fx (of medians %5.2fx)  target %s  %s\n",
                f, figure.data(), n, korvalo.size(), k, u, unit.data(), b, u, unit.data(), ratio,
                b > 0 ? k / b : 0, target, verdict);
    std::printf("ROW\t%.*s\t%zu\t%.2f %.*s\t%.2f %.*s\t%.2fx\t%s\t%s\n", f, figure.data(), n, k, u,
                unit.data(), b, u, unit.data(), ratio, target, verdict);
    std::fflush(stdout);
    return pass;
}

bool reportExcessRow(std::string_view figure, std::size_t n, const std::vector<double> &korvalo,
                     const std::vector<double> &reference, const std::vector<double> &baseline,
                     double share, bool binding)
{
    if (korvalo.size() != baseline.size() || reference.size() != baseline.size() || korvalo.empty())
        fail("unpaired measurements for " + std::string(figure));
    std::vector<double> excesses;
    for (std::size_t k = 0; k < korvalo.size(); ++k)
        excesses.push_back(baseline[k] > 0 ? (korvalo[k] - reference[k]) / baseline[k] : 0);
    const double excess = median(excesses);
    const double k = median(korvalo);
    const double r = median(reference);
    const double b = median(baseline);
    const bool pass = !binding || excess <= share;
    char target[32];
    if (binding)
        std::snprintf(target, sizeof target, "<= %+.2f bare", share);
    else
        std::snprintf(target, sizeof target, "-");
    const char *verdict = !binding ? "info" : pass ? "pass" : "FAIL";
    const int f = static_cast<int>(figure.size());
    std::printf("%-36.*s N=%-7zu reps %2zu  korvalo %9.2f ms  reference %9.2f ms  bare %9.2f ms  "
                "excess %+5.2f bare (of medians %+5.2f)  target %s  %s\n",
                f, figure.data(), n, korvalo.size(), k, r, b, excess, b > 0 ? (k - r) / b : 0,
                target, verdict);
    std::printf("ROW\t%.*s\t%zu\t%.2f ms\t%.2f ms\t%+.2f bare\t%s\t%s\n", f, figure.data(), n, k, r,
                excess, target, verdict);
    std::fflush(stdout);
    return pass;
}

bool reportLimitRow(std::string_view figure, std::size_t n, double value, double reference,
                    double limit, std::string_view unit, std::string_view targetText)
{
    const double diff = value - reference;
    const bool pass = diff < limit;
    std::printf("%-28.*s N=%-7zu korvalo %10.2f %.*s  baseline %10.2f %.*s  diff %+.2f %.*s  "
                "target %.*s  %s\n",
                static_cast<int>(figure.size()), figure.data(), n, value,
                static_cast<int>(unit.size()), unit.data(), reference,
                static_cast<int>(unit.size()), unit.data(), diff, static_cast<int>(unit.size()),
                unit.data(), static_cast<int>(targetText.size()), targetText.data(),
                pass ? "pass" : "FAIL");
    std::printf("ROW\t%.*s\t%zu\t%.2f %.*s\t%.2f %.*s\t%+.2f %.*s\t%.*s\t%s\n",
                static_cast<int>(figure.size()), figure.data(), n, value,
                static_cast<int>(unit.size()), unit.data(), reference,
                static_cast<int>(unit.size()), unit.data(), diff, static_cast<int>(unit.size()),
                unit.data(), static_cast<int>(targetText.size()), targetText.data(),
                pass ? "pass" : "FAIL");
    std::fflush(stdout);
    return pass;
}

void fail(std::string_view message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "benchmark failed: %.*s\n", static_cast<int>(message.size()),
                 message.data());
    std::exit(2);
}

} // namespace bench

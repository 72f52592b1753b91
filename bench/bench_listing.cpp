// Taking the snapshot of a folder (MusicFileList::setFolder, sorting included) against a bare
// readdir loop that keeps the same names unsorted. N music files plus as many other files.

#include "benchutil.h"

#include "browse/musicfilelist.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>

namespace {

bool endsWithNoCase(const char *name, std::size_t len, const char *suffix, std::size_t slen)
{
    if (len < slen)
        return false;
    for (std::size_t k = 0; k < slen; ++k) {
        char c = name[len - slen + k];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[k])
            return false;
    }
    return true;
}

// The bare loop: every entry, kept when its name ends in ".mp3" or ".flac".
std::vector<std::string> bareListing(const std::filesystem::path &folder)
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        bench::fail("opendir " + folder.string());
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.')
            continue;
        const std::size_t len = std::strlen(name);
        if (endsWithNoCase(name, len, ".mp3", 4) || endsWithNoCase(name, len, ".flac", 5))
            names.emplace_back(name, len);
    }
    ::closedir(dir);
    return names;
}

} // namespace

int main()
{
    const int reps = bench::repetitions();
    std::printf("# listing: MusicFileList::setFolder vs bare readdir loop, at least %d "
                "repetitions, medians "
                "of %s, on %s\n",
                reps, bench::clockName(), bench::describeFileSystem(bench::scratchBase()).c_str());
    bool allPass = true;
    for (const std::size_t n : bench::sizes({1000, 10000, 100000})) {
        bench::ScratchFolder folder("listing");
        bench::createFiles(folder.path(), bench::musicNames(n));
        bench::createFiles(folder.path(), bench::otherNames(n));

        std::vector<double> korvalo;
        std::vector<double> baseline;
        // One untimed round of each first, then the timed rounds, alternating which goes first.
        for (int rep = -1; rep < bench::repetitions(n); ++rep) {
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == (rep % 2 == 0)) {
                    korvalo::MusicFileList list;
                    const bench::Stopwatch watch;
                    const korvalo::ListError err = list.setFolder(folder.path());
                    const double ms = watch.elapsedMs();
                    if (!err.ok() || static_cast<std::size_t>(list.count()) != n)
                        bench::fail("MusicFileList listed " + std::to_string(list.count()) +
                                    " names, expected " + std::to_string(n));
                    if (rep >= 0)
                        korvalo.push_back(ms);
                } else {
                    const bench::Stopwatch watch;
                    const std::vector<std::string> names = bareListing(folder.path());
                    const double ms = watch.elapsedMs();
                    if (names.size() != n)
                        bench::fail("bare loop listed " + std::to_string(names.size()) +
                                    " names, expected " + std::to_string(n));
                    if (rep >= 0)
                        baseline.push_back(ms);
                }
            }
        }
        // The target binds at 100,000 files; smaller folders show the trend.
        allPass &=
            bench::reportRow("1 listing (setFolder)", n, korvalo, baseline, 2.0, n >= 100000);
    }
    return allPass ? 0 : 1;
}

#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// The names of a folder in the order the program's music file list gives them.
std::vector<std::string> snapshotNames(const std::filesystem::path &folder);

// How the bare loop names the files to renameat2.
enum class Naming
{
    FullPaths, // folder + "/" + name, as the program names them: the baseline of the targets
    OpenFolder // bare names relative to the open folder: no path walk at all, for comparison
};

// The baseline of a pass: the folder's music names are read before the clock starts, then one
// renameat2(RENAME_NOREPLACE) per file and nothing else: a random four-digit prefix put in front
// (shuffle) or the first four characters taken off (removal). Returns milliseconds; any failed
// rename ends the benchmark.
double bareRenameLoop(bool shuffle, const std::filesystem::path &folder,
                      Naming naming = Naming::FullPaths);

} // namespace bench

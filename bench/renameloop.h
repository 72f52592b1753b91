#pragma once

#include <cstddef>
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

// Which call renames each file.
enum class RenameCall
{
    NoReplace, // renameat2(RENAME_NOREPLACE): the safe floor where the file system has it
    Plain      // rename(2), which replaces an existing target: the unsafe floor on FUSE drivers,
               // which refuse the flag
};

// The baseline of a pass: the folder's music names are read before the clock starts, then one
// rename call per file and nothing else: a random four-digit prefix put in front (shuffle) or the
// first four characters taken off (removal). Returns milliseconds; any failed rename ends the
// benchmark.
double bareRenameLoop(bool shuffle, const std::filesystem::path &folder,
                      Naming naming = Naming::FullPaths, RenameCall call = RenameCall::NoReplace);

// The renames a pass makes on FAT or exFAT, made by a bare loop: each file renamed as
// bareRenameLoop() does (with RENAME_NOREPLACE), then a folder made inside, every file moved
// into it, the folder renamed, every file moved back in name order and the folder removed.
// The floor of a pass that also arranges the stored order. Returns milliseconds.
double sameRenamesLoop(bool shuffle, const std::filesystem::path &folder);

// One pass through the core over the folder's `n` music files, as bench_passes measures it: the
// list read before the clock starts, a progress sink that does nothing, the final re-read of the
// list included; with a state folder, the pass keeps its journal there. Returns milliseconds; a
// pass that does not rename every file ends the benchmark.
double corePass(bool shuffle, const std::filesystem::path &folder, std::size_t n,
                const std::filesystem::path &stateFolder = {});
// The replace pass through the core, recorded in `stateFolder`, over the `n` files of `folder`:
// new digits for every prefix, one rename per file. Milliseconds, as corePass().
double coreReplacePass(const std::filesystem::path &folder, std::size_t n,
                       const std::filesystem::path &stateFolder);
// A shuffle answered as --again answers it, recorded in `stateFolder`: a second prefix on names
// that carry one.
double coreShuffleAgainPass(const std::filesystem::path &folder, std::size_t n,
                            const std::filesystem::path &stateFolder);

} // namespace bench

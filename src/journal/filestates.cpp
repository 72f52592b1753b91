#include "journal/filestates.h"

#include <unordered_map>
#include <unordered_set>

namespace korvalo {

// The pass renamed its files one after the other, so the renamed ones are those before some
// point, less any refused. For most files the folder shows which side of that point they are on:
// the old name is there and the new one not, or the other way round. Both names are there when a
// file took the name another file left (a name that already began with digits, shuffled along
// with the same name without them), when a file's planned name was taken by a file outside the
// pass, or when someone put a file there since. Such a file is taken as renamed when a file later
// in the pass is seen renamed, or when the pass's end line says it was tried.
//
// A file the pass renamed took a name that was free at the time: if that name was another file's
// name before the pass, that file had been renamed before it. So a file that seems renamed, while
// its new name is the old name of a file still under it, is not the file the pass renamed: it is
// taken as missing, and left alone.
std::vector<FileState> fileStates(const PassRecord &pass, std::span<const FileName> folderNames)
{
    const std::unordered_set<FileName> present(folderNames.begin(), folderNames.end());
    const std::size_t n = pass.files.size();
    std::vector<char> hasOld(n), hasNew(n);
    int cut = 0;
    for (std::size_t i = 0; i < n; ++i) {
        hasOld[i] = present.count(pass.files[i].from) > 0;
        hasNew[i] = present.count(pass.files[i].to) > 0;
        if (hasNew[i] && !hasOld[i])
            cut = static_cast<int>(i) + 1;
    }
    if (pass.end)
        cut = pass.attempted;

    std::vector<FileState> states(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (hasOld[i] && hasNew[i]) {
            states[i] = static_cast<int>(i) < cut && !isRefused(pass, i) ? FileState::Done
                                                                         : FileState::NotDone;
        } else if (hasNew[i]) {
            states[i] = FileState::Done;
        } else if (hasOld[i]) {
            states[i] = FileState::NotDone;
        } else {
            states[i] = FileState::Missing;
        }
    }
    std::unordered_map<FileName, std::size_t> notDoneFrom;
    for (std::size_t i = 0; i < n; ++i) {
        if (states[i] == FileState::NotDone)
            notDoneFrom.emplace(pass.files[i].from, i);
    }
    if (!notDoneFrom.empty()) {
        for (std::size_t i = 0; i < n; ++i) {
            if (states[i] != FileState::Done)
                continue;
            const auto other = notDoneFrom.find(pass.files[i].to);
            if (other != notDoneFrom.end() && other->second != i)
                states[i] = FileState::Missing;
        }
    }
    return states;
}

} // namespace korvalo

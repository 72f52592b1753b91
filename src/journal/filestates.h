#pragma once

#include "journal/passrecord.h"

#include <span>
#include <vector>

namespace korvalo {

// Where one file of a recorded pass stands, as the folder's names show it.
enum class FileState
{
    NotDone, // still under its name from before the pass
    Done,    // under the name the pass gave it
    Missing  // under neither name: renamed, moved or deleted by someone else since
};

// The state of each file of the pass, in announcement order.
std::vector<FileState> fileStates(const PassRecord &pass, std::span<const FileName> folderNames);

} // namespace korvalo

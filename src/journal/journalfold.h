#pragma once

// Folding a pass into what is known of its folder: which names carry a prefix Korvalo wrote.

#include "journal/filestates.h"
#include "journal/passrecord.h"

#include <map>
#include <span>
#include <vector>

namespace korvalo {

// Folds renames into what is known of the folder: a file renamed by a pass that writes a prefix
// carries one more prefix than before; one renamed by a pass that takes four digits off carries
// one fewer (none if its digits were not Korvalo's). A file gone elsewhere is forgotten.
void fold(const PassRecord &pass, const std::vector<FileState> &states,
          std::map<FileName, int> &prefixed);

// The states of a pass that ended: every file it tried and was not refused is renamed.
std::vector<FileState> statesAsRecorded(const PassRecord &pass);

// Forgets the names that are not among `listed` (nothing when `listed` is empty).
void prune(std::map<FileName, int> &prefixed, std::span<const FileName> listed);

} // namespace korvalo

#include "journal/journalfold.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace korvalo {

namespace {

// How many of Korvalo's prefixes a file carries after its rename, from `before`.
int foldedDepth(PassKind kind, const PlannedRename &file, int before)
{
    if (kind == PassKind::Replace) {
        // Put in front of a name, or taken off it (a replace pass undone), as the names show.
        if (file.to.size() == file.from.size() + 4)
            return before + 1;
        if (file.from.size() == file.to.size() + 4)
            return std::max(before - 1, 0);
        // New digits for old: the user took the old ones for a prefix, Korvalo's or one written
        // elsewhere, so the new name carries at least one of Korvalo's.
        return std::max(before, 1);
    }
    return addsPrefix(kind) ? before + 1 : std::max(before - 1, 0);
}

} // namespace

void fold(const PassRecord &pass, const std::vector<FileState> &states,
          std::map<FileName, int> &prefixed)
{
    // Files that only passed through another folder keep their names and their prefixes.
    if (pass.kind == PassKind::Order)
        return;
    // A pass over a large folder brings as many names as the folder holds: looking each one up in
    // the tree would wander all over memory. The files are sorted by name instead, and the tree is
    // walked once in order beside them, each name met where it stands. The old names go first,
    // then the new ones come in. No file of a pass takes a name that a file after it leaves (the
    // rename would have found it taken), so the order gives the same result. Should a name come
    // twice, the file first in the pass counts.
    const std::vector<PlannedRename> &files = pass.files;
    const auto byName = [&files](FileName PlannedRename::*side) {
        return [&files, side](std::size_t a, std::size_t b) {
            const int c = (files[a].*side).compare(files[b].*side);
            return c < 0 || (c == 0 && a < b);
        };
    };
    std::vector<std::size_t> moved;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (states[i] != FileState::NotDone)
            moved.push_back(i);
    }
    std::sort(moved.begin(), moved.end(), byName(&PlannedRename::from));
    std::vector<int> depth(files.size(), 0);
    auto it = prefixed.begin();
    for (const std::size_t i : moved) {
        const FileName &from = files[i].from;
        while (it != prefixed.end() && it->first < from)
            ++it;
        if (it != prefixed.end() && it->first == from) {
            depth[i] = it->second;
            it = prefixed.erase(it);
        }
    }

    // A file renamed by a pass that writes a prefix carries one more than before; one renamed by a
    // pass that takes four digits off carries one fewer (none if its digits were not Korvalo's).
    std::vector<std::size_t> renamed;
    for (const std::size_t i : moved) {
        if (states[i] == FileState::Missing)
            continue;
        depth[i] = foldedDepth(pass.kind, files[i], depth[i]);
        renamed.push_back(i);
    }
    std::sort(renamed.begin(), renamed.end(), byName(&PlannedRename::to));
    it = prefixed.begin();
    for (const std::size_t i : renamed) {
        const FileName &to = files[i].to;
        while (it != prefixed.end() && it->first < to)
            ++it;
        const bool there = it != prefixed.end() && it->first == to;
        if (depth[i] > 0 && there)
            (it++)->second = depth[i];
        else if (depth[i] > 0)
            prefixed.emplace_hint(it, to, depth[i]); // just before `it`, where it belongs
        else if (there)
            it = prefixed.erase(it);
    }
}

std::vector<FileState> statesAsRecorded(const PassRecord &pass)
{
    std::vector<FileState> states(pass.files.size(), FileState::NotDone);
    for (int i = 0; i < pass.attempted && i < static_cast<int>(states.size()); ++i) {
        if (!isRefused(pass, static_cast<std::size_t>(i)))
            states[static_cast<std::size_t>(i)] = FileState::Done;
    }
    return states;
}

void prune(std::map<FileName, int> &prefixed, std::span<const FileName> listed)
{
    if (listed.empty() || prefixed.empty())
        return;
    using View = std::basic_string_view<FileName::value_type>;
    const std::unordered_set<View> present(listed.begin(), listed.end());
    std::erase_if(prefixed, [&](const auto &entry) { return !present.count(View(entry.first)); });
}

} // namespace korvalo

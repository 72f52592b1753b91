#include "passes/journalfold.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace korvalo {

void fold(const PassRecord &pass, const std::vector<FileState> &states,
          std::map<FileName, int> &prefixed)
{
    // Files that only passed through another folder keep their names and their prefixes.
    if (pass.kind == PassKind::Order)
        return;
    // The old names go first, then the new ones come in sorted, each next to the one before: a
    // pass over a large folder brings as many names, and inserting them one by one in pass order
    // would search the whole tree for each. No file of a pass takes a name that a file after it
    // leaves (the rename would have found it taken), so the order gives the same result.
    std::vector<std::pair<FileName, int>> added;
    std::vector<const FileName *> cleared;
    for (std::size_t i = 0; i < pass.files.size(); ++i) {
        if (states[i] == FileState::NotDone)
            continue;
        const PlannedRename &file = pass.files[i];
        int depth = 0;
        if (const auto it = prefixed.find(file.from); it != prefixed.end()) {
            depth = it->second;
            prefixed.erase(it);
        }
        if (states[i] == FileState::Missing)
            continue;
        depth = addsPrefix(pass.kind) ? depth + 1 : std::max(depth - 1, 0);
        if (depth > 0)
            added.emplace_back(file.to, depth);
        else
            cleared.push_back(&file.to);
    }
    for (const FileName *name : cleared)
        prefixed.erase(*name);
    std::sort(added.begin(), added.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    auto hint = prefixed.begin();
    for (auto &[name, depth] : added)
        hint = std::next(prefixed.insert_or_assign(hint, std::move(name), depth));
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

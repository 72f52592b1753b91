#include "browse/musicfilelist.h"
#include "browse/asciichars.h"
#include "browse/naturalorder.h"

#include <algorithm>
#include <cerrno>
#include <memory>

namespace korvalo {

namespace {

bool endsWithNoCase(std::string_view name, std::string_view suffix)
{
    if (name.size() < suffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t k = 0; k < suffix.size(); ++k) {
        if (foldAsciiCase(tail[k]) != suffix[k])
            return false;
    }
    return true;
}

// Reads the bare names of `folder` whose kind is `wanted` and that pass `accept`. Returns 0, or
// the error number of the call that failed, also when it failed after some entries: the caller
// then keeps nothing of what it was given.
template <typename Accept>
int readFolder(FolderCalls &calls, const std::filesystem::path &folder, EntryKind wanted,
               Accept accept)
{
    int err = 0;
    const std::unique_ptr<FolderCalls::Stream> stream = calls.open(folder, err);
    if (!stream)
        return err != 0 ? err : EIO;
    std::string_view name;
    while (stream->next(name, err)) {
        if (isHiddenName(name)) // also ".", ".." and the "._" companions macOS writes
            continue;
        if (wanted == EntryKind::File && !isMusicFileName(name))
            continue;
        if (stream->kind() == wanted)
            accept(name);
    }
    return err;
}

} // namespace

bool isMusicFileName(std::string_view name)
{
    return endsWithNoCase(name, ".mp3") || endsWithNoCase(name, ".flac");
}

bool isHiddenName(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

ListError MusicFileList::read(const std::filesystem::path &folder)
{
    std::string names;
    std::vector<Entry> entries;
    const int err = readFolder(*m_calls, folder, EntryKind::File, [&](std::string_view name) {
        entries.push_back(
            {static_cast<std::uint32_t>(names.size()), static_cast<std::uint32_t>(name.size())});
        names.append(name);
    });
    if (err != 0)
        return ListError::fromSystemError(err);

    const auto view = [&names](const Entry &e) {
        return std::string_view(names.data() + e.offset, e.length);
    };
    // Most comparisons are decided by the first bytes: compare those as two numbers and read
    // the names only where they agree: on a large folder the sort is most of the listing's time.
    struct Keyed
    {
        NaturalKey key;
        Entry entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (const Entry &e : entries)
        keyed.push_back({naturalPrefixKey(view(e)), e});
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed &a, const Keyed &b) {
        if (a.key != b.key)
            return a.key < b.key;
        return naturalLess(view(a.entry), view(b.entry));
    });
    for (std::size_t k = 0; k < keyed.size(); ++k)
        entries[k] = keyed[k].entry;
    names.shrink_to_fit();
    entries.shrink_to_fit();
    m_names = std::move(names);
    m_entries = std::move(entries);
    return {};
}

ListError MusicFileList::setFolder(const std::filesystem::path &folder)
{
    const ListError err = read(folder);
    if (!err.ok())
        return err;
    m_folder = folder;
    return {};
}

ListError MusicFileList::refresh()
{
    if (m_folder.empty())
        return {};
    return read(m_folder);
}

std::string_view MusicFileList::nameView(int index) const
{
    const Entry &e = m_entries.at(static_cast<std::size_t>(index));
    return {m_names.data() + e.offset, e.length};
}

std::filesystem::path MusicFileList::name(int index) const
{
    return pathOfName(nameView(index));
}

ListError listSubfolders(const std::filesystem::path &folder,
                         std::vector<std::filesystem::path> &out, FolderCalls &calls)
{
    std::vector<std::string> names;
    const int err = readFolder(calls, folder, EntryKind::Folder,
                               [&](std::string_view name) { names.emplace_back(name); });
    if (err != 0)
        return ListError::fromSystemError(err);
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return naturalLess(a, b); });
    out.clear();
    out.reserve(names.size());
    for (auto &n : names)
        out.push_back(pathOfName(n));
    return {};
}

} // namespace korvalo

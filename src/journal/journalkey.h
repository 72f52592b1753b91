#pragma once

#include "browse/mountinfo.h"
#include "journal/passrecord.h"

#include <filesystem>
#include <optional>

namespace korvalo {

// The journal's key of a folder on a mount: its volume (UUID, else the mount's source) and its
// path inside the volume, with the stick's identity and the path as typed beside it.
JournalKey journalKey(const MountInfo &mount);
// The same for a folder, looked up in the mount table. nullopt when the folder cannot be stat'ed.
std::optional<JournalKey> journalKeyOf(const std::filesystem::path &folder);

} // namespace korvalo

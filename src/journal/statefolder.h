#pragma once

#include <filesystem>

namespace korvalo {

// The folder where Korvalo keeps what it must remember about the user's music folders (the pass
// journal): $XDG_STATE_HOME/korvalo, else ~/.local/state/korvalo; on Windows
// %LOCALAPPDATA%\Korvalo. Never on the stick. Empty when no home folder can be found.
std::filesystem::path stateFolder();

} // namespace korvalo

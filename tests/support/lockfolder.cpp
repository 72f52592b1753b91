// Compiled into every test: under CTest each test keeps its pass locks in a folder of its own
// (KORVALO_TEST_LOCK_FOLDER, set in tests/CMakeLists.txt), so tests run side by side on one disk
// never find each other's locks, even where /run/user/<uid> exists and would be shared by all.
// korvalo-cli, run by its tests as a program of its own, follows the program's rule.

#include "passes/passlock.h"

#include <cstdlib>

namespace {

const bool lockFolderChosen = [] {
    if (const char *folder = std::getenv("KORVALO_TEST_LOCK_FOLDER"); folder && folder[0] == '/')
        korvalo::PassLock::setFolderForTests(folder);
    return true;
}();

} // namespace

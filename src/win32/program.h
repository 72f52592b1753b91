#pragma once

// korvalo.exe's run: the common controls, the one window and its message loop.

#include "passes/rename.h"
#include "win32/form.h"

#include <windows.h>

namespace win32 {

// Shows the window as wWinMain() is asked to and runs until it is closed; gives the exit status.
// The window's passes rename through `renameCalls`; `observer`, if any, watches the window.
int runWindow(HINSTANCE instance, int show,
              korvalo::RenameSystem &renameCalls = korvalo::systemRenameCalls(),
              FormObserver *observer = nullptr);

} // namespace win32

// korvalo.exe: Korvalo's window on Windows, made of the system's own controls.

#include "win32/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    return win32::runWindow(instance, show);
}

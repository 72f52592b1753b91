#include "cli/terminal.h"

#include "cli/console_windows.h"

#include <atomic>

#include <windows.h>

namespace korvalo::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_endAtOnce{false};

// Windows calls this on a thread of its own for Ctrl-C and Ctrl-Break: the same as SIGINT does on
// POSIX systems. Closing the console or logging off is left to the system's default, which ends
// the program as a signal would.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted = true;
    if (g_endAtOnce) {
        // The question's line is left open: end it, so the prompt starts on its own.
        const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
        DWORD wrote = 0;
        if (isConsole(err))
            ::WriteConsoleW(err, L"\n", 1, &wrote, nullptr);
        else
            ::WriteFile(err, "\n", 1, &wrote, nullptr);
        // At once, as _exit() does: nothing is being renamed while a question waits.
        ::TerminateProcess(::GetCurrentProcess(), kInterrupted);
    }
    return TRUE;
}

} // namespace

void attachTerminal(Console &console)
{
    console.askQuestions = isConsole(::GetStdHandle(STD_INPUT_HANDLE));
    console.showProgress = isConsole(::GetStdHandle(STD_ERROR_HANDLE));
    console.interrupted = [] { return g_interrupted.load(); };
    console.asking = [](bool on) { g_endAtOnce = on; };
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace korvalo::cli

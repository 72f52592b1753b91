#include "cli/terminal.h"

#include "browse/widetext_windows.h"
#include "cli/console_windows.h"
#include "session/texts.h"

#include <atomic>
#include <string>

#include <windows.h>

namespace korvalo::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_endAtOnce{false};
// Written as the program ends at a question: made before any Ctrl-C can come.
const std::string g_atQuestion = "\n" + korvalo::texts::questionInterrupted() + "\n";
const std::wstring g_atQuestionWide = korvalo::wideFromUtf8(g_atQuestion);

// Windows calls this on a thread of its own for Ctrl-C and Ctrl-Break: the same as SIGINT does on
// POSIX systems. Closing the console or logging off is left to the system's default, which ends
// the program as a signal would.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted = true;
    if (g_endAtOnce) {
        // The question's line is left open: end it and say what happened, so the prompt starts
        // on its own.
        const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
        DWORD wrote = 0;
        if (isConsole(err))
            ::WriteConsoleW(err, g_atQuestionWide.data(),
                            static_cast<DWORD>(g_atQuestionWide.size()), &wrote, nullptr);
        else
            ::WriteFile(err, g_atQuestion.data(), static_cast<DWORD>(g_atQuestion.size()), &wrote,
                        nullptr);
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

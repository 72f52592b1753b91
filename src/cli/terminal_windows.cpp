#include "cli/terminal.h"

#include "browse/widetext_windows.h"
#include "cli/console_windows.h"
#include "session/texts.h"

#include <atomic>
#include <string>

#include <windows.h>

namespace korvalo::cli {

namespace {

// The first request to stop: the exit status it gives, 0 before any. Later ones change nothing.
std::atomic<int> g_stopStatus{0};
std::atomic<bool> g_endAtOnce{false};
// Written as the program ends at a question: made before any Ctrl-C can come.
const std::string g_atQuestion = [] {
    std::string line(1, '\n');
    line.append(korvalo::texts::questionInterrupted()).push_back('\n');
    return line;
}();
const std::wstring g_atQuestionWide = korvalo::wideFromUtf8(g_atQuestion);

int statusOf(DWORD event)
{
    switch (event) {
    case CTRL_CLOSE_EVENT:
        return kHangUp;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return kTerminated;
    default:
        return kInterrupted;
    }
}

// Windows calls this on a thread of its own: Ctrl-C and Ctrl-Break as SIGINT on POSIX systems,
// the console window closed as SIGHUP, a logoff or shutdown as SIGTERM.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    int none = 0;
    g_stopStatus.compare_exchange_strong(none, statusOf(event));
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
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(g_stopStatus.load()));
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process as soon as this returns, and after a few seconds whatever it
        // does (5 for a closed console, 20 at a logoff, less at a shutdown): the pass stops after
        // the file in hand meanwhile, and the program's own end (the return from wmain) ends this
        // thread with it. Until then the pass is given all the time there is.
        ::Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

void attachTerminal(Console &console)
{
    console.askQuestions = isConsole(::GetStdHandle(STD_INPUT_HANDLE));
    console.showProgress = isConsole(::GetStdHandle(STD_ERROR_HANDLE));
    console.interrupted = [] { return g_stopStatus.load() != 0; };
    console.stopStatus = [] {
        const int status = g_stopStatus.load();
        return status != 0 ? status : int(kInterrupted);
    };
    console.asking = [](bool on) { g_endAtOnce = on; };
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace korvalo::cli

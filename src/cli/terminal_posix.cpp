#include "cli/terminal.h"

#include <csignal>

#include <unistd.h>

namespace korvalo::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_endAtOnce = 0;

void onInterrupt(int)
{
    g_interrupted = 1;
    if (g_endAtOnce) {
        // The question's line is left open: end it, so the shell's prompt starts on its own.
        const char newline = '\n';
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, &newline, 1);
        ::_exit(kInterrupted);
    }
}

} // namespace

void attachTerminal(Console &console)
{
    console.askQuestions = ::isatty(STDIN_FILENO) == 1;
    console.showProgress = ::isatty(STDERR_FILENO) == 1;
    console.interrupted = [] { return g_interrupted != 0; };
    console.asking = [](bool on) { g_endAtOnce = on ? 1 : 0; };

    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarted, not failed: a rename on a FUSE mount would otherwise fail with EINTR.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace korvalo::cli

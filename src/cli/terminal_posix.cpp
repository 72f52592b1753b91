#include "cli/terminal.h"

#include "session/texts.h"

#include <csignal>
#include <string>

#include <unistd.h>

namespace korvalo::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_endAtOnce = 0;
// Written as the program ends at a question: made before any signal can come.
const std::string g_atQuestion = "\n" + korvalo::texts::questionInterrupted() + "\n";

void onInterrupt(int)
{
    g_interrupted = 1;
    if (g_endAtOnce) {
        // The question's line is left open: end it and say what happened, so the shell's prompt
        // starts on its own.
        [[maybe_unused]] const ssize_t written =
            ::write(STDERR_FILENO, g_atQuestion.data(), g_atQuestion.size());
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

#include "cli/terminal.h"

#include "session/texts.h"

#include <csignal>
#include <string>

#include <unistd.h>

namespace korvalo::cli {

namespace {

// The first request to stop: its signal. Later ones change nothing; the pass is stopping already.
volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_endAtOnce = 0;
// Written as the program ends at a question: made before any signal can come.
const std::string g_atQuestion = "\n" + korvalo::texts::questionInterrupted() + "\n";

constexpr int statusOf(int signal)
{
    switch (signal) {
    case SIGHUP:
        return kHangUp;
    case SIGTERM:
        return kTerminated;
    default:
        return kInterrupted;
    }
}

void onStopRequest(int signal)
{
    if (g_signal == 0)
        g_signal = signal;
    if (g_endAtOnce) {
        // The question's line is left open: end it and say what happened, so the shell's prompt
        // starts on its own.
        [[maybe_unused]] const ssize_t written =
            ::write(STDERR_FILENO, g_atQuestion.data(), g_atQuestion.size());
        ::_exit(statusOf(g_signal));
    }
}

} // namespace

void attachTerminal(Console &console)
{
    console.askQuestions = ::isatty(STDIN_FILENO) == 1;
    console.showProgress = ::isatty(STDERR_FILENO) == 1;
    console.interrupted = [] { return g_signal != 0; };
    console.stopStatus = [] { return statusOf(g_signal); };
    console.asking = [](bool on) { g_endAtOnce = on ? 1 : 0; };

    struct sigaction action = {};
    action.sa_handler = onStopRequest;
    sigemptyset(&action.sa_mask);
    // The handler runs for one of them at a time: the first one's status is kept.
    for (const int signal : {SIGINT, SIGHUP, SIGTERM})
        sigaddset(&action.sa_mask, signal);
    // Restarted, not failed: a rename on a FUSE mount would otherwise fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGHUP, SIGTERM}) {
        // Started with nohup: a closed terminal is no request to stop.
        struct sigaction before = {};
        if (signal == SIGHUP && ::sigaction(signal, nullptr, &before) == 0 &&
            before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace korvalo::cli

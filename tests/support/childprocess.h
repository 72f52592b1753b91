#pragma once

// A pass run in a child process, so that it can die the way a killed program does while the test
// goes on to look at what it left.

#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

// Runs `body` in a child process and gives its exit status (-1 when it did not exit normally, as
// when it was killed).
template <typename Body> int inChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Runs `body` in a child process that dies with the test, for at most `timeoutMs`: gives its exit
// status, -1 when it did not exit normally, -2 when it was still running then (it is killed).
// For calls that must not hang.
template <typename Body> int inChildWithin(int timeoutMs, Body body)
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127); // the test ended before the line above
        ::_exit(body());
    }
    if (pid < 0)
        return -1;
    for (int waited = 0;; waited += 5) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0)
            return -1;
        if (waited >= timeoutMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -2;
        }
        ::usleep(5000);
    }
}

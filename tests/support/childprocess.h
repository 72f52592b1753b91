#pragma once

// A pass run in a child process, so that it can die the way a killed program does while the test
// goes on to look at what it left.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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

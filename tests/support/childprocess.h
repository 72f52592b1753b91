#pragma once

// Child processes of a test: a pass run in a child so that it can die the way a killed program
// does while the test goes on to look at what it left, or a process that holds a lock meanwhile.
// Every child dies with its test: killed by the kernel when the test process ends however it ends
// (a crash, a timeout's kill), and by ChildGuard when the test function returns early. A child
// left behind would hold the volume's lock and fail the next runs.

#include <climits>
#include <csignal>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// fork() for a test: in the child, the kernel sends SIGKILL once the test process ends.
inline pid_t forkTestChild()
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) // the test ended before the line above
            ::_exit(127);
    }
    return pid;
}

// Kills and reaps a child that is still there when the guard goes out of scope.
class ChildGuard
{
public:
    explicit ChildGuard(pid_t pid = -1) : m_pid(pid) {}
    ~ChildGuard() { kill(); }
    ChildGuard(const ChildGuard &) = delete;
    ChildGuard &operator=(const ChildGuard &) = delete;

    void reset(pid_t pid)
    {
        kill();
        m_pid = pid;
    }
    // The child was reaped by the test: nothing left to do.
    void release() { m_pid = -1; }
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

private:
    pid_t m_pid;
};

// Runs `body` in a child process that dies with the test, for at most `timeoutMs`: gives its exit
// status, -1 when it did not exit normally, -2 when it was still running then (it is killed).
// For calls that must not hang.
template <typename Body> int inChildWithin(int timeoutMs, Body body)
{
    const pid_t pid = forkTestChild();
    if (pid == 0)
        ::_exit(body());
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

// Runs `body` in a child process and gives its exit status (-1 when it did not exit normally, as
// when it was killed).
template <typename Body> int inChild(Body body)
{
    return inChildWithin(INT_MAX, body);
}

// Another process holding a lock until the object ends or is released: `take` runs in it and
// gives the lock (anything that tests true while held).
class LockHolder
{
public:
    template <typename Take> explicit LockHolder(Take take)
    {
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0)
            return;
        m_pid = forkTestChild();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(go[1]); // so that the read below ends when the test does
            const auto lock = take();
            char byte = lock ? 1 : 0;
            (void)!::write(ready[1], &byte, 1);
            (void)!::read(go[0], &byte, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        m_go = go[1];
        pollfd p{ready[0], POLLIN, 0};
        char held = 0;
        m_held =
            m_pid > 0 && ::poll(&p, 1, 20000) == 1 && ::read(ready[0], &held, 1) == 1 && held == 1;
        ::close(ready[0]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    bool held() const { return m_held; }
    void release()
    {
        if (m_go >= 0)
            ::close(m_go);
        m_go = -1;
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        m_held = false;
    }

private:
    pid_t m_pid = -1;
    int m_go = -1;
    bool m_held = false;
};

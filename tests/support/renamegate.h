#pragma once

// Holds the worker of a pass right after a given rename, until the test releases it, so that a
// window test acts in the middle of a pass however fast the disk is. It works by hooking
// syscall(), through which the passes rename: compile renamegate.cpp into one test only, never
// into the shared support, since the hook takes the place of the C library's syscall() for the
// whole test program (every call still goes on to the C library's own).

#include <QObject>
#include <QSignalSpy>

#include <filesystem>

class RenameGate : public QObject
{
    Q_OBJECT
public:
    RenameGate();
    // Releases a worker still held: a test that failed midway leaves no thread waiting.
    ~RenameGate() override;

    // Holds the worker after the n-th rename of a file in `folder` that works (one hold).
    void holdAfter(const std::filesystem::path &folder, int renames);
    void release();
    // Waits (up to `timeout` ms, in the event loop) until the worker is held.
    bool waitHeld(int timeout) { return m_held.count() > 0 || m_held.wait(timeout); }

    // Called by the hook on the worker's thread after each rename that worked.
    static void renamed(const char *from);

signals:
    void held(); // on the test's thread

private:
    QSignalSpy m_held{this, &RenameGate::held};
};

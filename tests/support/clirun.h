#pragma once

// korvalo-cli run as a script runs it, for the tests that include this: they define KORVALO_CLI,
// the program's path.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include "testdir.h"

#include <csignal>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#ifdef SYSCALL_HOOKS
// The environment that loads the system call hooks (syscallhooks.cpp) with `settings`.
inline QStringList hooked(const QStringList &settings)
{
    // The sanitizer runtime normally insists on being loaded first; the hooks go before it.
    QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    if (!asan.isEmpty())
        asan += ':';
    asan += QStringLiteral("verify_asan_link_order=0");
    return QStringList{QStringLiteral("LD_PRELOAD=" SYSCALL_HOOKS),
                       QStringLiteral("ASAN_OPTIONS=") + asan} +
           settings;
}
#endif

struct CliRun
{
    int status = -1; // the exit status; -1 when the program did not end normally
    QString out;
    QString err;
};

// A terminal on which the user has typed `typed` already: the program reads it as from a user.
class TypedTerminal
{
public:
    explicit TypedTerminal(const QByteArray &typed)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0);
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        QCOMPARE(::write(m_master, typed.constData(), std::size_t(typed.size())), typed.size());
    }
    ~TypedTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    TypedTerminal(const TypedTerminal &) = delete;
    TypedTerminal &operator=(const TypedTerminal &) = delete;
    const QString &path() const { return m_path; }

private:
    int m_master = -1;
    QString m_path;
};

// Runs korvalo-cli with `args`, "%1" in them standing for `folder`; `extraEnv` holds NAME=value.
// Its input is a terminal with `typed` on it, or not a terminal when `typed` is null.
inline CliRun cli(const QStringList &args, const std::filesystem::path &folder,
                  const QStringList &extraEnv = {}, const QByteArray &typed = QByteArray())
{
    QStringList filled;
    for (const QString &arg : args)
        filled << QString(arg).replace(QStringLiteral("%1"),
                                       QString::fromStdString(folder.native()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &pair : extraEnv) {
        const qsizetype eq = pair.indexOf('=');
        env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    QProcess p;
    p.setProcessEnvironment(env);
    // Killed with the test, however it ends: a program left running would hold the volume's lock.
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    std::optional<TypedTerminal> terminal;
    if (typed.isNull()) {
        p.setStandardInputFile(QProcess::nullDevice());
    } else {
        terminal.emplace(typed);
        p.setStandardInputFile(terminal->path());
    }
    p.start(QStringLiteral(KORVALO_CLI), filled);
    CliRun run;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    if (p.exitStatus() == QProcess::NormalExit)
        run.status = p.exitCode();
    return run;
}

inline CliRun cli(const QStringList &args, const TestDir &folder, const QStringList &extraEnv = {},
                  const QByteArray &typed = QByteArray())
{
    return cli(args, folder.path(), extraEnv, typed);
}

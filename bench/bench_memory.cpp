// Peak memory of the program (the real window, offscreen) after File1 has listed a folder of
// 100,000 music files (and as many other files), against the program idle in an empty folder.
// Each measurement is a fresh child process that reads its own VmHWM (peak resident set).

#include "benchutil.h"
#include "benchwindow.h"

#include "qtwindow/dirlist.h"
#include "qtwindow/filelist.h"
#include "qtwindow/form1.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

long vmHwmKiB()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        bench::fail("cannot read /proc/self/status");
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(status);
    if (kib < 0)
        bench::fail("no VmHWM in /proc/self/status");
    return kib;
}

void pumpEvents()
{
    for (int k = 0; k < 5; ++k)
        QCoreApplication::processEvents();
}

// The child: start the program in `start`, optionally open `folder`, report the peak.
int child(int argc, char *argv[], const char *start, const char *folder, long expected)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::filesystem::current_path(start);
    QApplication app(argc, argv);
    Form1 form;
    bench::failOnMessageBox(form);
    form.show();
    pumpEvents();
    if (folder) {
        auto *dir1 = bench::control<DirList>(form, "Dir1");
        auto *file1 = bench::control<FileList>(form, "File1");
        if (!dir1->setPath(folder).ok())
            bench::fail(std::string("Dir1 cannot open ") + folder);
        pumpEvents();
        if (file1->listCount() != expected)
            bench::fail("File1 lists " + std::to_string(file1->listCount()) + " files, expected " +
                        std::to_string(expected));
    }
    std::printf("VMHWM %ld\n", vmHwmKiB());
    return 0;
}

// Runs this program as a child and returns the peak it reports, in KiB.
long runChild(const std::vector<std::string> &args)
{
    int out[2];
    if (::pipe(out) != 0)
        bench::fail("pipe");
    const pid_t pid = ::fork();
    if (pid < 0)
        bench::fail("fork");
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        std::_Exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[256];
    for (ssize_t got; (got = ::read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(got));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::size_t at = text.find("VMHWM ");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || at == std::string::npos)
        bench::fail("the measuring child failed: " + text);
    return std::strtol(text.c_str() + at + 6, nullptr, 10);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv, argv[2], argc >= 5 ? argv[3] : nullptr,
                     argc >= 5 ? std::atol(argv[4]) : 0);

    const int reps = bench::repetitions();
    const std::size_t n = bench::sizes({100000}).back();
    std::printf(
        "# peak memory (VmHWM) of the window after listing vs idle, %d repetitions, on %s\n", reps,
        bench::describeFileSystem(bench::scratchBase()).c_str());

    bench::ScratchFolder empty("empty");
    bench::ScratchFolder full("memory");
    const std::vector<std::string> names = bench::musicNames(n);
    bench::createFiles(full.path(), names);
    bench::createFiles(full.path(), bench::otherNames(n));

    std::vector<double> idle;
    std::vector<double> listed;
    for (int rep = 0; rep < reps; ++rep) {
        idle.push_back(runChild({argv[0], "--child", empty.path().string()}) / 1024.0);
        listed.push_back(runChild({argv[0], "--child", empty.path().string(), full.path().string(),
                                   std::to_string(n)}) /
                         1024.0);
    }
    const double nameMiB = static_cast<double>(bench::totalBytes(names)) / (1024.0 * 1024.0);
    const double limit = 3 * nameMiB + 10;
    char target[64];
    std::snprintf(target, sizeof target, "< %.1f MiB", limit);
    std::printf("# the %zu names take %.2f MiB; the limit is 3 x that + 10 MiB\n", n, nameMiB);
    const bool pass = bench::reportLimitRow("4 peak memory (window)", n, bench::median(listed),
                                            bench::median(idle), limit, "MiB", target);
    return pass ? 0 : 1;
}

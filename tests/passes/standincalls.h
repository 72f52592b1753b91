#pragma once

// A stand-in for the system calls a rename is built from: the real calls on the local disk,
// except that it can answer as a FUSE driver or a FAT volume does, records every call, and can
// stop the process dead right after a given call, as a kill or a pulled stick would.

#include "passes/rename.h"

#include <QStringList>

#include <unistd.h>

class StandInCalls : public korvalo::RenameSystem
{
public:
    int noReplaceAnswer = -1; // renameat2(RENAME_NOREPLACE): -1 the real call, else this errno
    int renameAnswer = -1;    // plain rename(): -1 the real call, else this errno
    int failNoReplaceAt = 0;  // the n-th renameat2 (1-based) answers failWith instead
    int failWith = 0;
    int stopAfter = 0; // _exit() right after the n-th call of any kind (1-based); 0: never
    QStringList calls; // "renameat2", "lstat", "rename", "mkdir", "rmdir" in the order made
    std::vector<std::pair<std::string, std::string>> renames; // every renameat2's two paths

    int renameNoReplace(const Char *from, const Char *to) override
    {
        renames.emplace_back(from, to);
        if (failNoReplaceAt > 0 && int(renames.size()) == failNoReplaceAt)
            return made("renameat2", failWith);
        return made("renameat2",
                    noReplaceAnswer >= 0 ? noReplaceAnswer : real().renameNoReplace(from, to));
    }
    int lstat(const Char *path) override { return made("lstat", real().lstat(path)); }
    int rename(const Char *from, const Char *to) override
    {
        return made("rename", renameAnswer >= 0 ? renameAnswer : real().rename(from, to));
    }
    int makeFolderAnswer = -1; // mkdir: -1 the real call, else this errno
    int makeFolder(const Char *path) override
    {
        return made("mkdir", makeFolderAnswer >= 0 ? makeFolderAnswer : real().makeFolder(path));
    }
    int removeFolder(const Char *path) override { return made("rmdir", real().removeFolder(path)); }

private:
    int made(const char *call, int answer)
    {
        calls << QLatin1String(call);
        if (stopAfter > 0 && calls.size() >= stopAfter)
            ::_exit(0);
        return answer;
    }
    static korvalo::RenameSystem &real() { return korvalo::systemRenameCalls(); }
};

#pragma once

// Files on a mounted test volume: contents that tell every file apart, snapshots of a folder by
// name and content hash, and a pass run over the folder with the real system calls.

#include "mountedimage.h"

#include "browse/listerror.h"
#include "passes/passes.h"

#include <QString>
#include <QTest>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

// Content that differs for every file and is large enough to span several clusters.
std::string contentFor(const std::string &name);
std::string hashOf(const std::string &data);
bool writeFile(const std::filesystem::path &path, const std::string &data);
std::string readFile(const std::filesystem::path &path);

// Every entry of a folder: name -> hash of its content ("<folder>" for folders).
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::filesystem::path &dir);
// "name=hash..." of every entry, for failure messages.
QString show(const Snapshot &s);
// The content hashes, sorted: a pass must leave them unchanged.
std::vector<std::string> hashes(const Snapshot &s);

// True when `name` is `original` with a four-digit order prefix ("1000".."9999") in front.
bool isPrefixOf(const std::string &name, const std::string &original);
// Every file of `original` once in `now`, under its own name or with an order prefix, content
// unchanged; nothing else there.
bool holdsEveryFileOnce(const Snapshot &now, const Snapshot &original);
std::string repeat(const std::string &unit, int times);

QString describe(const korvalo::RenameOutcome &o);

// Writes the files (content derived from the name) and folders under `folder` (the volume's root
// when empty), remounts so that what the tests read comes from the image, and returns the
// snapshot of `folder` in `out`. Returns an error text, empty on success.
QString populate(MountedImage &image, Snapshot &out, const std::vector<std::string> &files,
                 const std::vector<std::string> &folders = {},
                 const std::filesystem::path &folder = {});

class LambdaProgress : public korvalo::ProgressSink
{
public:
    std::function<void()> onStart;
    std::function<bool(int)> onStep;
    std::vector<int> steps;
    void start(int) override
    {
        if (onStart)
            onStart();
    }
    bool step(int index, int) override
    {
        steps.push_back(index);
        return onStep ? onStep(index) : true;
    }
};

// Lists the folder afresh and runs one pass over it, with the real system calls unless `calls`
// says otherwise.
struct PassRun
{
    korvalo::ListError listError;
    std::vector<std::string> listed;
    korvalo::PassResult result;
};
PassRun runPass(bool shuffle, const std::filesystem::path &folder, korvalo::ProgressSink &progress,
                korvalo::RenameSystem &calls = korvalo::systemRenameCalls());
PassRun runPass(bool shuffle, const std::filesystem::path &folder);

// Compares two snapshots and shows both when they differ.
#define COMPARE_SNAPSHOTS(actual, expected)                                                        \
    do {                                                                                           \
        const Snapshot &a_ = (actual);                                                             \
        const Snapshot &e_ = (expected);                                                           \
        QVERIFY2(a_ == e_, qPrintable("got: " + show(a_) + "\nwanted: " + show(e_)));              \
    } while (false)

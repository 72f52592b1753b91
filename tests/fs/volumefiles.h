#pragma once

// Files on a mounted test volume: contents that tell every file apart, and snapshots of a folder
// by name and content hash. The passes over them are support/passrun.h's.

#include "mountedimage.h"

#include "passes/passes.h"
#include "support/passrun.h"

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

// Empty when every file of `was` is once in `now` with its content, under a name `named(newName,
// oldName)` allows, and `now` holds nothing else; else the first file that is not, or what is new.
using NameRule = std::function<bool(const std::string &newName, const std::string &oldName)>;
QString unaccounted(const Snapshot &now, const Snapshot &was, const NameRule &named);
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

// Compares two snapshots and shows both when they differ.
#define COMPARE_SNAPSHOTS(actual, expected)                                                        \
    do {                                                                                           \
        const Snapshot &a_ = (actual);                                                             \
        const Snapshot &e_ = (expected);                                                           \
        QVERIFY2(a_ == e_, qPrintable("got: " + show(a_) + "\nwanted: " + show(e_)));              \
    } while (false)

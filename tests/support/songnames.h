#pragma once

// The music files' names as the tests compare them: sorted, as a list shows them, and matched
// against patterns in which "#" stands for one order prefix.

#include "browse/musicfilelist.h"
#include "passes/ordering.h"
#include "support/testdir.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

inline QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

// The names in `folder` that the music list takes for songs ("a.mp3", "b.FLAC"), sorted by bytes;
// songsIn() gives them as Qt strings.
inline std::vector<std::string> songNamesIn(const std::filesystem::path &folder)
{
    std::vector<std::string> out = namesIn(folder);
    std::erase_if(out, [](const std::string &name) { return !korvalo::isMusicFileName(name); });
    return out;
}

inline QStringList songsIn(const std::filesystem::path &folder)
{
    QStringList out;
    for (const std::string &name : songNamesIn(folder))
        out << QString::fromStdString(name);
    return sorted(out);
}

// Empty when the names are the patterns ("#" stands for one order prefix), else what differs.
inline QString unmatchedNames(const QStringList &names, const QStringList &patterns)
{
    std::vector<QRegularExpression> left;
    for (const QString &p : patterns) {
        QStringList parts = p.split('#');
        for (QString &part : parts)
            part = QRegularExpression::escape(part);
        left.emplace_back(QRegularExpression::anchoredPattern(parts.join("[1-9][0-9]{3}")));
    }
    for (const QString &name : names) {
        const auto hit = std::find_if(left.begin(), left.end(), [&](const QRegularExpression &re) {
            return re.match(name).hasMatch();
        });
        if (hit == left.end())
            break;
        left.erase(hit);
    }
    return left.empty() && names.size() == patterns.size()
               ? QString()
               : QStringLiteral("names %1, patterns %2").arg(names.join('|'), patterns.join('|'));
}

// The folder the files pass through to be stored in order, as a crash leaves it: two songs in it.
inline std::filesystem::path orderingFolderIn(TestDir &parent)
{
    const korvalo::FileName inner = korvalo::shortOrderingFolderName(korvalo::orderingFolderName());
    parent.mkdir(inner);
    touchAll(parent,
             {QString::fromStdString(inner + "/b.mp3"), QString::fromStdString(inner + "/a.flac")});
    return parent / inner;
}

// "song1.mp3" to "song<count>.mp3".
inline QStringList songs(int count)
{
    QStringList out;
    for (int i = 1; i <= count; ++i)
        out << QStringLiteral("song%1.mp3").arg(i);
    return out;
}

// The names a list shows, in its order.
inline QStringList listedNames(const korvalo::MusicFileList &list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << QString::fromStdString(std::string(list.nameView(i)));
    return out;
}

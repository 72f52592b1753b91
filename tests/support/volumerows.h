#pragma once

// Mounted volumes written as "mount|type|name" rows, as the system lists mounts.

#include "browse/volumes.h"

#include <QStringList>

#include <vector>

inline std::vector<korvalo::Volume> volumes(const QStringList &rows)
{
    std::vector<korvalo::Volume> out;
    for (const QString &row : rows) {
        const QStringList f = row.split('|');
        out.push_back(
            {f.value(0).toStdString(), f.value(1).toStdString(), f.value(2).toStdString()});
    }
    return out;
}

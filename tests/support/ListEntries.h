#pragma once

// The names a group list control holds, in its order, as a list a test can compare.

#include "selection/trcvListbox.h"

#include <QStringList>

inline QStringList Entries(const trcvListbox* list) {
    QStringList names;
    for (const std::string_view name : list->Items().Entries())
        names << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return names;
}

#pragma once

// The names a group list control holds, in its order, as a list a test can compare.

#include "selection/trcvListbox.h"

#include <QStringList>

inline QStringList Entries(const trcvListbox* list) {
    QStringList names;
    for (const std::string& name : list->Items().Entries())
        names << QString::fromStdString(name);
    return names;
}

#pragma once

#include <QString>

// The directory where the program keeps its list files and its settings file: the directory of
// the executable, always ending in "/". When that directory cannot be written (an installed copy
// in a system directory, say) the user's configuration directory for the program is used
// instead, created when missing, so that closing the program never loses the lists.
class TProgramDir {
public:
    // Computed on the first call, then the same for the rest of the run.
    static QString Get();
    // The choice itself, for a given executable directory and fallback directory.
    static QString Choose(const QString& executableDir, const QString& fallbackDir);
};

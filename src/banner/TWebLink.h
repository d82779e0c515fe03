#pragma once

#include <QString>

#include <functional>

// Opens web addresses in the desktop's default browser. Tests replace the opener so that no
// browser is started; the result of the request is not reported to the user either way.
class TWebLink {
public:
    using TOpener = std::function<void(const QString& url)>;

    static void Open(const QString& url);
    // Installs another opener and returns the one it replaces; an empty one restores the default.
    static TOpener SetOpener(TOpener opener);
};

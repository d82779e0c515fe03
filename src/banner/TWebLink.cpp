#include "banner/TWebLink.h"

#include <QDesktopServices>
#include <QUrl>

#include <utility>

namespace {

TWebLink::TOpener& CurrentOpener() {
    static TWebLink::TOpener opener;
    return opener;
}

} // namespace

void TWebLink::Open(const QString& url) {
    if (const TOpener& opener = CurrentOpener())
        opener(url);
    else
        QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode));
}

TWebLink::TOpener TWebLink::SetOpener(TOpener opener) {
    return std::exchange(CurrentOpener(), std::move(opener));
}

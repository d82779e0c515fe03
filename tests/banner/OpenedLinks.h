#pragma once

// Stands in for the browser while it lives: the addresses the program asks to open are recorded
// in order instead, and the opener it replaced is put back when it goes.

#include "banner/TWebLink.h"

#include <QStringList>

class OpenedLinks {
public:
    OpenedLinks() : FPrevious(TWebLink::SetOpener([this](const QString& url) { FUrls << url; })) {}
    ~OpenedLinks() { TWebLink::SetOpener(FPrevious); }
    OpenedLinks(const OpenedLinks&) = delete;
    OpenedLinks& operator=(const OpenedLinks&) = delete;

    const QStringList& Urls() const { return FUrls; }
    void Clear() { FUrls.clear(); }

private:
    QStringList FUrls;
    TWebLink::TOpener FPrevious;
};

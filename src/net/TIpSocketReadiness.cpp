#include "net/TIpSocketReadiness.h"

#include "net/TIpSockControl.h"

TIpSocketReadiness::TIpSocketReadiness(TIpSockControl& owner, int handle)
    : FRead(new QSocketNotifier(handle, QSocketNotifier::Read)),
      FWrite(new QSocketNotifier(handle, QSocketNotifier::Write)) {
    TIpSockControl* control = &owner;
    FRead->setEnabled(false);
    FWrite->setEnabled(false);
    QObject::connect(FRead.data(), &QSocketNotifier::activated, FRead.data(),
                     [control, handle] { control->SocketReadiness(handle, false); });
    QObject::connect(FWrite.data(), &QSocketNotifier::activated, FWrite.data(),
                     [control, handle] { control->SocketReadiness(handle, true); });
}

TIpSocketReadiness::~TIpSocketReadiness() {
    Release();
}

void TIpSocketReadiness::SetReadEnabled(bool enabled) {
    if (FRead && FRead->isEnabled() != enabled)
        FRead->setEnabled(enabled);
}

void TIpSocketReadiness::SetWriteEnabled(bool enabled) {
    if (FWrite && FWrite->isEnabled() != enabled)
        FWrite->setEnabled(enabled);
}

bool TIpSocketReadiness::ReadEnabled() const {
    return FRead && FRead->isEnabled();
}
bool TIpSocketReadiness::WriteEnabled() const {
    return FWrite && FWrite->isEnabled();
}

void TIpSocketReadiness::Release() {
    for (QSocketNotifier* notifier : {FRead.data(), FWrite.data()}) {
        if (notifier == nullptr)
            continue;
        notifier->setEnabled(false);
        notifier->disconnect();
        notifier->deleteLater();
    }
    FRead.clear();
    FWrite.clear();
}

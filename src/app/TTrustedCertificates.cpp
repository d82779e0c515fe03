#include "app/TTrustedCertificates.h"

#include "app/TIniFileStore.h"

const QString TTrustedCertificates::Section = QStringLiteral("TrustedCertificates");

QString TTrustedCertificates::Key(const TIpTlsPeer& peer) {
    return QStringLiteral("%1:%2").arg(QString::fromStdString(peer.Host)).arg(peer.Port);
}

bool TTrustedCertificates::IsTrusted(const TIpTlsPeer& peer) const {
    if (peer.Fingerprint.empty())
        return false;
    TIniFileStore store;
    store.ExeDir = FProgramDir;
    store.Open();
    return store.ReadString(Section, Key(peer), QString()) ==
           QString::fromStdString(peer.Fingerprint);
}

void TTrustedCertificates::Trust(const TIpTlsPeer& peer) const {
    TIniFileStore store;
    store.ExeDir = FProgramDir;
    store.Open();
    store.WriteString(Section, Key(peer), QString::fromStdString(peer.Fingerprint));
    store.Close();
}

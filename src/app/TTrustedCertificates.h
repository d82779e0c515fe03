#pragma once

#include "net/TIpTlsSettings.h"

#include <QString>

// The server certificates the user has chosen to trust although they failed the check: one per
// server, in the settings file's section "TrustedCertificates" under the key "<host>:<port>" with
// the certificate's SHA-256 fingerprint as value. Only that very certificate is trusted; another
// one on the same server is asked about again, and trusting it replaces the old one.
class TTrustedCertificates {
public:
    static const QString Section;

    // The settings file in `programDir` (as the main window's settings are).
    explicit TTrustedCertificates(QString programDir) : FProgramDir(std::move(programDir)) {}

    bool IsTrusted(const TIpTlsPeer& peer) const;
    // Writes the file at once; raises EIniFileStoreError when it cannot be written.
    void Trust(const TIpTlsPeer& peer) const;

    static QString Key(const TIpTlsPeer& peer);

private:
    QString FProgramDir;
};

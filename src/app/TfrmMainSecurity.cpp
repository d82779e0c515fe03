// The main window's part in encrypted connections. Every request the window makes carries the
// security chosen in cbSecurity and a lookup of the certificates the user trusts; the operation,
// the client and its socket do the rest (the operation logs each encrypted connection). The
// window warns when a password is about to go out in clear, and asks the user about a
// certificate that failed the check. The question comes after the connection has been closed,
// and a "trust" answer starts the operation again on a new connection, which then finds the
// certificate trusted.

#include "app/TTrustedCertificates.h"
#include "app/TfrmMain.h"

#include "net/TIpHostPort.h"
#include "nntp/TIpVisibleText.h"
#include "selection/TPrompts.h"

#include <QComboBox>

TIpNntpSecurity TfrmMain::ChosenSecurity() const {
    return SecurityOfChoice(cbSecurity->currentIndex());
}

TIpNntpSecurity TfrmMain::SecurityOfChoice(int index) {
    switch (index) {
    case 0:
        return TIpNntpSecurity::nySecNone;
    case 2:
        return TIpNntpSecurity::nySecStartTls;
    default:
        return TIpNntpSecurity::nySecTls;
    }
}

void TfrmMain::PrepareConnection(TNewsRequest& request) const {
    request.Security = ChosenSecurity();
    TIpTlsSettings& tls = request.Tls;
    tls.CaFile = FTrustedAuthorities.toStdString();
    tls.IsTrusted = [programDir = FProgramDir](const TIpTlsPeer& peer) {
        return TTrustedCertificates(programDir).IsTrusted(peer);
    };
}

QString TfrmMain::StatusWithSecurity(const QString& text) const {
    if (FOperation && FOperation->Client().Encrypted())
        return QStringLiteral("Encrypted: ") + text;
    return text;
}

// A certificate's fields are the server's text, as its replies are.
static QString CertificateField(const std::string& text) {
    return QString::fromStdString(VisibleText(text));
}

static QString CertificateQuestion(const TIpTlsPeer& peer) {
    return QStringLiteral("The certificate of the news server %1 was not accepted.\n\n%2\n\n"
                          "Subject: %3\nIssuer: %4\nValid from %5 to %6\n"
                          "SHA-256 fingerprint: %7\n\n"
                          "Trust this certificate for this server only if you know it is the "
                          "server's own.")
        .arg(QString::fromStdString(TIpHostPort::Join(peer.Host, peer.Port)),
             CertificateField(peer.ProblemText), CertificateField(peer.Subject),
             CertificateField(peer.Issuer), CertificateField(peer.ValidFrom),
             CertificateField(peer.ValidUntil), CertificateField(peer.Fingerprint));
}

void TfrmMain::AskTrustLater(const TIpTlsPeer& peer, bool restart) {
    QMetaObject::invokeMethod(
        this,
        [this, peer, restart] {
            ShowPendingEvents();
            if (!TPrompts::Current().AskChoice(
                    this, CertificateQuestion(peer),
                    QStringLiteral("Trust this certificate for this server"),
                    QStringLiteral("Cancel")))
                return;
            try {
                TTrustedCertificates(FProgramDir).Trust(peer);
            } catch (const std::exception& error) {
                ReportFailure(error);
                return;
            }
            if (!restart)
                return;
            // A run starts again as it was asked for: a run to the refused groups or a resumed
            // run is not the window's list.
            if (FPendingOperation == TPendingOperation::PostArticles) {
                if (!Busy())
                    StartRun(FLastRun);
            } else
                Getgrouplist1Click();
        },
        Qt::QueuedConnection);
}

// The main window's part in runs cut short. Every run the window starts is written to the
// journal in the program's directory as it goes; a run that never wrote its end (the program
// was closed, killed or the machine went down) is offered for resuming at the next start. The
// journal keeps everything of the request but the password: the resumed run takes the Options
// page's password only when the run logged on as that user to that server, and otherwise asks.
// The resumed run's report and counts include the groups answered before the interruption.

#include "app/TfrmMain.h"

#include "posting/TRunJournal.h"
#include "posting/TServerAddress.h"
#include "selection/TPrompts.h"

#include <QDialog>
#include <QFile>
#include <QLineEdit>

QString TfrmMain::JournalPath() const {
    return FProgramDir + QString::fromLatin1(TRunJournal::FileName);
}

void TfrmMain::OfferInterruptedRun() {
    if (FStartWizard && FStartWizard->isVisible()) {
        connect(
            FStartWizard, &QDialog::finished, this, [this] { OfferInterruptedRun(); },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    // A run started meanwhile (the wizard's Finish) has begun a journal of its own.
    if (Busy())
        return;
    const std::string path = QFile::encodeName(JournalPath()).toStdString();
    std::optional<TRunJournal::TInterrupted> interrupted = TRunJournal::FindInterrupted(path);
    if (!interrupted)
        return;
    const QString question = QStringLiteral("Resume the interrupted run to %1 of %2 groups?")
                                 .arg(interrupted->Request.Groups.size())
                                 .arg(interrupted->Total);
    if (TPrompts::Current().AskChoice(this, question, QStringLiteral("Resume"),
                                      QStringLiteral("Discard"))) {
        FEarlier = std::move(interrupted->Answered);
        ResumeRun(std::move(interrupted->Request));
    } else
        TRunJournal::Discard(path);
}

// The journal names the server, the log-on and the security the run began with; the password,
// the certificates the user trusts and the authorities come from the window, as for any run.
// A cancelled log-on box leaves the journal as it is, to be offered again next time.
void TfrmMain::ResumeRun(TNewsRequest request) {
    if (request.LogOn && !ResumeLogon(request))
        return;
    const TIpNntpSecurity security = request.Security;
    PrepareConnection(request);
    request.Security = security;
    StartRun(std::move(request));
}

// The Options page's password belongs to its user on its server (host and port, as the chosen
// security makes it): a run that logged on elsewhere gets the password the user types into the
// log-on box for that user and server, which leaves the Options page as it is.
bool TfrmMain::ResumeLogon(TNewsRequest& request) {
    const TServerAddress server = TServerAddress::Of(request.Host, request.Security);
    const bool optionsLogon =
        eUserName->text().toStdString() == request.UserID &&
        TServerAddress::Of(eHost->text().toStdString(), ChosenSecurity()) == server;
    if (optionsLogon) {
        if (ePassword->text().isEmpty() && !AskLogonPassword())
            return false;
        request.UserID = eUserName->text().toStdString();
        request.Password = ePassword->text().toStdString();
        return true;
    }
    TLogon logon{QString::fromStdString(request.UserID), QString()};
    if (!TPrompts::Current().AskLogon(this, QString::fromStdString(server.Text()), logon))
        return false;
    request.UserID = logon.UserName.toStdString();
    request.Password = logon.Password.toStdString();
    return true;
}

// "Replace my previous post" on the Message page: the earlier run a post would replace, named
// beside the check box, and the Supersedes it gives the run's articles.
//
// The run is by default the newest in the history with the Subject on the server of the Options
// page, looked up again as either changes and after every run (which may be the newest now).
// A run the user chose instead stays chosen while the server stays the same; a run of another
// server can replace nothing there. The check box is not kept in the settings: withdrawing
// articles from the server is chosen for one post at a time, never inherited by the next one.

#include "app/TfrmMain.h"

#include "posting/TReplacement.h"
#include "posting/TServerAddress.h"

#include "selection/TFormLayout.h"
#include "selection/TPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {
// How long typing in the Subject may go on before the history is read again.
constexpr int kLookUpDelayMs = 250;

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

TServerAddress ServerOf(const THistoryRun& run) {
    return TServerAddress::Of(run.Server, run.Security);
}
} // namespace

QLayout* TfrmMain::CreateReplaceRow(QWidget* page) {
    auto* const row = new QHBoxLayout;
    cbReplace = Named(new QCheckBox(QStringLiteral("Replace my previous post"), page), "cbReplace");
    lblReplaceRun = Named(new QLabel(page), "lblReplaceRun");
    lblReplaceRun->setTextFormat(Qt::PlainText);
    lblReplaceRun->setAccessibleName(QStringLiteral("Post to replace"));
    btnChooseRun = Named(new QPushButton(QStringLiteral("Choose..."), page), "btnChooseRun");
    btnChooseRun->setEnabled(false);
    row->addWidget(cbReplace);
    row->addWidget(lblReplaceRun, 1);
    row->addWidget(btnChooseRun);

    FReplaceLookUp = new QTimer(this);
    FReplaceLookUp->setSingleShot(true);
    FReplaceLookUp->setInterval(kLookUpDelayMs);
    connect(FReplaceLookUp, &QTimer::timeout, this, &TfrmMain::UpdateReplaceRun);
    connect(btnChooseRun, &QPushButton::clicked, this, &TfrmMain::btnChooseRunClick);
    return row;
}

// Called once the Options page exists: its server and security choose the run too.
void TfrmMain::ConnectReplaceRow() {
    const auto lookUp = [this] { FReplaceLookUp->start(); };
    const auto serverChanged = [this] {
        FReplaceChosen = false;
        FReplaceLookUp->start();
    };
    connect(eSubject, &QLineEdit::textChanged, this, lookUp);
    connect(eHost, &QLineEdit::textChanged, this, serverChanged);
    connect(cbSecurity, &QComboBox::currentIndexChanged, this, serverChanged);
    connect(this, &TfrmMain::BusyChanged, this, [lookUp](bool busy) {
        if (!busy)
            lookUp();
    });
    // Once the window has its program directory and settings, even when no field changes.
    lookUp();
}

void TfrmMain::SetRunChooser(TRunChooser chooser) {
    FRunChooser = std::move(chooser);
    btnChooseRun->setEnabled(static_cast<bool>(FRunChooser));
}

void TfrmMain::UpdateReplaceRun() {
    FReplaceLookUp->stop();
    if (!FReplaceChosen)
        FReplaceRun = TPostingHistory(QFile::encodeName(HistoryPath()).toStdString())
                          .Previous(Utf8(eHost->text()), ChosenSecurity(), Utf8(eSubject->text()));
    lblReplaceRun->setText(ReplaceRunText(FReplaceRun));
}

QString TfrmMain::ReplaceRunText(const std::optional<THistoryRun>& run) {
    if (!run)
        return QStringLiteral("No earlier post of this subject on this server");
    int accepted = 0;
    for (const THistoryGroup& group : run->Groups)
        accepted += group.Outcome == THistoryOutcome::hoAccepted ? 1 : 0;
    return QStringLiteral("\"%1\" of %2, in %3 of %4 groups")
        .arg(QString::fromStdString(run->Subject),
             QDateTime::fromSecsSinceEpoch(run->Time).toString(QStringLiteral("d MMM yyyy HH:mm")))
        .arg(accepted)
        .arg(run->Groups.size());
}

void TfrmMain::btnChooseRunClick() {
    if (!FRunChooser)
        return;
    std::optional<THistoryRun> chosen =
        FRunChooser(this, QFile::encodeName(HistoryPath()).toStdString());
    if (!chosen)
        return;
    if (ServerOf(*chosen) != TServerAddress::Of(Utf8(eHost->text()), ChosenSecurity())) {
        TPrompts::Current().ShowMessage(
            this, QStringLiteral("That run went to %1, and only the server that holds its "
                                 "articles can replace them: choose it on the Options page first")
                      .arg(QString::fromStdString(chosen->Server)));
        return;
    }
    FReplaceRun = std::move(chosen);
    FReplaceChosen = true;
    cbReplace->setChecked(true);
    UpdateReplaceRun();
}

void TfrmMain::AddReplaces(TNewsRequest& request) const {
    if (!cbReplace->isChecked() || !FReplaceRun)
        return;
    request.Replaces = TReplacement::Of(*FReplaceRun, request.Groups, request.GroupsPerArticle);
    request.ReplacesRun = FReplaceRun->RunID;
}

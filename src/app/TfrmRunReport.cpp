#include "app/TfrmRunReport.h"

#include "nntp/TIpVisibleText.h"
#include "selection/TFormLayout.h"
#include "selection/TPrompts.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

constexpr int kReplyColumn = 2;
constexpr int kMessageIdColumn = 3;
constexpr int kWidestColumn = 220;

QString VerificationText(TGroupOutcome::TVerification verification) {
    switch (verification) {
    case TGroupOutcome::TVerification::NotChecked:
        return {};
    case TGroupOutcome::TVerification::Verified:
        return QStringLiteral("verified");
    case TGroupOutcome::TVerification::Missing:
        return QStringLiteral("missing");
    }
    return {};
}

QString Shown(const std::string& text) {
    return QString::fromStdString(VisibleText(text));
}

// A group whose POST was refused sent no article, so no Message-ID names anything on the
// server. A tab inside a reply would cut the copied line into the wrong fields; the server's
// other control characters show as escapes.
QStringList RowOf(const TGroupOutcome& outcome, bool verified) {
    QString verdict = outcome.Accepted ? QStringLiteral("accepted") : QStringLiteral("refused");
    if (outcome.Earlier)
        verdict += QStringLiteral(" (before the interruption)");
    QStringList row{Shown(outcome.Group), verdict,
                    Shown(outcome.Reply).replace(QLatin1Char('\t'), QLatin1Char(' ')),
                    outcome.ArticleSent ? Shown(outcome.MessageID) : QString()};
    if (verified)
        row << VerificationText(outcome.Verification);
    return row;
}

const QString kReplacesHeader = QStringLiteral("Replaces");

// A group of a cancel run, in the words the history keeps for it: the withdrawn article gone,
// kept, or the cancel refused, as STAT found it after the server took the cancel.
QStringList CancelRowOf(const TGroupOutcome& outcome, const THistoryRun& run) {
    const auto kept =
        std::find_if(run.Groups.begin(), run.Groups.end(),
                     [&](const THistoryGroup& each) { return each.Group == outcome.Group; });
    const THistoryGroup withdrawn = kept == run.Groups.end() ? THistoryGroup{} : *kept;
    QString verdict = TfrmRunReport::OutcomeText(withdrawn.Outcome);
    if (outcome.Earlier)
        verdict += QStringLiteral(" (before the interruption)");
    return {Shown(outcome.Group), verdict,
            Shown(outcome.Reply).replace(QLatin1Char('\t'), QLatin1Char(' ')),
            Shown(withdrawn.MessageID)};
}

} // namespace

TfrmRunReport::TfrmRunReport(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmRunReport"));
    setWindowTitle(QStringLiteral("Posting Report"));
    setModal(false);
    resize(720, 360);

    auto* const layout = new QVBoxLayout(this);
    tblGroups = Named(new QTableWidget(this), "tblGroups");
    tblGroups->setAccessibleName(QStringLiteral("Groups of the run"));
    tblGroups->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblGroups->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblGroups->verticalHeader()->hide();
    tblGroups->setWordWrap(false);
    tblGroups->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(tblGroups, 1);

    auto* const buttons = new QHBoxLayout;
    btnCopy = Named(new QPushButton(QStringLiteral("&Copy"), this), "btnCopy");
    btnPostAgain = Named(new QPushButton(QStringLiteral("&Post again to the refused groups"), this),
                         "btnPostAgain");
    btnClose = Named(new QPushButton(QStringLiteral("Close"), this), "btnClose");
    buttons->addWidget(btnCopy);
    buttons->addWidget(btnPostAgain);
    btnCancelArticles =
        Named(new QPushButton(QStringLiteral("Cancel &these articles"), this), "btnCancelArticles");
    buttons->addWidget(btnCancelArticles);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);

    connect(btnCopy, &QPushButton::clicked, this, &TfrmRunReport::btnCopyClick);
    connect(btnPostAgain, &QPushButton::clicked, this, &TfrmRunReport::btnPostAgainClick);
    connect(btnCancelArticles, &QPushButton::clicked, this, &TfrmRunReport::btnCancelArticlesClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    UpdatePostAgain();
}

void TfrmRunReport::ShowRun(const std::vector<TGroupOutcome>& outcomes, bool verified) {
    FRows.clear();
    FRefused.clear();
    const bool cancelRun = FRun.Kind == THistoryKind::hkCancel;
    verified = verified && !cancelRun;
    for (const TGroupOutcome& outcome : outcomes) {
        FRows.push_back(cancelRun ? CancelRowOf(outcome, FRun) : RowOf(outcome, verified));
        if (!outcome.Accepted)
            FRefused.push_back(outcome.Group);
    }

    QStringList headers{QStringLiteral("Newsgroup"), QStringLiteral("Outcome"),
                        QStringLiteral("Server's reply"), QStringLiteral("Message-ID")};
    if (Replacing()) {
        headers << kReplacesHeader;
        for (size_t i = 0; i < outcomes.size(); ++i)
            FRows[i].insert(kMessageIdColumn + 1, Replaced(i, outcomes[i].Group));
    }
    if (verified)
        headers << QStringLiteral("Verification");
    ShowRows(headers);
    UpdatePostAgain();
}

void TfrmRunReport::ShowRun(const THistoryRun& run) {
    FRun = run;
    FRows.clear();
    FRefused.clear();
    const bool replacing = Replacing();
    for (const THistoryGroup& group : run.Groups) {
        // A refused post left no article on the server, so its Message-ID names nothing there;
        // a refused cancel's names the article that stays.
        const bool unsent =
            run.Kind == THistoryKind::hkPost && group.Outcome == THistoryOutcome::hoRefused;
        QStringList row{Shown(group.Group), OutcomeText(group.Outcome),
                        Shown(group.Reply).replace(QLatin1Char('\t'), QLatin1Char(' ')),
                        unsent ? QString() : Shown(group.MessageID)};
        if (replacing)
            row << Shown(group.Supersedes);
        FRows.push_back(row);
    }
    QStringList headers{QStringLiteral("Newsgroup"), QStringLiteral("Outcome"),
                        QStringLiteral("Server's reply"),
                        run.Kind == THistoryKind::hkCancel ? QStringLiteral("Withdrawn article")
                                                           : QStringLiteral("Message-ID")};
    if (replacing)
        headers << kReplacesHeader;
    ShowRows(headers);
    UpdatePostAgain();
}

QString TfrmRunReport::OutcomeText(THistoryOutcome outcome) {
    switch (outcome) {
    case THistoryOutcome::hoAccepted:
        return QStringLiteral("accepted");
    case THistoryOutcome::hoRefused:
        return QStringLiteral("refused");
    case THistoryOutcome::hoMissing:
        return QStringLiteral("accepted, then missing");
    case THistoryOutcome::hoCancelled:
        return QStringLiteral("cancelled");
    case THistoryOutcome::hoKept:
        return QStringLiteral(
            "not withdrawn: the server withdraws only articles that carry a Cancel-Lock");
    }
    return {};
}

bool TfrmRunReport::Replacing() const {
    return std::any_of(FRun.Groups.begin(), FRun.Groups.end(),
                       [](const THistoryGroup& group) { return !group.Supersedes.empty(); });
}

QString TfrmRunReport::Replaced(size_t index, const std::string& group) const {
    if (index < FRun.Groups.size() && FRun.Groups[index].Group == group)
        return Shown(FRun.Groups[index].Supersedes);
    return {};
}

void TfrmRunReport::ShowRows(const QStringList& headers) {
    tblGroups->clear();
    tblGroups->setColumnCount(static_cast<int>(headers.size()));
    tblGroups->setHorizontalHeaderLabels(headers);
    tblGroups->setRowCount(static_cast<int>(FRows.size()));
    for (size_t row = 0; row < FRows.size(); ++row)
        for (qsizetype column = 0; column < FRows[row].size(); ++column) {
            auto* const item = new QTableWidgetItem(FRows[row][column]);
            // A tooltip takes text that looks like markup for markup; this one is plain.
            item->setToolTip(Qt::convertFromPlainText(FRows[row][column], Qt::WhiteSpaceNoWrap));
            tblGroups->setItem(static_cast<int>(row), static_cast<int>(column), item);
        }
    tblGroups->resizeColumnsToContents();
    // A long reply or Message-ID is cut short (its tooltip has it whole), so that the
    // verification column stays in sight.
    for (const int column : {kReplyColumn, kMessageIdColumn})
        tblGroups->setColumnWidth(column, std::min(tblGroups->columnWidth(column), kWidestColumn));
}

QString TfrmRunReport::Text() const {
    QString text;
    for (const QStringList& row : FRows)
        text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    return text;
}

void TfrmRunReport::SetBusy(bool busy) {
    FBusy = busy;
    UpdatePostAgain();
}

void TfrmRunReport::UpdatePostAgain() {
    btnPostAgain->setEnabled(!FBusy && !FRefused.empty());
    btnCancelArticles->setEnabled(!FBusy && AcceptedArticles() > 0);
}

size_t TfrmRunReport::AcceptedArticles() const {
    if (FRun.Kind != THistoryKind::hkPost)
        return 0;
    std::set<std::string> articles;
    for (const THistoryGroup& group : FRun.Groups)
        if (group.Outcome == THistoryOutcome::hoAccepted && !group.MessageID.empty())
            articles.insert(group.MessageID);
    return articles.size();
}

QString TfrmRunReport::CancelQuestion(size_t articles) {
    return QStringLiteral("Withdraw the %1 articles of this run from the server? Readers who "
                          "already fetched them keep their copy.")
        .arg(articles);
}

void TfrmRunReport::btnCancelArticlesClick() {
    if (!btnCancelArticles->isEnabled() ||
        !TPrompts::Current().AskYesNo(this, CancelQuestion(AcceptedArticles())))
        return;
    emit CancelArticles(FRun);
}

void TfrmRunReport::btnCopyClick() {
    QGuiApplication::clipboard()->setText(Text());
}

void TfrmRunReport::btnPostAgainClick() {
    if (btnPostAgain->isEnabled())
        emit PostAgain(FRefused);
}

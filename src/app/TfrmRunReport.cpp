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

std::string WithdrawnIn(const THistoryRun& run, const std::string& group) {
    for (const THistoryGroup& each : run.Groups)
        if (each.Group == group)
            return each.MessageID;
    return {};
}

// A group of a cancel run: what became of the article withdrawn there (`withdrawn`, its
// Message-ID), as STAT found it after the server took the cancel.
QStringList CancelRowOf(const TGroupOutcome& outcome, const std::string& withdrawn) {
    QString verdict = QStringLiteral("refused");
    if (outcome.Accepted)
        switch (outcome.Verification) {
        case TGroupOutcome::TVerification::NotChecked:
            verdict = QStringLiteral("accepted");
            break;
        case TGroupOutcome::TVerification::Verified:
            verdict = QStringLiteral(
                "not withdrawn: the server withdraws only articles that carry a Cancel-Lock");
            break;
        case TGroupOutcome::TVerification::Missing:
            verdict = QStringLiteral("cancelled");
            break;
        }
    if (outcome.Earlier)
        verdict += QStringLiteral(" (before the interruption)");
    return {Shown(outcome.Group), verdict,
            Shown(outcome.Reply).replace(QLatin1Char('\t'), QLatin1Char(' ')), Shown(withdrawn)};
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
        FRows.push_back(cancelRun ? CancelRowOf(outcome, WithdrawnIn(FRun, outcome.Group))
                                  : RowOf(outcome, verified));
        if (!outcome.Accepted)
            FRefused.push_back(outcome.Group);
    }

    QStringList headers{QStringLiteral("Newsgroup"), QStringLiteral("Outcome"),
                        QStringLiteral("Server's reply"), QStringLiteral("Message-ID")};
    if (verified)
        headers << QStringLiteral("Verification");
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
    UpdatePostAgain();
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

#include "app/TfrmRunReport.h"

#include "nntp/TIpVisibleText.h"
#include "selection/TFormLayout.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

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
    buttons->addStretch();
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);

    connect(btnCopy, &QPushButton::clicked, this, &TfrmRunReport::btnCopyClick);
    connect(btnPostAgain, &QPushButton::clicked, this, &TfrmRunReport::btnPostAgainClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
    UpdatePostAgain();
}

void TfrmRunReport::ShowRun(const std::vector<TGroupOutcome>& outcomes, bool verified) {
    FRows.clear();
    FRefused.clear();
    for (const TGroupOutcome& outcome : outcomes) {
        FRows.push_back(RowOf(outcome, verified));
        if (!outcome.Accepted)
            FRefused.push_back(outcome.Group);
    }

    QStringList headers{QStringLiteral("Newsgroup"), QStringLiteral("Outcome"),
                        QStringLiteral("Server's reply"), QStringLiteral("Message-ID")};
    if (verified)
        headers << QStringLiteral("Verification");
    AddReplacedColumn(headers);
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

// A run that replaced an earlier one names, per group, the article its own replaced; the run's
// groups are in the order of its outcomes.
void TfrmRunReport::AddReplacedColumn(QStringList& headers) {
    const bool replacing =
        FRun.Groups.size() == FRows.size() &&
        std::any_of(FRun.Groups.begin(), FRun.Groups.end(),
                    [](const THistoryGroup& group) { return !group.Supersedes.empty(); });
    if (!replacing)
        return;
    headers << QStringLiteral("Replaces");
    for (size_t row = 0; row < FRows.size(); ++row)
        FRows[row] << Shown(FRun.Groups[row].Supersedes);
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
}

void TfrmRunReport::btnCopyClick() {
    QGuiApplication::clipboard()->setText(Text());
}

void TfrmRunReport::btnPostAgainClick() {
    if (btnPostAgain->isEnabled())
        emit PostAgain(FRefused);
}

#include "app/TfrmHistory.h"

#include "nntp/TIpVisibleText.h"
#include "selection/TFormLayout.h"
#include "selection/TPrompts.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kSubjectColumn = 3;
constexpr int kWidestSubject = 320;

QString Shown(const std::string& text) {
    return QString::fromStdString(VisibleText(text));
}

QStringList RowOf(const THistoryRun& run) {
    const size_t refused = run.Refused();
    return {QDateTime::fromSecsSinceEpoch(run.Time).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
            QString::fromStdString(KindName(run.Kind)),
            Shown(run.Server),
            Shown(run.Subject),
            QString::number(run.Groups.size() - refused),
            QString::number(refused)};
}

} // namespace

TfrmHistory::TfrmHistory(std::string path, TMode mode, QWidget* parent)
    : QDialog(parent), FPath(std::move(path)), FMode(mode) {
    setObjectName(QStringLiteral("frmHistory"));
    const bool choosing = FMode == TMode::hmChoose;
    setWindowTitle(choosing ? QStringLiteral("Choose the Run to Replace")
                            : QStringLiteral("Posting History"));
    setModal(choosing);
    resize(760, 380);

    auto* const layout = new QVBoxLayout(this);
    tblRuns = Named(new QTableWidget(this), "tblRuns");
    tblRuns->setAccessibleName(QStringLiteral("Runs, newest first"));
    tblRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblRuns->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblRuns->setSelectionMode(QAbstractItemView::SingleSelection);
    tblRuns->verticalHeader()->hide();
    tblRuns->setWordWrap(false);
    tblRuns->setColumnCount(6);
    tblRuns->setHorizontalHeaderLabels({QStringLiteral("Finished"), QStringLiteral("Kind"),
                                        QStringLiteral("Server"), QStringLiteral("Subject"),
                                        QStringLiteral("Accepted"), QStringLiteral("Refused")});
    layout->addWidget(tblRuns, 1);

    auto* const buttons = new QHBoxLayout;
    btnOpen = Named(new QPushButton(choosing ? QStringLiteral("&Choose")
                                             : QStringLiteral("&Open the report"),
                                    this),
                    "btnOpen");
    btnOpen->setDefault(true);
    btnClose = Named(new QPushButton(choosing ? QStringLiteral("Cancel") : QStringLiteral("Close"),
                                     this),
                     "btnClose");
    buttons->addWidget(btnOpen);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);

    connect(btnOpen, &QPushButton::clicked, this, &TfrmHistory::btnOpenClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(tblRuns, &QTableWidget::cellDoubleClicked, this, &TfrmHistory::btnOpenClick);
    connect(tblRuns, &QTableWidget::currentCellChanged, this,
            [this] { btnOpen->setEnabled(CurrentRun().has_value()); });
    Reload();
}

void TfrmHistory::Reload() {
    FRuns = TPostingHistory(FPath).Runs();
    if (FMode == TMode::hmChoose)
        std::erase_if(FRuns,
                      [](const THistoryRun& run) { return run.Kind != THistoryKind::hkPost; });
    FRows.clear();
    for (const THistoryRun& run : FRuns)
        FRows.push_back(RowOf(run));

    tblRuns->clearContents();
    tblRuns->setRowCount(static_cast<int>(FRows.size()));
    for (size_t row = 0; row < FRows.size(); ++row)
        for (qsizetype column = 0; column < FRows[row].size(); ++column)
            tblRuns->setItem(static_cast<int>(row), static_cast<int>(column),
                             new QTableWidgetItem(FRows[row][column]));
    tblRuns->resizeColumnsToContents();
    tblRuns->setColumnWidth(kSubjectColumn,
                            std::min(tblRuns->columnWidth(kSubjectColumn), kWidestSubject));
    tblRuns->horizontalHeader()->setStretchLastSection(true);
    tblRuns->setCurrentCell(FRows.empty() ? -1 : 0, 0);
    btnOpen->setEnabled(CurrentRun().has_value());
}

std::optional<THistoryRun> TfrmHistory::CurrentRun() const {
    const int row = tblRuns->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= FRuns.size())
        return std::nullopt;
    return FRuns[static_cast<size_t>(row)];
}

void TfrmHistory::btnOpenClick() {
    const std::optional<THistoryRun> run = CurrentRun();
    if (!run)
        return;
    switch (FMode) {
    case TMode::hmBrowse:
        emit OpenRun(*run);
        break;
    case TMode::hmChoose:
        accept();
        break;
    }
}

std::optional<THistoryRun> TfrmHistory::ChooseRun(QWidget* parent, const std::string& path) {
    TfrmHistory chooser(path, TMode::hmChoose, parent);
    if (chooser.Runs().empty()) {
        TPrompts::Current().ShowMessage(parent,
                                        QStringLiteral("The posting history holds no run yet"));
        return std::nullopt;
    }
    if (chooser.exec() != QDialog::Accepted)
        return std::nullopt;
    return chooser.CurrentRun();
}

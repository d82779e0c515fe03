#pragma once

#include "posting/TNewsOperation.h"
#include "posting/TPostingHistory.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <string>
#include <utility>
#include <vector>

class QPushButton;
class QTableWidget;

// The report of a finished posting run, shown beside the main window without blocking it: one
// row per group of the run, in the run's order (a resumed run's groups answered before the
// interruption first, marked so), with the server's verdict, its reply line, the
// article's Message-ID and, when the run verified, whether the server still had the article.
// The report can be copied as text, and the groups the server refused can be posted to again
// (the main window starts that run; the report only asks for it). The articles of a posting
// run can be withdrawn ("Cancel these articles", asked once; the main window starts the cancel
// run); the report of a cancel run says of each group whether its article is gone. It shows a
// run of the posting history the same way, from what the history kept of it.
class TfrmRunReport : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRunReport(QWidget* parent = nullptr);

    // Shows the groups of a run; `verified` adds the verification column. When the run set by
    // SetRun replaced earlier articles, a column names the article each group's replaced.
    void ShowRun(const std::vector<TGroupOutcome>& outcomes, bool verified);
    // Shows a run of the history: each group's outcome as the history keeps it. Its message is
    // not kept, so it cannot be posted again from here.
    void ShowRun(const THistoryRun& run);
    // The words a group's outcome in the history is shown with.
    static QString OutcomeText(THistoryOutcome outcome);
    // The run the report is of, as the history keeps it (its server, log-on and articles), for
    // what can be done with its articles later.
    void SetRun(THistoryRun run) {
        FRun = std::move(run);
        UpdatePostAgain();
    }
    const THistoryRun& Run() const { return FRun; }
    // The fields of each row, as shown.
    const std::vector<QStringList>& Rows() const { return FRows; }
    // The report as text: one line per group, its fields separated by tabs.
    QString Text() const;
    // The groups the server refused, in the run's order.
    const std::vector<std::string>& RefusedGroups() const { return FRefused; }
    // While a run is under way no other can be started from here.
    void SetBusy(bool busy);

    // Commands.
    void btnCopyClick();
    void btnPostAgainClick();
    void btnCancelArticlesClick();
    // The question "Cancel these articles" asks for the run's `articles` accepted articles.
    static QString CancelQuestion(size_t articles);

    QTableWidget* tblGroups = nullptr;
    QPushButton* btnCopy = nullptr;
    QPushButton* btnPostAgain = nullptr;
    QPushButton* btnCancelArticles = nullptr;
    QPushButton* btnClose = nullptr;

signals:
    // The user asked for a run to just these groups.
    void PostAgain(const std::vector<std::string>& groups);
    // The user asked for the run's accepted articles to be withdrawn, and said yes.
    void CancelArticles(const THistoryRun& run);

private:
    void UpdatePostAgain();
    // Fills the table with FRows under headers.
    void ShowRows(const QStringList& headers);
    // The Message-ID the run's group at index replaced; empty when it replaced none.
    QString Replaced(size_t index, const std::string& group) const;
    bool Replacing() const;
    // The distinct articles of FRun the server took (a cross-post is one), when it is a posting
    // run.
    size_t AcceptedArticles() const;

    THistoryRun FRun;
    std::vector<QStringList> FRows;
    std::vector<std::string> FRefused;
    bool FBusy = false;
};

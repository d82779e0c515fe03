#pragma once

#include "posting/TPostingHistory.h"

#include <QDialog>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QTableWidget;

// The posting history as a window: the runs the history file keeps, newest first, one row each
// (when the run finished, whether it posted or cancelled, the server, the subject, and how many
// groups the server took and refused). It shows the file as it was when last read (Reload).
//
// Two uses, fixed when it is made:
//   hmBrowse  not modal; opening a run (Open, a double-click, Enter) asks for its report, which
//             the main window shows in the report window a finished run uses.
//   hmChoose  modal (ChooseRun); lists the posting runs only, since only a post can be replaced;
//             Choose closes it with the run of the current row.
class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    enum class TMode : uint8_t { hmBrowse, hmChoose };

    TfrmHistory(std::string path, TMode mode, QWidget* parent = nullptr);

    // Lets the user pick a posting run of the history at `path`; nothing when the user closed
    // the window without choosing, or the history holds no posting run (which a box then says).
    static std::optional<THistoryRun> ChooseRun(QWidget* parent, const std::string& path);

    // Reads the file again and shows its runs; the first row becomes current.
    void Reload();
    const std::vector<THistoryRun>& Runs() const { return FRuns; }
    // The fields of each row, as shown.
    const std::vector<QStringList>& Rows() const { return FRows; }
    // The run of the current row; nothing when no row is current.
    std::optional<THistoryRun> CurrentRun() const;

    // Commands.
    void btnOpenClick();

    QTableWidget* tblRuns = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnClose = nullptr;

signals:
    // The user asked to see this run's report.
    void OpenRun(const THistoryRun& run);

private:
    std::string FPath;
    TMode FMode;
    std::vector<THistoryRun> FRuns;
    std::vector<QStringList> FRows;
};

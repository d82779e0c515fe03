#pragma once

#include "selection/TGroupSearchIndex.h"
#include "selection/TMainWindowAccess.h"

#include <QDialog>
#include <string_view>

class QLabel;
class QLineEdit;
class QToolButton;
class trcvListbox;

// The find-groups window: collects the groups of the main window's all-groups list whose names
// contain a piece of text, and sends the ones the user marks to the to-post lists of the main
// window and of the start wizard. The main window shows it without blocking, the wizard modally.
//
// Results accumulate over successive searches until Clear or Close; the search text stays.
class TfrmFind : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFind(TMainWindowAccess main, QWidget* parent = nullptr);

    // The wizard's to-post list, which "to Post" fills besides the main window's.
    void SetWizardToPost(trcvListbox* list) { FWizardToPost = list; }

    // Commands.
    void sbFindClick();
    void sbSelectAllClick();
    void sbSendtoPostClick();
    void sbClearClick();
    void sbCloseClick();

    void ShowFoundCount();
    QString StatusText() const;
    // Bottom edge on the main window's bottom edge, left edge on its button column, kept on the
    // screen; done each time the window becomes active.
    void PlaceWindow();

    // Whether `text` occurs in `entry`, letter case counting; an empty text occurs nowhere.
    static bool Contains(std::string_view entry, std::string_view text);

    QLineEdit* eFindText = nullptr;
    trcvListbox* trcvFindGroups = nullptr;
    QToolButton* sbFind = nullptr;
    QToolButton* sbSelectAll = nullptr;
    QToolButton* sbSendtoPost = nullptr;
    QToolButton* sbClear = nullptr;
    QToolButton* sbClose = nullptr;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    // Empties the results, marks included, so that a later search shows no row as chosen that
    // the user never chose.
    void EmptyResults();

    TMainWindowAccess FMain;
    // The main window's names end to end, kept while the window is shown and the list unchanged.
    TGroupSearchIndex FIndex;
    trcvListbox* FWizardToPost = nullptr;
    QLabel* FStatus = nullptr;
};

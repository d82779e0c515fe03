#pragma once

#include "selection/TMainWindowAccess.h"

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class TBodyEditor;
class TfrmFind;
class trcvListbox;

// The wizard's pages, in page order.
enum class TWizardPage : uint8_t { wpIntro, wpServer, wpGroups, wpIdentity, wpBody };

// The start wizard: walks a first-time user through the main window's settings one page at a
// time (server and log-on, groups, identity and attachment, body) and ends by copying everything
// into the main window and starting the posting run there.
//
// It holds copies only. Each time it is shown, and again when the find-groups window it opened
// has closed, it refills its fields and lists from the main window (and its all-groups list from
// the list file) and goes back to the first page; Cancel copies nothing back.
//
// Page operations and the buttons they leave on:
//   Intro     Back off  Next on   Finish off
//   Server    Back on   Next on   Finish off
//   Groups    Back and Next on only once the all-groups list has entries; when it has none the
//             main window fetches the list and GroupListArrived switches them on
//   Identity  Back on   Next on   Finish off
//   Body      Back on   Next off  Finish on
// While the main window runs an operation, Finish stays off and the groups page fetches nothing
// (Back is on there, so the user can come back for the fetch later).
class TFrmWiz : public QDialog {
    Q_OBJECT
public:
    TFrmWiz(TMainWindowAccess main, TfrmFind* findWindow, QWidget* parent = nullptr);

    // Where the wizard reads the list files: the program's directory, like the main window.
    const QString& WizardDir() const { return FWizardDir; }
    TWizardPage ActivePage() const;

    void ShowIntroPage();
    void ShowServerPage();
    void ShowGroupsPage();
    void ShowIdentityPage();
    void ShowBodyPage();

    // Commands.
    void btnNextClick();
    void BtnBackClick();
    void btnCancelClick();
    void btnFinishClick();
    // What Finish would post, shown without copying anything into the main window.
    void btnPreviewClick();
    void sbFindGroupsClick();
    void sbSelectGroupsClick();
    void trcvNewsgroupsDblClick();
    void btnAttachClick();
    // Replaces the body with the text of the first of `paths`, as a drop of files does.
    void FilesDropped(const QStringList& paths);

    // Refills the wizard from the main window and the list file, then shows the first page.
    void FormActivate();

public slots:
    // The main window's group list has been replaced by a fetched one: take it over and, on
    // the groups page, let the user go on.
    void GroupListArrived();
    // The main window has started (true) or ended (false) a run or a retrieval.
    void BusyChanged(bool busy);

public:
    QStackedWidget* PageControl1 = nullptr;
    QPushButton* BtnBack = nullptr;
    QPushButton* btnNext = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnFinish = nullptr;

    QLabel* mIntro = nullptr;
    QLabel* mServer = nullptr;
    QLabel* mGroups = nullptr;
    QLabel* mIdentity = nullptr;
    QLabel* mBody = nullptr;

    QLineEdit* eHost = nullptr;
    QLineEdit* eOrganization = nullptr;
    QCheckBox* cbLogon = nullptr;
    QComboBox* cbSecurity = nullptr;
    QLineEdit* eUserName = nullptr;
    QLineEdit* ePassword = nullptr;

    QPushButton* sbFindGroups = nullptr;
    QPushButton* sbSelectGroups = nullptr;
    QTabWidget* pcGroups = nullptr;
    trcvListbox* trcvNewsgroups = nullptr;
    trcvListbox* trcvtoPost = nullptr;

    QLineEdit* eName = nullptr;
    QLineEdit* eEmailAddress = nullptr;
    QLineEdit* eSubject = nullptr;
    QLineEdit* eFollowupTo = nullptr;
    QLineEdit* eReplyTo = nullptr;
    QPushButton* btnAttach = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label10 = nullptr;

    TBodyEditor* dcMsgBody = nullptr;
    QPushButton* btnPreview = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Builds the pages; the layout lives in TFrmWizLayout.cpp.
    void CreateControls();
    QWidget* CreateIntroPage();
    QWidget* CreateServerPage();
    QWidget* CreateGroupsPage();
    QWidget* CreateIdentityPage();
    QWidget* CreateBodyPage();
    QLayout* CreateButtonStrip();

    void ShowPage(TWizardPage page, bool back, bool next, bool finish);
    // Server, log-on and organization into the main window.
    void CopyServerToMain();
    void CopyAttachmentDisplay();
    // The main window's run request with what the wizard holds in place of the main window's
    // fields: the request Finish would start.
    TNewsRequest RunRequest() const;
    bool MainBusy() const;

    TMainWindowAccess FMain;
    TfrmFind* FFindWindow = nullptr;
    QString FWizardDir;
};

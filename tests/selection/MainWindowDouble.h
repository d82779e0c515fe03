#pragma once

#include "selection/TMainWindowAccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>
#include <functional>

class TBodyEditor;
class trcvListbox;

// A stand-in for the main window with the controls and commands the find-groups window and the
// wizard reach into. Its commands only count their calls (and run an optional hook), so a test
// sees exactly what the windows asked of the main window.
class MainWindowDouble : public QWidget {
public:
    explicit MainWindowDouble(const QString& programDir);

    const QString& ProgramDir() const { return FProgramDir; }
    TMainWindowAccess Access() { return MainWindowAccessOf(*this); }

    void RefreshStatusBar() { ++Refreshes; }
    void Getgrouplist1Click();
    void btnAttachClick();
    void spdPostClick();
    // A request with a newsreader of its own, which the wizard has no field for and must keep.
    TNewsRequest RunRequest() const;
    void ShowPreview(QWidget*, const TNewsRequest& request) { Previews.push_back(request); }
    bool Busy() const { return IsBusy; }

    // The values of every field the wizard copies, in one list, to compare before and after.
    QStringList Fields() const;

    trcvListbox* trcvNewsgroups = nullptr;
    trcvListbox* trcvToPost = nullptr;
    QLineEdit* eName = nullptr;
    QLineEdit* eAddress = nullptr;
    QLineEdit* eSubject = nullptr;
    QLineEdit* eFollowupTo = nullptr;
    QLineEdit* eReplyTo = nullptr;
    TBodyEditor* dcMsgBody = nullptr;
    QLineEdit* eHost = nullptr;
    QLineEdit* eOrganization = nullptr;
    QCheckBox* cbLogon = nullptr;
    QComboBox* cbSecurity = nullptr;
    QLineEdit* eUserName = nullptr;
    QLineEdit* ePassword = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label10 = nullptr;
    QWidget* pnlButtons = nullptr;

    int Refreshes = 0;
    int GroupListFetches = 0;
    int Attaches = 0;
    int Posts = 0;
    bool IsBusy = false;
    std::vector<TNewsRequest> Previews;
    std::function<void()> OnGetGroupList;
    std::function<void()> OnAttach;
    std::function<void()> OnPost;

private:
    QString FProgramDir;
};

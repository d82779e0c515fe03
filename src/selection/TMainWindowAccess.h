#pragma once

#include "posting/TNewsOperation.h"

#include <QString>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class TBodyEditor;
class trcvListbox;

// What the find-groups window and the start wizard reach into on the main window: its lists,
// fields and commands. The main window stays the owner of all of it; these windows only read
// and write through the pointers and call the commands. The main window lives in a layer above
// this one, so it is met only through this record (see MainWindowAccessOf).
struct TMainWindowAccess {
    QWidget* Window = nullptr;
    // The button column, whose left edge the find-groups window lines up with.
    QWidget* ButtonColumn = nullptr;
    // Where the list files live, ending in "/".
    QString ProgramDir;

    trcvListbox* trcvNewsgroups = nullptr;
    trcvListbox* trcvToPost = nullptr;
    QLineEdit* eHost = nullptr;
    QLineEdit* eUserName = nullptr;
    QLineEdit* ePassword = nullptr;
    QLineEdit* eOrganization = nullptr;
    QLineEdit* eName = nullptr;
    QLineEdit* eAddress = nullptr;
    QLineEdit* eSubject = nullptr;
    QLineEdit* eFollowupTo = nullptr;
    QLineEdit* eReplyTo = nullptr;
    TBodyEditor* dcMsgBody = nullptr;
    QCheckBox* cbLogon = nullptr;
    QComboBox* cbSecurity = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label10 = nullptr;

    std::function<void()> RefreshStatusBar;
    // "&Groups" > "&Get group list".
    std::function<void()> GetGroupList;
    // The "Attach File" button of the Message page.
    std::function<void()> AttachFile;
    // The "Post" button: starts a posting run.
    std::function<void()> Post;
    // The request a run started now would post, from the main window's fields as they stand.
    std::function<TNewsRequest()> RunRequest;
    // Shows over a window of ours what a run of a request would send; sends nothing.
    std::function<void(QWidget* owner, const TNewsRequest& request)> Preview;
    // True while a run or a retrieval is under way; the main window's BusyChanged says when
    // this changes.
    std::function<bool()> Busy;
};

// The access record of a main window, which names its controls and commands as the record does.
template <typename TMain> TMainWindowAccess MainWindowAccessOf(TMain& main) {
    TMainWindowAccess access;
    access.Window = &main;
    access.ButtonColumn = main.template findChild<QWidget*>(QStringLiteral("pnlButtons"));
    access.ProgramDir = main.ProgramDir();
    access.trcvNewsgroups = main.trcvNewsgroups;
    access.trcvToPost = main.trcvToPost;
    access.eHost = main.eHost;
    access.eUserName = main.eUserName;
    access.ePassword = main.ePassword;
    access.eOrganization = main.eOrganization;
    access.eName = main.eName;
    access.eAddress = main.eAddress;
    access.eSubject = main.eSubject;
    access.eFollowupTo = main.eFollowupTo;
    access.eReplyTo = main.eReplyTo;
    access.dcMsgBody = main.dcMsgBody;
    access.cbLogon = main.cbLogon;
    access.cbSecurity = main.cbSecurity;
    access.Image1 = main.Image1;
    access.Label10 = main.Label10;
    access.RefreshStatusBar = [&main] { main.RefreshStatusBar(); };
    access.GetGroupList = [&main] { main.Getgrouplist1Click(); };
    access.AttachFile = [&main] { main.btnAttachClick(); };
    access.Post = [&main] { main.spdPostClick(); };
    access.RunRequest = [&main] { return main.RunRequest(); };
    access.Preview = [&main](QWidget* owner, const TNewsRequest& request) {
        main.ShowPreview(owner, request);
    };
    access.Busy = [&main] { return main.Busy(); };
    return access;
}

#include "selection/TFrmWiz.h"

#include "selection/TBodyEditor.h"
#include "selection/TPrompts.h"
#include "selection/TfrmFind.h"
#include "selection/trcvListbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>

TFrmWiz::TFrmWiz(TMainWindowAccess main, TfrmFind* findWindow, QWidget* parent)
    : QDialog(parent), FMain(std::move(main)), FFindWindow(findWindow) {
    setObjectName(QStringLiteral("FrmWiz"));
    setWindowTitle(QStringLiteral("Start Wizard"));
    setAcceptDrops(true);
    FWizardDir = FMain.ProgramDir;
    if (!FWizardDir.isEmpty() && !FWizardDir.endsWith(QLatin1Char('/')))
        FWizardDir += QLatin1Char('/');
    CreateControls();
    connect(trcvNewsgroups, &trcvListbox::DoubleClicked, this, &TFrmWiz::trcvNewsgroupsDblClick);
    ShowIntroPage();
}

TWizardPage TFrmWiz::ActivePage() const {
    return static_cast<TWizardPage>(PageControl1->currentIndex());
}

void TFrmWiz::ShowPage(TWizardPage page, bool back, bool next, bool finish) {
    PageControl1->setCurrentIndex(static_cast<int>(page));
    BtnBack->setEnabled(back);
    btnNext->setEnabled(next);
    btnFinish->setEnabled(finish && !MainBusy());
}

bool TFrmWiz::MainBusy() const {
    return FMain.Busy && FMain.Busy();
}

void TFrmWiz::BusyChanged(bool busy) {
    if (ActivePage() == TWizardPage::wpBody)
        btnFinish->setEnabled(!busy);
    else if (ActivePage() == TWizardPage::wpGroups && !busy)
        BtnBack->setEnabled(true);
}

void TFrmWiz::ShowIntroPage() {
    ShowPage(TWizardPage::wpIntro, false, true, false);
}

void TFrmWiz::ShowServerPage() {
    ShowPage(TWizardPage::wpServer, true, true, false);
}

void TFrmWiz::ShowGroupsPage() {
    ShowPage(TWizardPage::wpGroups, false, false, false);
    if (trcvNewsgroups->Count() > 0) {
        BtnBack->setEnabled(true);
        btnNext->setEnabled(true);
        return;
    }
    if (MainBusy()) {
        BtnBack->setEnabled(true);
        return;
    }
    // The list is fetched by the main window from its own server fields, so the server just
    // entered on the previous page has to be there first.
    if (!eHost->text().isEmpty())
        CopyServerToMain();
    if (FMain.GetGroupList)
        FMain.GetGroupList();
}

void TFrmWiz::ShowIdentityPage() {
    ShowPage(TWizardPage::wpIdentity, true, true, false);
    if (FMain.trcvNewsgroups->Count() > 0)
        return;
    if (!eHost->text().isEmpty())
        CopyServerToMain();
    else
        TPrompts::Current().ShowMessage(
            this, QStringLiteral("To proceed you should backup and enter your news server."));
}

void TFrmWiz::ShowBodyPage() {
    ShowPage(TWizardPage::wpBody, true, false, true);
}

void TFrmWiz::btnNextClick() {
    if (!btnNext->isEnabled())
        return;
    switch (ActivePage()) {
    case TWizardPage::wpIntro:
        ShowServerPage();
        break;
    case TWizardPage::wpServer:
        ShowGroupsPage();
        break;
    case TWizardPage::wpGroups:
        ShowIdentityPage();
        break;
    case TWizardPage::wpIdentity:
        ShowBodyPage();
        break;
    case TWizardPage::wpBody:
        break;
    }
}

void TFrmWiz::BtnBackClick() {
    if (!BtnBack->isEnabled())
        return;
    switch (ActivePage()) {
    case TWizardPage::wpIntro:
        break;
    case TWizardPage::wpServer:
        ShowIntroPage();
        break;
    case TWizardPage::wpGroups:
        ShowServerPage();
        break;
    case TWizardPage::wpIdentity:
        ShowGroupsPage();
        break;
    case TWizardPage::wpBody:
        ShowIdentityPage();
        break;
    }
}

void TFrmWiz::CopyServerToMain() {
    FMain.eHost->setText(eHost->text());
    FMain.eUserName->setText(eUserName->text());
    FMain.ePassword->setText(ePassword->text());
    FMain.eOrganization->setText(eOrganization->text());
    FMain.cbLogon->setChecked(cbLogon->isChecked());
    FMain.cbSecurity->setCurrentIndex(cbSecurity->currentIndex());
}

void TFrmWiz::FormActivate() {
    eHost->setText(FMain.eHost->text());
    eUserName->setText(FMain.eUserName->text());
    ePassword->setText(FMain.ePassword->text());
    eOrganization->setText(FMain.eOrganization->text());
    eName->setText(FMain.eName->text());
    eEmailAddress->setText(FMain.eAddress->text());
    eSubject->setText(FMain.eSubject->text());
    eFollowupTo->setText(FMain.eFollowupTo->text());
    eReplyTo->setText(FMain.eReplyTo->text());
    dcMsgBody->SetLines(FMain.dcMsgBody->Lines());
    cbLogon->setChecked(FMain.cbLogon->isChecked());
    cbSecurity->setCurrentIndex(FMain.cbSecurity->currentIndex());
    CopyAttachmentDisplay();

    const QString listFile = FWizardDir + QStringLiteral("newsgrps.txt");
    if (QFileInfo::exists(listFile))
        trcvNewsgroups->Items().LoadFromFile(listFile);
    // The to-post list is the main window's current one: the list file holds only what was
    // chosen up to the last start of the program.
    trcvtoPost->Items().Assign(FMain.trcvToPost->Items());
    ShowIntroPage();
}

void TFrmWiz::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormActivate();
}

void TFrmWiz::GroupListArrived() {
    trcvNewsgroups->Items().Assign(FMain.trcvNewsgroups->Items());
    if (ActivePage() != TWizardPage::wpGroups)
        return;
    btnNext->setEnabled(true);
    BtnBack->setEnabled(true);
}

void TFrmWiz::sbFindGroupsClick() {
    if (!FFindWindow)
        return;
    FFindWindow->exec();
    // Coming back from the find window refills the wizard from the main window, whose to-post
    // list now holds the groups sent there.
    FormActivate();
}

void TFrmWiz::sbSelectGroupsClick() {
    // Marked rows come in list order: one merge, no sort.
    std::vector<std::string_view> marked;
    const TGroupList& all = trcvNewsgroups->Items();
    for (int row = 0; row < all.Count(); ++row)
        if (trcvNewsgroups->IsSelected(row))
            marked.push_back(all[row]);
    trcvtoPost->Items().AddSorted(std::move(marked));
    if (FMain.RefreshStatusBar)
        FMain.RefreshStatusBar();
}

void TFrmWiz::trcvNewsgroupsDblClick() {
    const int row = trcvNewsgroups->ItemIndex();
    if (row < 0 || row >= trcvNewsgroups->Count())
        return;
    trcvtoPost->Items().Add(trcvNewsgroups->Items()[row]);
}

void TFrmWiz::btnAttachClick() {
    if (FMain.AttachFile)
        FMain.AttachFile();
    CopyAttachmentDisplay();
}

void TFrmWiz::CopyAttachmentDisplay() {
    Image1->setPixmap(FMain.Image1->pixmap());
    Image1->setToolTip(FMain.Image1->toolTip());
    Label10->setText(FMain.Label10->text());
    Label10->setToolTip(FMain.Label10->toolTip());
}

void TFrmWiz::FilesDropped(const QStringList& paths) {
    if (!paths.isEmpty())
        dcMsgBody->LoadFromFile(paths.first());
}

void TFrmWiz::btnCancelClick() {
    hide();
    done(QDialog::Accepted);
    if (FMain.RefreshStatusBar)
        FMain.RefreshStatusBar();
}

// Escape and the window's close box cancel.
void TFrmWiz::reject() {
    btnCancelClick();
}

void TFrmWiz::btnFinishClick() {
    if (MainBusy())
        return;
    FMain.trcvToPost->Items().Assign(trcvtoPost->Items());
    CopyServerToMain();
    FMain.eName->setText(eName->text());
    FMain.eAddress->setText(eEmailAddress->text());
    FMain.eSubject->setText(eSubject->text());
    FMain.eFollowupTo->setText(eFollowupTo->text());
    FMain.eReplyTo->setText(eReplyTo->text());
    FMain.dcMsgBody->SetLines(dcMsgBody->Lines());
    if (FMain.RefreshStatusBar)
        FMain.RefreshStatusBar();
    hide();
    if (FMain.Post)
        FMain.Post();
    done(QDialog::Accepted);
}

void TFrmWiz::btnPreviewClick() {
    if (FMain.RunRequest && FMain.Preview)
        FMain.Preview(this, RunRequest());
}

TNewsRequest TFrmWiz::RunRequest() const {
    TNewsRequest request = FMain.RunRequest();
    request.Groups = trcvtoPost->Items().Entries().ToStrings();
    TArticleRequest& article = request.Article;
    article.Name = eName->text().toStdString();
    article.Address = eEmailAddress->text().toStdString();
    article.Subject = eSubject->text().toStdString();
    article.Organization = eOrganization->text().toStdString();
    article.PostingHost = eHost->text().toStdString();
    article.BodyLines.clear();
    for (const QString& line : dcMsgBody->Lines())
        article.BodyLines.push_back(line.toStdString());
    return request;
}

static QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
    return paths;
}

void TFrmWiz::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TFrmWiz::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TFrmWiz::dropEvent(QDropEvent* event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    FilesDropped(paths);
}

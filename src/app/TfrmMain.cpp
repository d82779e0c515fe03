#include "app/TfrmMain.h"

#include "app/TCancelSecretKeeper.h"
#include "app/TEventPacer.h"
#include "posting/TRunJournal.h"

#include "selection/TBodyEditor.h"
#include "selection/TPrompts.h"
#include "selection/trcvListbox.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>

static const QString kNewsgroupsFile = QStringLiteral("newsgrps.txt");
static const QString kToPostFile = QStringLiteral("selgrps.txt");

TfrmMain::TfrmMain(const QString& programDir, QWidget* parent)
    : QMainWindow(parent), FProgramDir(programDir) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Heraldix"));
    setAcceptDrops(true);
    resize(720, 520);
    CreateControls();
    CreateClient();
    connect(trcvNewsgroups, &trcvListbox::DoubleClicked, this, &TfrmMain::trcvNewsgroupsDblClick);
    // A user who turns to the log sees it whole.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (ActivePage() == TMainPage::pgStatus)
            ShowPendingEvents();
    });
    FormCreate();
}

TfrmMain::~TfrmMain() {
    FOperation.reset();
}

QString TfrmMain::DefaultNewsreader() {
    return QStringLiteral("Heraldix/" HERALDIX_VERSION);
}

void TfrmMain::FormCreate() {
    if (!FProgramDir.endsWith(QLatin1Char('/')))
        FProgramDir += QLatin1Char('/');
    FAborted = false;
    LoadListFile(trcvNewsgroups, kNewsgroupsFile);
    LoadListFile(trcvToPost, kToPostFile);
    FDialogDir = FProgramDir;
    FJournal = std::make_unique<TRunJournal>(QFile::encodeName(JournalPath()).toStdString());
    FOperation->SetRecorder(FJournal.get());
    ShowPage(TMainPage::pgMessage);
    RefreshStatusBar();
}

// A list file that exists but cannot be read is reported and left as it is: closing must not
// overwrite it with the empty list the window started with.
void TfrmMain::LoadListFile(trcvListbox* list, const QString& name) {
    const QString path = FProgramDir + name;
    if (!QFileInfo::exists(path))
        return;
    try {
        list->Items().LoadFromFile(path);
    } catch (const std::exception& error) {
        FUnreadListFiles << name;
        TPrompts::Current().ShowMessage(this, QString::fromUtf8(error.what()));
    }
}

bool TfrmMain::LogonPasswordReady() {
    if (!FAskPasswordAtLogon || !cbLogon->isChecked() || eUserName->text().isEmpty() ||
        !ePassword->text().isEmpty())
        return true;
    return AskLogonPassword();
}

bool TfrmMain::AskLogonPassword() {
    TLogon logon{eUserName->text(), QString()};
    if (!TPrompts::Current().AskLogon(this, eHost->text(), logon))
        return false;
    eUserName->setText(logon.UserName);
    ePassword->setText(logon.Password);
    FAskPasswordAtLogon = false;
    emit LogonPasswordTyped();
    return true;
}

void TfrmMain::FormClose() {
    // Both files are written even when the first one fails; the first failure is then raised.
    std::exception_ptr failure;
    const auto save = [&](const trcvListbox* list, const QString& name) {
        if (list->Count() == 0 && FUnreadListFiles.contains(name))
            return;
        try {
            list->Items().SaveToFile(FProgramDir + name);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    save(trcvNewsgroups, kNewsgroupsFile);
    save(trcvToPost, kToPostFile);
    if (failure)
        std::rethrow_exception(failure);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    emit FormClosing();
    FormClose();
}

void TfrmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        RefreshStatusBar();
    QMainWindow::changeEvent(event);
}

// Files dropped from the desktop are accepted and nothing is done with them.
void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

QWidget* TfrmMain::PageWidget(TMainPage page) const {
    return FPages[static_cast<int>(page)];
}

TMainPage TfrmMain::ActivePage() const {
    return static_cast<TMainPage>(PageControl1->currentIndex());
}

void TfrmMain::ShowPage(TMainPage page) {
    PageControl1->setCurrentWidget(PageWidget(page));
}

void TfrmMain::SetStatusText(const QString& text) {
    FStatusPanels[1]->setText(StatusWithSecurity(text));
}

// Whoever reads a panel looks at it: what the operation reported is shown first.
QString TfrmMain::StatusPanelText(int panel) const {
    FPacer->Flush();
    return panel >= 0 && panel < 3 ? FStatusPanels[panel]->text() : QString();
}

int TfrmMain::ClientStateNumber() const {
    return static_cast<int>(FOperation->Client().State());
}

// A status text still held would otherwise come after, and over, the state shown here.
void TfrmMain::RefreshStatusBar() {
    ShowPendingEvents();
    FStatusPanels[0]->setText(QStringLiteral("Newsgroups: %1").arg(trcvNewsgroups->Count()));
    FStatusPanels[1]->setText(StatusWithSecurity(StateShortName(ClientStateNumber())));
    FStatusPanels[2]->setText(QStringLiteral("Selected Newsgroups: %1").arg(trcvToPost->Count()));
}

QString TfrmMain::StateShortName(int state) {
    static const char* const names[] = {"",
                                        "Connected",
                                        "Retrieving NewGroups",
                                        "Retrieving new news",
                                        "Retrieving Article",
                                        "Retrieving status",
                                        "Retrieving Body",
                                        "Retrieving Head",
                                        "Retrieving Group",
                                        "Retrieved List",
                                        "Retrieving Last",
                                        "Retrieving Next",
                                        "Retrieving PrePost",
                                        "Sending Post",
                                        "Quit",
                                        "Help",
                                        "Special",
                                        "Logging on",
                                        "AuthPass",
                                        "ListExt",
                                        "ListActiveTimes",
                                        "ListDistributions",
                                        "ListDistribPats",
                                        "ListNewsGroups",
                                        "ListOverviewFmt",
                                        "ListGroup",
                                        "Over",
                                        "Pat",
                                        "Date",
                                        "Capabilities",
                                        "StartTLS"};
    static_assert(std::size(names) == 31);
    if (state < 0 || state >= static_cast<int>(std::size(names)))
        return {};
    return QString::fromLatin1(names[state]);
}

void TfrmMain::SelectGroups1Click() {
    // Marked rows come in list order: one merge, no sort.
    std::vector<std::string_view> marked;
    const TGroupList& all = trcvNewsgroups->Items();
    for (int row = 0; row < all.Count(); ++row)
        if (trcvNewsgroups->IsSelected(row))
            marked.push_back(all[row]);
    trcvToPost->Items().AddSorted(std::move(marked));
    RefreshStatusBar();
}

void TfrmMain::trcvNewsgroupsDblClick() {
    const int row = trcvNewsgroups->ItemIndex();
    if (row < 0 || row >= trcvNewsgroups->Count())
        return;
    trcvToPost->Items().Add(trcvNewsgroups->Items()[row]);
    RefreshStatusBar();
}

void TfrmMain::sbClearClick() {
    TPrompts& prompts = TPrompts::Current();
    switch (ActivePage()) {
    case TMainPage::pgNewsgroups:
        if (prompts.AskYesNo(this,
                             QStringLiteral("Are you sure you want to clear the newsgroups?")))
            trcvNewsgroups->Items().Clear();
        break;
    case TMainPage::pgToPost:
        if (prompts.AskYesNo(
                this, QStringLiteral("Are you sure you want to clear the selected newsgroups")))
            trcvToPost->Items().Clear();
        break;
    case TMainPage::pgMessage:
        // The attachment goes with the body: clearing only its icon and name would leave a
        // file attached that the user believes removed.
        if (prompts.AskYesNo(this, QStringLiteral("Are you sure you want to clear the message"))) {
            dcMsgBody->clear();
            SetAttachmentPath(QString());
        }
        break;
    case TMainPage::pgOptions:
        if (prompts.AskYesNo(this,
                             QStringLiteral("Are you sure you want to clear your preferences?"))) {
            for (QLineEdit* edit :
                 {eHost, eUserName, ePassword, eProxy, eOrganization, eNewsreader})
                edit->clear();
        }
        break;
    case TMainPage::pgStatus:
        break;
    }
    RefreshStatusBar();
}

void TfrmMain::SetAttachmentPath(const QString& path) {
    FAttachmentPath = path;
    if (path.isEmpty())
        ClearAttachmentDisplay();
    else
        ShowAttachment();
}

void TfrmMain::ClearAttachmentDisplay() {
    Image1->clear();
    Image1->setToolTip(QString());
    Label10->clear();
    Label10->setToolTip(QString());
}

void TfrmMain::ShowAttachment() {
    const QFileInfo info(FAttachmentPath);
    QIcon icon = QFileIconProvider().icon(info);
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_FileIcon);
    Image1->setPixmap(icon.pixmap(32, 32));
    Image1->setToolTip(info.fileName());
    Label10->setText(info.fileName());
    Label10->setToolTip(info.fileName());
}

void TfrmMain::btnAttachClick() {
    const QString path = TPrompts::Current().OpenFileName(this, FDialogDir);
    if (!path.isEmpty())
        SetAttachmentPath(QFileInfo(path).absoluteFilePath());
}

void TfrmMain::btnLoadMessageClick() {
    const QString path = TPrompts::Current().OpenFileName(this, FDialogDir);
    if (!path.isEmpty())
        dcMsgBody->LoadFromFile(path);
}

void TfrmMain::sbStartHereClick() {
    if (!FStartWizard)
        return;
    FStartWizard->exec();
    RefreshStatusBar();
}

void TfrmMain::Findgroup1Click() {
    if (!FFindWindow)
        return;
    FFindWindow->show();
    FFindWindow->raise();
    FFindWindow->activateWindow();
}

void TfrmMain::About1Click() {
    if (FAboutWindow)
        FAboutWindow->show();
}

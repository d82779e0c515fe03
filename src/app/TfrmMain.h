#pragma once

#include "posting/TListedGroups.h"
#include "posting/TNewsOperation.h"
#include "posting/TPostingHistory.h"

#include "selection/TPrompts.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLayout;
class QProgressBar;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QSpinBox;
class QTimer;
class QTabWidget;
class QToolButton;
class QPushButton;
class QVBoxLayout;
class TBodyEditor;
class TCancelSecretKeeper;
class TEventPacer;
class TRunJournal;
class TfrmHistory;
class TfrmRunReport;
struct THistoryRun;
class trcvListbox;

// The operation the user started last: the group list or the posting run.
enum class TPendingOperation : uint8_t { ListGroups, PostArticles };

// The pages of the main window, in page order. The status log page has no tab.
enum class TMainPage : uint8_t { pgNewsgroups, pgToPost, pgMessage, pgOptions, pgStatus };

// The main window: the two newsgroup lists, the message, the server options and the status log
// on pages, the button column, the menus and the three-panel status bar.
//
// Every control's objectName is its component name, so the settings savers, the tests and other
// windows find them by name. The controls other windows read and write directly are public.
// Each command is a plain method (named after its control and event) that tests call directly;
// the buttons and menu items only call them.
//
// The find-groups window, the About window, the start wizard and the banner are made elsewhere
// and handed to the window with the Set... methods; until then their commands do nothing.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `programDir` is where the list files live (ending in "/"); the program passes
    // TProgramDir::Get(), tests a directory of their own.
    explicit TfrmMain(const QString& programDir, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Fields.
    const QString& ProgramDir() const { return FProgramDir; }
    const QString& DialogDir() const { return FDialogDir; }
    const QString& AttachmentPath() const { return FAttachmentPath; }
    void SetAttachmentPath(const QString& path);
    bool Aborted() const { return FAborted; }
    void SetAborted(bool aborted) { FAborted = aborted; }
    TPendingOperation PendingOperation() const { return FPendingOperation; }
    void SetPendingOperation(TPendingOperation operation) { FPendingOperation = operation; }
    bool HideByteCount() const { return FHideByteCount; }
    void SetHideByteCount(bool hide) { FHideByteCount = hide; }

    // The secondary windows and the banner.
    void SetFindWindow(QWidget* window) { FFindWindow = window; }
    void SetAboutWindow(QWidget* window) { FAboutWindow = window; }
    void SetStartWizard(QDialog* wizard) { FStartWizard = wizard; }
    // Docks `banner` above the status bar across the full width, 51 pixels high.
    void SetBanner(QWidget* banner);
    QWidget* Banner() const { return FBanner; }

    // Pages.
    TMainPage ActivePage() const;
    void ShowPage(TMainPage page);

    // Status bar.
    void RefreshStatusBar();
    // Panel 2 (0-based 1), which the client events also write.
    void SetStatusText(const QString& text);
    QString StatusPanelText(int panel) const;
    static QString StateShortName(int state);
    // The NNTP client's state number (0 to 28).
    int ClientStateNumber() const;

    // The posting run and the group-list retrieval, and the NNTP client they drive; the window
    // builds their requests and shows their events (TfrmMainClient.cpp).
    TNewsOperation& Operation() { return *FOperation; }
    TIpNntpClient& IpNntpClient1() { return FOperation->Client(); }

    // What a run posts, from the window's fields as they stand.
    TArticleRequest ArticleRequest() const;
    // A posting run's request as the window stands: the connection, the groups to post to and
    // the article.
    TNewsRequest RunRequest() const;

    // Encrypted connections (TfrmMainSecurity.cpp): the security chosen in cbSecurity and the
    // certificates the user trusts go into every request.
    void PrepareConnection(TNewsRequest& request) const;
    // A certificate that failed the check: asks (once the current event is over) whether to
    // trust it for this server, and when the user does, stores it and starts the operation again.
    void AskTrustLater(const TIpTlsPeer& peer, bool restart);
    // The authorities to trust instead of the system's (tests give their own).
    void SetTrustedAuthorities(const QString& caFile) { FTrustedAuthorities = caFile; }
    TIpNntpSecurity ChosenSecurity() const;
    // The security of an entry of cbSecurity (as the settings file keeps its index).
    static TIpNntpSecurity SecurityOfChoice(int index);
    // Status-bar panel 2's text, marked while the connection is encrypted.
    QString StatusWithSecurity(const QString& text) const;
    // True from Post until the server has answered for the last group, or the run ended early.
    bool Posting() const { return FOperation->Posting(); }
    // True from Get group list until the LIST reply has arrived, or the retrieval ended early.
    bool ListingGroups() const { return FOperation->ListingGroups(); }
    bool Busy() const { return FOperation->Busy(); }
    int PostsAccepted() const { return FOperation->Summary().Accepted; }
    int PostsRefused() const { return FOperation->Summary().Refused; }
    // The Message-ID of the article of each group of the run so far, in group order.
    const std::vector<std::string>& MessageIDs() const { return FMessageIDs; }
    // Where the window's runs keep their journal, so that a run cut short can be resumed.
    QString JournalPath() const;
    // Looks for a run that was cut short and asks whether to resume it: yes starts it, no
    // forgets it. For once the window is shown; while the start wizard is open the question
    // waits for it to close, and a run under way by then leaves the journal alone.
    void OfferInterruptedRun();
    // The report of the last run that finished; null until one has.
    TfrmRunReport* RunReport() const { return FRunReport; }
    // The posting history beside the settings file (TfrmMainHistory.cpp): every run that
    // finishes is added to it.
    QString HistoryPath() const;
    // Shows a run of the history in the report window a finished run uses.
    void ShowHistoryRun(const THistoryRun& run);
    // The Posting History window; null until it was first opened.
    TfrmHistory* HistoryWindow() const { return FHistoryWindow; }
    // Starts a run to `groups` with the message and options of the last run that started
    // (the report's "Post again to the refused groups"); the articles get new Message-IDs.
    void PostAgain(const std::vector<std::string>& groups);
    // Starts the cancel run that withdraws run's accepted articles (the report's "Cancel these
    // articles"), over its server and log-on (TfrmMainCancel.cpp).
    void CancelArticles(const THistoryRun& run);
    // Asks keeper for the user's Cancel-Lock secret, which every run then locks its articles
    // with; a run started before the answer waits for it. A run without a secret (none given, or
    // the store locked) posts unlocked articles, and says so in the log when there was a reason.
    void LoadCancelSecret(std::unique_ptr<TCancelSecretKeeper> keeper);
    // What the Newsreader field holds until the user changes it: the program and its version.
    static QString DefaultNewsreader();

    // The status log. A line appended goes in after every line the operation reported before
    // it; the operation's lines, status texts and progress are shown at a reader's pace, and
    // ShowPendingEvents() shows what is held at once. LogText() is the log's text with nothing
    // held back.
    void AppendToLog(const QString& line);
    void ShowPendingEvents();
    QString LogText();

    // "Replace my previous post" (TfrmMainReplace.cpp): the earlier run whose articles a post
    // replaces while cbReplace is ticked; none when the history has no run to replace.
    const std::optional<THistoryRun>& ReplaceRun() const { return FReplaceRun; }
    // Looks the run up again (the window does so as the Subject or the server changes).
    void UpdateReplaceRun();
    void btnChooseRunClick();
    // Lets the user pick a posting run of the history file at `path`; nothing when the user
    // picked none. Until one is given, Choose... is disabled.
    using TRunChooser =
        std::function<std::optional<THistoryRun>(QWidget* parent, const std::string& path)>;
    void SetRunChooser(TRunChooser chooser);
    // How lblReplaceRun names a run.
    static QString ReplaceRunText(const std::optional<THistoryRun>& run);

    // Commands.
    void SelectGroups1Click();
    void trcvNewsgroupsDblClick();
    void sbClearClick();
    void btnAttachClick();
    void ShowAttachment();
    void btnLoadMessageClick();
    void spdPostClick();
    void btnPreviewClick();
    // Shows over `owner` what a run of `request` would send, composed as the engine composes it;
    // sends nothing.
    void ShowPreview(QWidget* owner, const TNewsRequest& request);
    void spbAbortClick();
    void Getgrouplist1Click();
    void sbStartHereClick();
    void Findgroup1Click();
    void Postinghistory1Click();
    void About1Click();

    // Writes both list files; called when the window closes.
    void FormClose();

    // Set when the stored log-on password could not be had (the secret store was locked,
    // unavailable or held none): the next log-on with a user name and no password asks for it.
    void SetAskPasswordAtLogon(bool ask) { FAskPasswordAtLogon = ask; }
    // Called by the commands that log on before they start; asks for the password in the log-on
    // box when it must. False when the user cancelled the box: the command does not start.
    bool LogonPasswordReady();
    // Asks for the Options page's log-on password in the log-on box, whatever is stored; false
    // when the user cancelled the box.
    bool AskLogonPassword();

    // The controls that hold data.
    trcvListbox* trcvNewsgroups = nullptr;
    trcvListbox* trcvToPost = nullptr;
    QLineEdit* eName = nullptr;
    QLineEdit* eAddress = nullptr;
    QLineEdit* eSubject = nullptr;
    // Optional: where follow-ups should go (group names divided by commas, or "poster") and
    // where replies by mail should go; an empty field adds no header.
    QLineEdit* eFollowupTo = nullptr;
    QLineEdit* eReplyTo = nullptr;
    TBodyEditor* dcMsgBody = nullptr;
    QLineEdit* eHost = nullptr;
    QLineEdit* eOrganization = nullptr;
    QLineEdit* eNewsreader = nullptr;
    QSpinBox* seTimeout = nullptr;
    QCheckBox* cbLogon = nullptr;
    QComboBox* cbSecurity = nullptr;
    QSpinBox* seConnections = nullptr;
    QCheckBox* cbVerify = nullptr;
    // "Send as:" (0 a separate article to each group, 1 one cross-posted article to several)
    // and how many groups a cross-posted article names.
    QComboBox* cbSendAs = nullptr;
    QSpinBox* seGroupsPerArticle = nullptr;
    static constexpr int MaxGroupsPerArticle = 20;
    static constexpr int DefaultGroupsPerArticle = 5;
    // Groups each article of a run goes to as the Options page stands: 1 for separate articles.
    int GroupsPerArticle() const;
    QLineEdit* eUserName = nullptr;
    QLineEdit* ePassword = nullptr;
    QLineEdit* eProxy = nullptr;
    QPlainTextEdit* mDisplay = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label10 = nullptr;

    QTabWidget* PageControl1 = nullptr;
    QToolButton* sbStartHere = nullptr;
    QToolButton* sbFindGroups = nullptr;
    QToolButton* sbSelectGroups = nullptr;
    QToolButton* spdPost = nullptr;
    QToolButton* sbClear = nullptr;
    QToolButton* spbAbort = nullptr;
    QToolButton* sbExit = nullptr;
    QPushButton* btnLoadMessage = nullptr;
    QPushButton* btnAttach = nullptr;
    QPushButton* btnPreview = nullptr;
    QCheckBox* cbReplace = nullptr;
    QLabel* lblReplaceRun = nullptr;
    QPushButton* btnChooseRun = nullptr;

signals:
    // Emitted when the window is about to close, before the list files are written; the
    // settings are saved from here.
    void FormClosing();
    // Emitted after trcvNewsgroups has been replaced from the server's LIST reply; the start
    // wizard copies the list from here and enables its Back and Next buttons.
    void GroupListArrived();
    // A run or a retrieval has started (true) or ended (false); while one is under way the
    // commands that would start another are disabled.
    void BusyChanged(bool busy);
    // The user has typed the log-on password for the Options page's user and server into the
    // log-on box; ePassword holds it now.
    void LogonPasswordTyped();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Builds the controls; the layout lives in TfrmMainLayout.cpp.
    void CreateControls();
    QWidget* CreateListPage(trcvListbox*& list, const char* name, const QString& accessibleName);
    QWidget* CreateMessagePage();
    QWidget* CreateOptionsPage();
    QWidget* CreateStatusPage();
    QLayout* CreateReplaceRow(QWidget* page);
    void ConnectReplaceRow();
    void AddReplaces(TNewsRequest& request) const;
    QWidget* CreateButtonColumn();
    void CreateMenus();
    void CreateStatusBar();
    QAction* AddMenuAction(QMenu* menu, const QString& text, const char* name);

    void FormCreate();
    void LoadListFile(trcvListbox* list, const QString& name);
    void ClearAttachmentDisplay();
    QWidget* PageWidget(TMainPage page) const;

    void CreateClient();
    TNewsRequest MakeRequest() const;
    void ShowBusy(bool busy);
    void ShowGroupList(std::vector<std::string>& lines, bool groupList);
    void ShowFinished(const TRunSummary& summary);
    // The end of a cancel run, by what became of its articles; false for a posting run.
    bool ShowCancelFinished(const TRunSummary& summary);
    void ShowFailed(const std::string& message);
    void ShowRunReport(const TRunSummary& summary);
    // The report window, made on first use.
    TfrmRunReport* RunReportWindow();
    // Adds the finished run to the history; a history that cannot be written is a line in the
    // log, not a failed run.
    void RecordRun(const TRunSummary& summary);
    // The checks before a run, shown in one box (TfrmMainChecks.cpp); false when the run must
    // not start. The user's "Cross-post instead" switches cbSendAs first.
    bool ChecksAllowRun();
    // Every posting run starts here; `request` is kept for a run to the groups it refuses.
    void StartRun(TNewsRequest request);
    // Starts the run a journal left unfinished, logged on and encrypted as a new run would be.
    void ResumeRun(TNewsRequest request);
    // Sets the resumed run's password; false when the user cancelled the log-on box.
    bool ResumeLogon(TNewsRequest& request);
    void WriteLog(const QStringList& lines);
    void ShowRunProgress(int value, int maximum);
    void ShowLater(const QString& message, TPromptIcon icon = TPromptIcon::Information);
    void ReportFailure(const std::exception& error);

    QString FProgramDir;
    QString FDialogDir;
    QString FAttachmentPath;
    QStringList FUnreadListFiles;
    bool FAborted = false;
    TPendingOperation FPendingOperation = TPendingOperation::ListGroups;
    bool FHideByteCount = false;
    bool FAskPasswordAtLogon = false;

    std::unique_ptr<TNewsOperation> FOperation;
    std::unique_ptr<TEventPacer> FPacer;
    // The names of the group list under way, until its reply ends.
    TListedGroups FListedGroups;
    std::vector<std::string> FMessageIDs;
    // The request of the run that started last.
    TNewsRequest FLastRun;
    // The outcomes an interrupted run heard before it was cut short, while its resumed run is
    // the last run.
    std::vector<TGroupOutcome> FEarlier;
    TfrmRunReport* FRunReport = nullptr;
    TfrmHistory* FHistoryWindow = nullptr;
    QString FTrustedAuthorities;
    std::unique_ptr<TRunJournal> FJournal;
    std::unique_ptr<TCancelSecretKeeper> FCancelSecrets;
    bool FCancelSecretAwaited = false;
    std::string FCancelSecret;
    // Why there is no secret; empty when there is one, or no keeper was given.
    QString FNoCancelSecret;
    // The run started while the secret was awaited.
    std::optional<TNewsRequest> FRunAwaitingSecret;

    std::optional<THistoryRun> FReplaceRun;
    // The user chose FReplaceRun rather than the window looking it up.
    bool FReplaceChosen = false;
    TRunChooser FRunChooser;
    QTimer* FReplaceLookUp = nullptr;

    QWidget* FFindWindow = nullptr;
    QWidget* FAboutWindow = nullptr;
    QDialog* FStartWizard = nullptr;
    QWidget* FBanner = nullptr;
    QVBoxLayout* FBannerSlot = nullptr;
    QLabel* FStatusPanels[3] = {nullptr, nullptr, nullptr};
    // "Posting 37 of 200" in the status bar, shown only while a run is under way.
    QProgressBar* FRunProgress = nullptr;
    QWidget* FPages[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
};

// The main window's controls, their layout, menus and status bar. The behaviour behind them is in
// TfrmMain.cpp.
#include "app/TfrmMain.h"

#include "app/TPageControl.h"

#include "selection/TBodyEditor.h"
#include "selection/TFormLayout.h"
#include "selection/trcvListbox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>

static constexpr int kButtonColumnWidth = 110;
static constexpr int kButtonWidth = 100;
static constexpr int kButtonHeight = 34;
static constexpr int kBannerHeight = 51;
static constexpr int kPanelWidths[3] = {120, 125, 95};

void TfrmMain::CreateControls() {
    auto* const central = new QWidget(this);
    auto* const outer = new QVBoxLayout(central);
    outer->setContentsMargins(4, 4, 4, 0);
    outer->setSpacing(4);

    auto* const top = new QHBoxLayout;
    top->setSpacing(4);
    PageControl1 = Named(new TPageControl(central), "PageControl1");
    PageControl1->addTab(
        CreateListPage(trcvNewsgroups, "trcvNewsgroups", QStringLiteral("Newsgroups")),
        QStringLiteral("Newsgroups"));
    PageControl1->addTab(
        CreateListPage(trcvToPost, "trcvToPost", QStringLiteral("Newsgroups to Post")),
        QStringLiteral("Newsgroups to Post"));
    PageControl1->addTab(CreateMessagePage(), QStringLiteral("Message"));
    PageControl1->addTab(CreateOptionsPage(), QStringLiteral("Options"));
    PageControl1->addTab(CreateStatusPage(), QStringLiteral("Status"));
    PageControl1->setTabVisible(static_cast<int>(TMainPage::pgStatus), false);
    for (int page = 0; page < 5; ++page)
        FPages[page] = PageControl1->widget(page);
    top->addWidget(PageControl1, 1);
    top->addWidget(CreateButtonColumn());
    outer->addLayout(top, 1);

    FBannerSlot = new QVBoxLayout;
    FBannerSlot->setContentsMargins(0, 0, 0, 0);
    outer->addLayout(FBannerSlot);
    setCentralWidget(central);

    trcvToPost->SetHorizontalExtent(true);
    trcvToPost->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    trcvToPost->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    CreateMenus();
    CreateStatusBar();
    ConnectReplaceRow();
}

QWidget* TfrmMain::CreateListPage(trcvListbox*& list, const char* name,
                                  const QString& accessibleName) {
    auto* const page = new QWidget;
    page->setObjectName(QStringLiteral("ts") + QString::fromLatin1(name + 4));
    auto* const layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    list = Named(new trcvListbox(page), name);
    list->setAccessibleName(accessibleName);
    layout->addWidget(list);
    return page;
}

QWidget* TfrmMain::CreateMessagePage() {
    auto* const page = Named(new QWidget, "tsMessage");
    auto* const layout = new QVBoxLayout(page);

    auto* const fields = new QGridLayout;
    eName = AddEditRow(fields, 0, QStringLiteral("Your Name:"), "eName", page);
    eAddress = AddEditRow(fields, 1, QStringLiteral("Email Address:"), "eAddress", page);
    eSubject = AddEditRow(fields, 2, QStringLiteral("Subject:"), "eSubject", page);
    AddReplyRows(fields, 3, page, eFollowupTo, eReplyTo);
    layout->addLayout(fields);
    layout->addLayout(CreateReplaceRow(page));

    dcMsgBody = Named(new TBodyEditor(page), "dcMsgBody");
    dcMsgBody->setAccessibleName(QStringLiteral("Message body"));
    layout->addWidget(dcMsgBody, 1);

    auto* const strip = new QHBoxLayout;
    btnLoadMessage = Named(new QPushButton(QStringLiteral("Load Message"), page), "btnLoadMessage");
    btnAttach = Named(new QPushButton(QStringLiteral("Attach File"), page), "btnAttach");
    btnPreview = Named(new QPushButton(QStringLiteral("Preview"), page), "btnPreview");
    Image1 = Named(new QLabel(page), "Image1");
    Image1->setFixedSize(32, 32);
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setAccessibleName(QStringLiteral("Attached file icon"));
    Label10 = Named(new QLabel(page), "Label10");
    // A file's name is shown as it is, whatever it looks like.
    Label10->setTextFormat(Qt::PlainText);
    strip->addWidget(btnLoadMessage);
    strip->addWidget(btnAttach);
    strip->addSpacing(8);
    strip->addWidget(Image1);
    strip->addWidget(Label10, 1);
    strip->addWidget(btnPreview);
    layout->addLayout(strip);

    connect(btnLoadMessage, &QPushButton::clicked, this, &TfrmMain::btnLoadMessageClick);
    connect(btnAttach, &QPushButton::clicked, this, &TfrmMain::btnAttachClick);
    connect(btnPreview, &QPushButton::clicked, this, &TfrmMain::btnPreviewClick);
    return page;
}

QWidget* TfrmMain::CreateOptionsPage() {
    auto* const page = Named(new QWidget, "tsOptions");
    auto* const grid = new QGridLayout(page);
    grid->setColumnMinimumWidth(1, 240);
    grid->setColumnStretch(2, 1);

    eHost = AddEditRow(grid, 0, QStringLiteral("Newsgroup Server:"), "eHost", page);
    eOrganization = AddEditRow(grid, 1, QStringLiteral("Organization:"), "eOrganization", page);
    eNewsreader = AddEditRow(grid, 2, QStringLiteral("Newsreader"), "eNewsreader", page);
    eNewsreader->setText(DefaultNewsreader());

    auto* const timeoutLabel = new QLabel(QStringLiteral("Timeout:"), page);
    seTimeout = Named(new QSpinBox(page), "seTimeout");
    seTimeout->setRange(INT_MIN, INT_MAX);
    seTimeout->setValue(60);
    seTimeout->setMaximumWidth(100);
    timeoutLabel->setBuddy(seTimeout);
    grid->addWidget(timeoutLabel, 3, 0);
    grid->addWidget(seTimeout, 3, 1, Qt::AlignLeft);

    cbLogon = NewLogonCheckBox(page);
    grid->addWidget(cbLogon, 4, 0, 1, 2, Qt::AlignLeft);

    eUserName = AddEditRow(grid, 5, QStringLiteral("User Name:"), "eUserName", page);
    ePassword = AddEditRow(grid, 6, QStringLiteral("Password:"), "ePassword", page);
    ePassword->setEchoMode(QLineEdit::Password);
    ePassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    eProxy = AddEditRow(grid, 7, QStringLiteral("Proxy:"), "eProxy", page);
    eProxy->hide();
    static_cast<QLabel*>(grid->itemAtPosition(7, 0)->widget())->hide();
    cbSecurity = AddSecurityRow(grid, 8, page);

    // A run posts over this many connections at once; a new settings file starts with two.
    auto* const connectionsLabel = new QLabel(QStringLiteral("Connections:"), page);
    seConnections = Named(new QSpinBox(page), "seConnections");
    seConnections->setRange(1, TNewsOperation::MaxConnections);
    seConnections->setValue(2);
    seConnections->setFixedWidth(seTimeout->maximumWidth());
    connectionsLabel->setBuddy(seConnections);
    grid->addWidget(connectionsLabel, 9, 0);
    grid->addWidget(seConnections, 9, 1, Qt::AlignLeft);

    cbVerify = Named(new QCheckBox(QStringLiteral("Verify after posting"), page), "cbVerify");
    grid->addWidget(cbVerify, 10, 1, Qt::AlignLeft);

    // A separate copy to each group is what the program has always done; a cross-post reaches
    // several groups with one article, as Usenet prefers.
    auto* const sendAsLabel = new QLabel(QStringLiteral("Send as:"), page);
    cbSendAs = Named(new QComboBox(page), "cbSendAs");
    cbSendAs->addItems({QStringLiteral("A separate article to each group"),
                        QStringLiteral("One cross-posted article to several groups")});
    sendAsLabel->setBuddy(cbSendAs);
    grid->addWidget(sendAsLabel, 11, 0);
    grid->addWidget(cbSendAs, 11, 1, Qt::AlignLeft);
    auto* const perArticleLabel = new QLabel(QStringLiteral("Groups per article:"), page);
    seGroupsPerArticle = Named(new QSpinBox(page), "seGroupsPerArticle");
    seGroupsPerArticle->setRange(1, MaxGroupsPerArticle);
    seGroupsPerArticle->setValue(DefaultGroupsPerArticle);
    seGroupsPerArticle->setFixedWidth(seTimeout->maximumWidth());
    perArticleLabel->setBuddy(seGroupsPerArticle);
    grid->addWidget(perArticleLabel, 12, 0);
    grid->addWidget(seGroupsPerArticle, 12, 1, Qt::AlignLeft);
    const auto showPerArticle = [this, perArticleLabel](int index) {
        perArticleLabel->setEnabled(index == 1);
        seGroupsPerArticle->setEnabled(index == 1);
    };
    connect(cbSendAs, &QComboBox::currentIndexChanged, this, showPerArticle);
    showPerArticle(cbSendAs->currentIndex());
    grid->setRowStretch(13, 1);

    QWidget::setTabOrder(eHost, eOrganization);
    QWidget::setTabOrder(eOrganization, eNewsreader);
    QWidget::setTabOrder(eNewsreader, eUserName);
    QWidget::setTabOrder(eUserName, ePassword);
    QWidget::setTabOrder(ePassword, eProxy);
    QWidget::setTabOrder(eProxy, seTimeout);
    QWidget::setTabOrder(seTimeout, cbLogon);
    QWidget::setTabOrder(cbLogon, cbSecurity);
    QWidget::setTabOrder(cbSecurity, seConnections);
    QWidget::setTabOrder(seConnections, cbVerify);
    QWidget::setTabOrder(cbVerify, cbSendAs);
    QWidget::setTabOrder(cbSendAs, seGroupsPerArticle);
    return page;
}

QWidget* TfrmMain::CreateStatusPage() {
    auto* const page = Named(new QWidget, "tsStatus");
    auto* const layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    mDisplay = Named(new QPlainTextEdit(page), "mDisplay");
    mDisplay->setAccessibleName(QStringLiteral("Status log"));
    mDisplay->setReadOnly(true);
    mDisplay->setLineWrapMode(QPlainTextEdit::NoWrap);
    mDisplay->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(mDisplay);
    return page;
}

QWidget* TfrmMain::CreateButtonColumn() {
    auto* const column = Named(new QWidget, "pnlButtons");
    column->setFixedWidth(kButtonColumnWidth);
    auto* const layout = new QVBoxLayout(column);
    layout->setContentsMargins((kButtonColumnWidth - kButtonWidth) / 2, 0, 0, 0);
    layout->setSpacing(4);

    const auto add = [&](QToolButton*& button, const char* name, const QString& caption,
                         void (TfrmMain::*command)()) {
        button = Named(new QToolButton(column), name);
        button->setText(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setAutoRaise(true);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        layout->addWidget(button);
        if (command)
            connect(button, &QToolButton::clicked, this, command);
    };
    add(sbStartHere, "sbStartHere", QStringLiteral("Start Here"), &TfrmMain::sbStartHereClick);
    QFont bold = sbStartHere->font();
    bold.setBold(true);
    sbStartHere->setFont(bold);
    add(sbFindGroups, "sbFindGroups", QStringLiteral("Find groups"), &TfrmMain::Findgroup1Click);
    sbFindGroups->setToolTip(
        QStringLiteral("Press this button to find the groups that have the text above."));
    add(sbSelectGroups, "sbSelectGroups", QStringLiteral("Select Groups"),
        &TfrmMain::SelectGroups1Click);
    add(spdPost, "spdPost", QStringLiteral("Post"), &TfrmMain::spdPostClick);
    add(sbClear, "sbClear", QStringLiteral("Clear Window"), &TfrmMain::sbClearClick);
    add(spbAbort, "spbAbort", QStringLiteral("Abort"), &TfrmMain::spbAbortClick);
    add(sbExit, "sbExit", QStringLiteral("Exit"), nullptr);
    connect(sbExit, &QToolButton::clicked, this, &QWidget::close);
    layout->addStretch();
    return column;
}

QAction* TfrmMain::AddMenuAction(QMenu* menu, const QString& text, const char* name) {
    QAction* const action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void TfrmMain::CreateMenus() {
    QMenu* const files = menuBar()->addMenu(QStringLiteral("&Files"));
    files->setObjectName(QStringLiteral("Files1"));
    connect(AddMenuAction(files, QStringLiteral("&Options"), "Options1"), &QAction::triggered, this,
            [this] { ShowPage(TMainPage::pgOptions); });
    connect(AddMenuAction(files, QStringLiteral("Posting &History"), "Postinghistory1"),
            &QAction::triggered, this, &TfrmMain::Postinghistory1Click);
    files->addSeparator();
    connect(AddMenuAction(files, QStringLiteral("E&xit"), "Exit1"), &QAction::triggered, this,
            &QWidget::close);

    QMenu* const view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("View1"));
    const struct {
        const char* text;
        const char* name;
        TMainPage page;
    } pages[] = {{"&Newsgroups", "Newsgroups1", TMainPage::pgNewsgroups},
                 {"&Selected Groups", "SelectedGroups1", TMainPage::pgToPost},
                 {"&Message", "Message1", TMainPage::pgMessage},
                 {"&Options", "Options2", TMainPage::pgOptions},
                 {"S&tatus", "Status1", TMainPage::pgStatus}};
    for (const auto& entry : pages) {
        const TMainPage page = entry.page;
        connect(AddMenuAction(view, QString::fromLatin1(entry.text), entry.name),
                &QAction::triggered, this, [this, page] { ShowPage(page); });
    }

    QMenu* const groups = menuBar()->addMenu(QStringLiteral("&Groups"));
    groups->setObjectName(QStringLiteral("Groups1"));
    connect(AddMenuAction(groups, QStringLiteral("&Get group list"), "Getgrouplist1"),
            &QAction::triggered, this, &TfrmMain::Getgrouplist1Click);
    connect(AddMenuAction(groups, QStringLiteral("&Find group"), "Findgroup1"), &QAction::triggered,
            this, &TfrmMain::Findgroup1Click);
    connect(AddMenuAction(groups, QStringLiteral("&Select Group(s)"), "SelectGroups1"),
            &QAction::triggered, this, &TfrmMain::SelectGroups1Click);

    QMenu* const help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    connect(AddMenuAction(help, QStringLiteral("&About"), "About1"), &QAction::triggered, this,
            &TfrmMain::About1Click);
}

void TfrmMain::CreateStatusBar() {
    QStatusBar* const bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    for (int panel = 0; panel < 3; ++panel) {
        auto* const label = new QLabel(bar);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(panel + 1));
        // The status shows the server's words now and then.
        label->setTextFormat(Qt::PlainText);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(kPanelWidths[panel]);
        if (panel < 2)
            label->setFixedWidth(kPanelWidths[panel]);
        // The last panel takes what is left of the bar, as wide texts need.
        bar->addWidget(label, panel == 2 ? 1 : 0);
        FStatusPanels[panel] = label;
    }
    FRunProgress = new QProgressBar(bar);
    FRunProgress->setObjectName(QStringLiteral("RunProgress"));
    FRunProgress->setFormat(QStringLiteral("Posting %v of %m"));
    FRunProgress->setAccessibleName(QStringLiteral("Posting progress"));
    FRunProgress->setMaximumWidth(kPanelWidths[1]);
    FRunProgress->hide();
    bar->addPermanentWidget(FRunProgress);
}

void TfrmMain::SetBanner(QWidget* banner) {
    if (FBanner == banner)
        return;
    if (FBanner) {
        FBannerSlot->removeWidget(FBanner);
        FBanner->hide();
    }
    FBanner = banner;
    if (FBanner) {
        FBanner->setParent(centralWidget());
        FBanner->setFixedHeight(kBannerHeight);
        FBannerSlot->addWidget(FBanner);
        FBanner->show();
    }
}

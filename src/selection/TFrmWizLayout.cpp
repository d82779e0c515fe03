// The wizard's pages, their texts and the button strip. The behaviour behind them is in
// TFrmWiz.cpp.
#include "selection/TFrmWiz.h"

#include "selection/TBodyEditor.h"
#include "selection/TFormLayout.h"
#include "selection/trcvListbox.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

// A page's read-only explanation: its lines as given, centred, without a frame.
static QLabel* PageText(std::initializer_list<const char*> lines, const char* name,
                        QWidget* parent) {
    QStringList text;
    for (const char* line : lines)
        text << QString::fromLatin1(line);
    auto* const label = Named(new QLabel(text.join(QLatin1Char('\n')), parent), name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void TFrmWiz::CreateControls() {
    auto* const outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    PageControl1 = Named(new QStackedWidget(this), "PageControl1");
    PageControl1->addWidget(CreateIntroPage());
    PageControl1->addWidget(CreateServerPage());
    PageControl1->addWidget(CreateGroupsPage());
    PageControl1->addWidget(CreateIdentityPage());
    PageControl1->addWidget(CreateBodyPage());
    outer->addWidget(PageControl1, 1);

    auto* const rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    outer->addWidget(rule);
    outer->addLayout(CreateButtonStrip());
    // Enter in an edit must not press whichever button happens to be the default.
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(false);
    resize(520, 440);
}

QWidget* TFrmWiz::CreateIntroPage() {
    auto* const page = Named(new QWidget, "tsIntro");
    auto* const layout = new QVBoxLayout(page);
    mIntro = PageText({"This wizard will lead you through the procedure to get started ",
                       "posting to your favorites usenet newsgroups.  It's really quite simple, ",
                       "but there are some concepts that may be somewhat complicated ",
                       "to newbies.  Just follow the wizard", "",
                       "First, you need to accesss a news server.  That is, a computer with ",
                       "the newsgroups you want to access.  All the standard usenet servers ",
                       "exchange information, so posting to one of them will automatically ",
                       "get your message sent to the other servers on the Internet.", "",
                       "We recommend that you keep your postings under 15 groups at a ",
                       "time and that you try to follow the guidelines that your newsgroup ",
                       "administrator has set.   Also, keep your posting targeted to groups ",
                       "that are interested in your material so as not to anger the other ",
                       "usenet users.  Heraldix is a powerful application.  It is your ",
                       "responsibility to use it properly."},
                      "mIntro", page);
    layout->addWidget(mIntro);
    layout->addStretch();
    return page;
}

QWidget* TFrmWiz::CreateServerPage() {
    auto* const page = Named(new QWidget, "tsServer");
    auto* const layout = new QVBoxLayout(page);
    mServer = PageText({"Enter your news server's name or address.  You can get ",
                        "this from your ISP (Internet Service Provider).  The great majority of ",
                        "ISP's provide a news server as part of their service.  The most glaring ",
                        "exception to this is the online services such as A*L.  If you have an ",
                        "online service instead of an ISP, you'll have to purchase news server ",
                        "access separately.  "},
                       "mServer", page);
    layout->addWidget(mServer);

    auto* const grid = new QGridLayout;
    eHost = AddEditRow(grid, 0, QStringLiteral("News Server:"), "eHost", page);
    grid->addWidget(
        new QLabel(QStringLiteral("If you have a business or school name, enter it here."), page),
        1, 0, 1, 2);
    eOrganization = AddEditRow(grid, 2, QStringLiteral("Organization:"), "eOrganization", page);
    cbLogon = NewLogonCheckBox(page);
    grid->addWidget(cbLogon, 3, 0, 1, 2, Qt::AlignLeft | Qt::AlignAbsolute);
    eUserName = AddEditRow(grid, 4, QStringLiteral("User name:"), "eUserName", page);
    ePassword = AddEditRow(grid, 5, QStringLiteral("Password:"), "ePassword", page);
    cbSecurity = AddSecurityRow(grid, 6, page);
    layout->addLayout(grid);
    layout->addStretch();
    return page;
}

QWidget* TFrmWiz::CreateGroupsPage() {
    auto* const page = Named(new QWidget, "tsGroups");
    auto* const layout = new QVBoxLayout(page);
    mGroups = PageText({"If you haven't run Heraldix before, it is loading the newsgroups ",
                        "from your server.  When it is finished, you will need to select any ",
                        "desired groups to post to.  You can either press the find button and ",
                        "put a keyword in the box, or manually scroll the list and select those ",
                        "groups you want.  After selecting your groups, press next.", "", "", ""},
                       "mGroups", page);
    layout->addWidget(mGroups);

    auto* const buttons = new QHBoxLayout;
    sbFindGroups = Named(new QPushButton(QStringLiteral("Find groups"), page), "sbFindGroups");
    sbFindGroups->setToolTip(
        QStringLiteral("Press this button to find the groups that have the text above."));
    sbSelectGroups =
        Named(new QPushButton(QStringLiteral("Select Groups"), page), "sbSelectGroups");
    buttons->addStretch();
    buttons->addWidget(sbFindGroups);
    buttons->addWidget(sbSelectGroups);
    buttons->addStretch();
    layout->addLayout(buttons);

    pcGroups = Named(new QTabWidget(page), "pcGroups");
    trcvNewsgroups = Named(new trcvListbox, "trcvNewsgroups");
    trcvNewsgroups->setAccessibleName(QStringLiteral("Newsgroups"));
    trcvtoPost = Named(new trcvListbox, "trcvtoPost");
    trcvtoPost->setAccessibleName(QStringLiteral("Newsgroups to Post"));
    pcGroups->addTab(trcvNewsgroups, QStringLiteral("All Newsgroups"));
    pcGroups->addTab(trcvtoPost, QStringLiteral("Newsgroups to post"));
    layout->addWidget(pcGroups, 1);

    connect(sbFindGroups, &QPushButton::clicked, this, &TFrmWiz::sbFindGroupsClick);
    connect(sbSelectGroups, &QPushButton::clicked, this, &TFrmWiz::sbSelectGroupsClick);
    return page;
}

QWidget* TFrmWiz::CreateIdentityPage() {
    auto* const page = Named(new QWidget, "tsIdentity");
    auto* const grid = new QGridLayout(page);
    grid->addWidget(
        new QLabel(QStringLiteral("You'll probably want to enter a name, though it's not "
                                  "required."),
                   page),
        0, 0, 1, 2);
    eName = AddEditRow(grid, 1, QStringLiteral("Your Name:"), "eName", page);
    mIdentity = PageText({"An email address is required.  It should be your own address, though ",
                          "Heraldix will work as long as it is in valid Internet format.  i.e. ",
                          "yourname@example.invalid"},
                         "mIdentity", page);
    grid->addWidget(mIdentity, 2, 0, 1, 2);
    eEmailAddress = AddEditRow(grid, 3, QStringLiteral("Email Address:"), "eEmailAddress", page);

    auto* const subjectNote =
        new QLabel(QStringLiteral("A subject line for your message is also required:"), page);
    eSubject = Named(new QLineEdit(page), "eSubject");
    subjectNote->setBuddy(eSubject);
    grid->addWidget(subjectNote, 4, 0, 1, 2);
    grid->addWidget(eSubject, 5, 0, 1, 2);
    AddReplyRows(grid, 6, page, eFollowupTo, eReplyTo);

    auto* const attachment = new QHBoxLayout;
    btnAttach = Named(new QPushButton(QStringLiteral("Attach File"), page), "btnAttach");
    Image1 = Named(new QLabel(page), "Image1");
    Image1->setFixedSize(32, 32);
    Image1->setAccessibleName(QStringLiteral("Attached file icon"));
    Label10 = Named(new QLabel(page), "Label10");
    Label10->setTextFormat(Qt::PlainText);
    attachment->addWidget(btnAttach);
    attachment->addSpacing(8);
    attachment->addWidget(Image1);
    attachment->addWidget(Label10, 1);
    grid->addLayout(attachment, 8, 0, 1, 2);
    grid->setRowStretch(9, 1);

    connect(btnAttach, &QPushButton::clicked, this, &TFrmWiz::btnAttachClick);
    return page;
}

QWidget* TFrmWiz::CreateBodyPage() {
    auto* const page = Named(new QWidget, "tsBody");
    auto* const layout = new QVBoxLayout(page);
    mBody = PageText({"Enter your message here.  You can type it, or you can drag and drop ",
                      "your message from a compatible file type, such as a text file, or a file ",
                      "from MS Word.  When you press finish, your message will be posted.", ""},
                     "mBody", page);
    layout->addWidget(mBody);
    dcMsgBody = Named(new TBodyEditor(page), "dcMsgBody");
    dcMsgBody->setAccessibleName(QStringLiteral("Message body"));
    layout->addWidget(dcMsgBody, 1);
    btnPreview = Named(new QPushButton(QStringLiteral("Preview"), page), "btnPreview");
    layout->addWidget(btnPreview, 0, Qt::AlignRight);
    connect(btnPreview, &QPushButton::clicked, this, &TFrmWiz::btnPreviewClick);
    return page;
}

QLayout* TFrmWiz::CreateButtonStrip() {
    auto* const strip = new QHBoxLayout;
    BtnBack = Named(new QPushButton(QStringLiteral("< Back"), this), "BtnBack");
    btnNext = Named(new QPushButton(QStringLiteral("Next >"), this), "btnNext");
    btnCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel");
    btnFinish = Named(new QPushButton(QStringLiteral("Finish"), this), "btnFinish");
    for (QPushButton* button : {BtnBack, btnNext, btnCancel, btnFinish})
        strip->addWidget(button);
    strip->insertStretch(0);
    connect(BtnBack, &QPushButton::clicked, this, &TFrmWiz::BtnBackClick);
    connect(btnNext, &QPushButton::clicked, this, &TFrmWiz::btnNextClick);
    connect(btnCancel, &QPushButton::clicked, this, &TFrmWiz::btnCancelClick);
    connect(btnFinish, &QPushButton::clicked, this, &TFrmWiz::btnFinishClick);
    return strip;
}

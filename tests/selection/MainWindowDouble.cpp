#include "MainWindowDouble.h"

#include "selection/TBodyEditor.h"
#include "selection/trcvListbox.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

MainWindowDouble::MainWindowDouble(const QString& programDir) : FProgramDir(programDir) {
    auto* const layout = new QHBoxLayout(this);
    auto* const fields = new QVBoxLayout;
    const auto edit = [&](const char* name) {
        auto* const e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        fields->addWidget(e);
        return e;
    };
    trcvNewsgroups = new trcvListbox(this);
    trcvToPost = new trcvListbox(this);
    fields->addWidget(trcvNewsgroups);
    fields->addWidget(trcvToPost);
    eName = edit("eName");
    eAddress = edit("eAddress");
    eSubject = edit("eSubject");
    eFollowupTo = edit("eFollowupTo");
    eReplyTo = edit("eReplyTo");
    eHost = edit("eHost");
    eOrganization = edit("eOrganization");
    eUserName = edit("eUserName");
    ePassword = edit("ePassword");
    cbLogon = new QCheckBox(this);
    cbSecurity = new QComboBox(this);
    cbSecurity->addItems({"None", "TLS", "STARTTLS"});
    dcMsgBody = new TBodyEditor(this);
    Image1 = new QLabel(this);
    Label10 = new QLabel(this);
    for (QWidget* w :
         std::initializer_list<QWidget*>{cbLogon, cbSecurity, dcMsgBody, Image1, Label10})
        fields->addWidget(w);
    layout->addLayout(fields, 1);
    pnlButtons = new QWidget(this);
    pnlButtons->setObjectName(QStringLiteral("pnlButtons"));
    pnlButtons->setFixedWidth(110);
    layout->addWidget(pnlButtons);
    resize(600, 500);
}

void MainWindowDouble::Getgrouplist1Click() {
    ++GroupListFetches;
    if (OnGetGroupList)
        OnGetGroupList();
}

void MainWindowDouble::btnAttachClick() {
    ++Attaches;
    if (OnAttach)
        OnAttach();
}

void MainWindowDouble::spdPostClick() {
    ++Posts;
    if (OnPost)
        OnPost();
}

TNewsRequest MainWindowDouble::RunRequest() const {
    TNewsRequest request;
    request.GroupsPerArticle = 3;
    request.Article.Newsreader = "Double/1.0";
    return request;
}

QStringList MainWindowDouble::Fields() const {
    QStringList values;
    for (const QLineEdit* e :
         {eHost, eUserName, ePassword, eOrganization, eName, eAddress, eSubject})
        values << e->text();
    values << eFollowupTo->text() << eReplyTo->text();
    values << dcMsgBody->Lines().join(QLatin1Char('|'));
    values << (cbLogon->isChecked() ? QStringLiteral("logon") : QStringLiteral("no logon"));
    values << QString::fromStdString(trcvToPost->Items().SaveToText());
    values << QString::fromStdString(trcvNewsgroups->Items().SaveToText());
    return values;
}

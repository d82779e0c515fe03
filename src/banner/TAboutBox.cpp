#include "banner/TAboutBox.h"

#include "banner/TLinkBanner.h"
#include "banner/TURLLabel.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

QString TAboutBox::ProgramVersion() {
    return QStringLiteral(HERALDIX_VERSION);
}

TAboutBox::TAboutBox(QWidget* parent) : TAboutBox(ProgramVersion(), parent) {}

TAboutBox::TAboutBox(const QString& version, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(tr("About"));

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::StyledPanel);

    Image1 = new QLabel(panel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(250, 55);
    Image1->setAccessibleName(tr("Heraldix"));
    const QImage picture = TLinkBanner::DecodeOrReport(
        TLinkBanner::EmbeddedJpeg(QStringLiteral("about.jpg")), QStringLiteral("About window"));
    if (!picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));

    auto* siteText = new QLabel(tr("Stop by our web site at "), panel);
    URLLabel1 = new TURLLabel(panel);
    URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
    URLLabel1->SetURL(QString::fromLatin1(TLinkBanner::SiteURL));
    URLLabel1->setText(QStringLiteral("heraldix.example.com"));
    URLLabel1->setAccessibleName(tr("Heraldix web site"));
    siteText->setBuddy(URLLabel1);

    auto* versionText = new QLabel(tr("version number:"), panel);
    Label3 = new QLabel(panel);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);
    versionText->setBuddy(Label3);

    auto* siteRow = new QHBoxLayout;
    siteRow->addWidget(siteText);
    siteRow->addWidget(URLLabel1);
    siteRow->addStretch();
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(versionText);
    versionRow->addWidget(Label3);
    versionRow->addStretch();
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 8);
    panelLayout->addWidget(Image1, 0, Qt::AlignHCenter | Qt::AlignTop);
    auto* textLayout = new QVBoxLayout;
    textLayout->setContentsMargins(10, 4, 10, 0);
    textLayout->addLayout(siteRow);
    textLayout->addLayout(versionRow);
    panelLayout->addLayout(textLayout);

    OKButton = new QPushButton(tr("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Without a version the window stays as designed: "About" and an empty version label.
    if (!version.isEmpty()) {
        Label3->setText(version);
        setWindowTitle(tr("About %1").arg(QGuiApplication::applicationDisplayName()));
    }
}

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

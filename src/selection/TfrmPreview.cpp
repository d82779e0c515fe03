#include "selection/TfrmPreview.h"

#include "selection/TFormLayout.h"
#include "selection/TPrompts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmPreview::TfrmPreview(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPreview"));
    setWindowTitle(QStringLiteral("Preview"));
    resize(720, 560);
    auto* const layout = new QVBoxLayout(this);

    lblArticle =
        Named(new QLabel(QStringLiteral("The first article, as it goes to the server:"), this),
              "lblArticle");
    mArticle = Named(new QPlainTextEdit(this), "mArticle");
    mArticle->setReadOnly(true);
    mArticle->setLineWrapMode(QPlainTextEdit::NoWrap);
    mArticle->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lblArticle->setBuddy(mArticle);
    lblExample = Named(new QLabel(this), "lblExample");
    lblExample->setTextFormat(Qt::PlainText);
    lblExample->setWordWrap(true);
    layout->addWidget(lblArticle);
    layout->addWidget(mArticle, 3);
    layout->addWidget(lblExample);

    lblArticles = Named(new QLabel(this), "lblArticles");
    lbArticles = Named(new QListWidget(this), "lbArticles");
    lblArticles->setBuddy(lbArticles);
    layout->addWidget(lblArticles);
    layout->addWidget(lbArticles, 1);

    auto* const strip = new QHBoxLayout;
    btnClose = Named(new QPushButton(QStringLiteral("Close"), this), "btnClose");
    btnClose->setDefault(true);
    strip->addStretch(1);
    strip->addWidget(btnClose);
    layout->addLayout(strip);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

QString TfrmPreview::ArticleLine(const TArticlePreview::TArticle& article) {
    QStringList groups;
    for (const std::string& group : article.Newsgroups)
        groups << QString::fromStdString(group);
    return QStringLiteral("%1  %2 bytes")
        .arg(groups.join(u','), QString::number(article.Text.size()));
}

void TfrmPreview::ShowRun(const TNewsRequest& request, const TArticleComposer& composer) {
    std::string first;
    std::string messageId;
    QStringList lines;
    TArticlePreview(composer).Compose(request, [&](const TArticlePreview::TArticle& article) {
        if (lines.isEmpty()) {
            first = article.Text;
            messageId = article.MessageID;
        }
        lines << ArticleLine(article);
        return true;
    });
    QString text = QString::fromUtf8(first);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(u'\n'))
        text.chop(1);
    mArticle->setPlainText(text);
    lblExample->setText(QStringLiteral("The Message-ID %1 is an example: each run gives its "
                                       "articles Message-IDs of their own.")
                            .arg(QString::fromStdString(messageId)));
    lblArticles->setText(lines.size() == 1
                             ? QStringLiteral("The run would send 1 article:")
                             : QStringLiteral("The run would send %1 articles:").arg(lines.size()));
    lbArticles->clear();
    lbArticles->addItems(lines);
}

TfrmPreview* TfrmPreview::Open(QWidget* owner, const TNewsRequest& request,
                               const TArticleComposer& composer) {
    auto* const preview = new TfrmPreview(owner);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    try {
        preview->ShowRun(request, composer);
    } catch (const std::exception& error) {
        delete preview;
        TPrompts::Current().ShowMessage(owner, QString::fromUtf8(error.what()));
        return nullptr;
    }
    preview->open();
    return preview;
}

// The dry run: every article a post would send, composed as the run composes it and printed;
// no connection is opened and the run journal is left alone.

#include "app/TCommandLine.h"

#include "app/TComponentState.h"
#include "app/TfrmMain.h"
#include "posting/TArticlePreview.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>


std::string TCommandLine::DryRunArticle(const TArticlePreview::TArticle& article, size_t number,
                                        size_t count, bool json) {
    std::string groups;
    for (const std::string& group : article.Newsgroups)
        groups += (groups.empty() ? "" : ",") + group;
    if (json) {
        QJsonArray newsgroups;
        for (const std::string& group : article.Newsgroups)
            newsgroups.append(QString::fromStdString(group));
        QJsonArray headers;
        for (const std::string& field : TArticlePreview::HeaderFields(article.Text))
            headers.append(QString::fromStdString(field));
        const QJsonObject object{
            {QStringLiteral("newsgroups"), newsgroups},
            {QStringLiteral("size"), static_cast<qint64>(article.Text.size())},
            {QStringLiteral("headers"), headers},
        };
        return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + '\n';
    }
    std::string text = "Article " + std::to_string(number) + " of " + std::to_string(count) + ": " +
                       groups + " (" + std::to_string(article.Text.size()) + " bytes)\n";
    text.reserve(text.size() + article.Text.size() + 1);
    for (size_t at = 0; at < article.Text.size(); ++at)
        if (article.Text[at] != '\r' || article.Text.compare(at, 2, "\r\n") != 0)
            text += article.Text[at];
    return text + '\n';
}

int TCommandLine::DryRun(const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("resume")))
        throw EUsage{QStringLiteral("--dry-run composes a new run; it cannot show a resumed one")};
    QString host = parser.isSet(QStringLiteral("server"))
                       ? parser.value(QStringLiteral("server"))
                       : TComponentState::TrimText(Setting(QStringLiteral("eHost.Text")));
    if (parser.isSet(QStringLiteral("supersede")))
        host = QString::fromStdString(ReplacedRun(parser).Server);
    TNewsRequest request;
    request.Groups = Groups(parser);
    request.Article = ArticleRequest(parser, host);
    request.GroupsPerArticle = GroupsPerArticle(parser);
    if (!ChecksPassed(parser, request))
        return exUsage;
    AddReplaces(request);
    AddCancelSecret(request.Article);
    const size_t count = TArticleComposer::Batches(request.Groups.size(),
                                                   static_cast<size_t>(request.GroupsPerArticle))
                             .size();
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    size_t number = 0;
    try {
        TArticlePreview().Compose(request, [&](const TArticlePreview::TArticle& article) {
            const std::string text = DryRunArticle(article, ++number, count, FJson);
            if (!FQuiet)
                std::fwrite(text.data(), 1, text.size(), stdout);
            return true;
        });
    } catch (const std::exception& error) {
        throw EUsage{QString::fromUtf8(error.what())};
    }
    if (!FJson)
        PrintLine("Dry run: " + std::to_string(count) + (count == 1 ? " article" : " articles") +
                  " to " + std::to_string(request.Groups.size()) +
                  (request.Groups.size() == 1 ? " group" : " groups") +
                  ", nothing sent; the Message-IDs are examples");
    std::fflush(stdout);
    return exOk;
}

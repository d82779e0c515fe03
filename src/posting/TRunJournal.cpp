// Each line is one compact JSON object with an "event" member:
//   {"event":"run-started","request":{...}}        the run's request, without the password
//   {"event":"article-going","group":G,"message_id":ID}
//   {"event":"group-answered","group":G,"code":240,"accepted":true,...}
//   {"event":"run-ended"}
// A line is written whole with its line end and flushed before the run goes on, so a program
// killed at any moment leaves at most its last line torn; the reader skips a line it cannot read
// (torn, or written by a later version) instead of giving up on the run. A run begins the file
// afresh with its first article or answer, not before: one that never got that far (no
// connection) changes nothing, and an interrupted run it was to resume stays resumable. The
// journal of a run that ended keeps its end line until the next run replaces it: it tells what
// the last run did.
//
// Text is UTF-8 in a JSON string; text that is not valid UTF-8 (a file name in another
// encoding, a body file in Latin-1) is kept byte for byte as {"bytes": base64}, because a JSON
// string would replace its bytes and the resumed run would post something else.

#include "posting/TRunJournal.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <utility>

namespace {
const QString kEvent = QStringLiteral("event");
const QString kGroup = QStringLiteral("group");
const QString kMessageId = QStringLiteral("message_id");
const QString kRequest = QStringLiteral("request");
const QString kBytes = QStringLiteral("bytes");
const QString kRunStarted = QStringLiteral("run-started");
const QString kArticleGoing = QStringLiteral("article-going");
const QString kGroupAnswered = QStringLiteral("group-answered");
const QString kRunEnded = QStringLiteral("run-ended");

QJsonValue TextValue(const std::string& text) {
    const QString decoded = QString::fromStdString(text);
    if (decoded.toStdString() == text)
        return decoded;
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return QJsonObject{{kBytes, QString::fromLatin1(bytes.toBase64())}};
}

std::string TextOf(const QJsonValue& value) {
    if (value.isObject())
        return QByteArray::fromBase64(value.toObject().value(kBytes).toString().toLatin1())
            .toStdString();
    return value.toString().toStdString();
}

QJsonArray TextArray(const std::vector<std::string>& lines) {
    QJsonArray array;
    for (const std::string& line : lines)
        array.append(TextValue(line));
    return array;
}

std::vector<std::string> TextsOf(const QJsonValue& value) {
    std::vector<std::string> lines;
    for (const QJsonValue& line : value.toArray())
        lines.push_back(TextOf(line));
    return lines;
}

struct TSecurityName {
    TIpNntpSecurity Security;
    const char* Name;
};
constexpr TSecurityName kSecurityNames[] = {{TIpNntpSecurity::nySecNone, "none"},
                                            {TIpNntpSecurity::nySecTls, "tls"},
                                            {TIpNntpSecurity::nySecStartTls, "starttls"}};

QJsonObject RequestObject(const TNewsRequest& request) {
    QString security;
    for (const TSecurityName& name : kSecurityNames)
        if (name.Security == request.Security)
            security = QString::fromLatin1(name.Name);
    QJsonObject sentBefore;
    for (const auto& [group, id] : request.SentBefore)
        sentBefore.insert(QString::fromStdString(group), TextValue(id));
    const TArticleRequest& article = request.Article;
    return QJsonObject{
        {QStringLiteral("host"), TextValue(request.Host)},
        {QStringLiteral("log_on"), request.LogOn},
        {QStringLiteral("user"), TextValue(request.UserID)},
        {QStringLiteral("security"), security},
        {QStringLiteral("timeout"), request.TimeoutSeconds},
        {QStringLiteral("connections"), request.Connections},
        {QStringLiteral("verify"), request.Verify},
        {QStringLiteral("groups"), TextArray(request.Groups)},
        {QStringLiteral("sent_before"), sentBefore},
        {QStringLiteral("article"),
         QJsonObject{
             {QStringLiteral("name"), TextValue(article.Name)},
             {QStringLiteral("address"), TextValue(article.Address)},
             {QStringLiteral("organization"), TextValue(article.Organization)},
             {QStringLiteral("newsreader"), TextValue(article.Newsreader)},
             {QStringLiteral("subject"), TextValue(article.Subject)},
             {QStringLiteral("body"), TextArray(article.BodyLines)},
             {QStringLiteral("attachment"), TextValue(article.AttachmentPath)},
             {QStringLiteral("posting_host"), TextValue(article.PostingHost)},
         }},
    };
}

// The request of a start line; nothing when the line lacks what a run needs or names a
// security it does not know (better no resume than one in clear by mistake).
std::optional<TNewsRequest> RequestOf(const QJsonObject& object) {
    TNewsRequest request;
    request.Host = TextOf(object.value(QStringLiteral("host")));
    request.Groups = TextsOf(object.value(QStringLiteral("groups")));
    const QString security = object.value(QStringLiteral("security")).toString();
    bool securityKnown = false;
    for (const TSecurityName& name : kSecurityNames)
        if (security == QLatin1String(name.Name)) {
            request.Security = name.Security;
            securityKnown = true;
        }
    if (request.Host.empty() || request.Groups.empty() || !securityKnown)
        return std::nullopt;
    request.LogOn = object.value(QStringLiteral("log_on")).toBool();
    request.UserID = TextOf(object.value(QStringLiteral("user")));
    request.TimeoutSeconds = object.value(QStringLiteral("timeout")).toInt(request.TimeoutSeconds);
    request.Connections = std::clamp(object.value(QStringLiteral("connections")).toInt(1), 1,
                                     TNewsOperation::MaxConnections);
    request.Verify = object.value(QStringLiteral("verify")).toBool();
    const QJsonObject sentBefore = object.value(QStringLiteral("sent_before")).toObject();
    for (auto it = sentBefore.begin(); it != sentBefore.end(); ++it)
        request.SentBefore[it.key().toStdString()] = TextOf(it.value());
    const QJsonObject article = object.value(QStringLiteral("article")).toObject();
    const auto text = [&article](const char* key) {
        return TextOf(article.value(QString::fromLatin1(key)));
    };
    request.Article.Name = text("name");
    request.Article.Address = text("address");
    request.Article.Organization = text("organization");
    request.Article.Newsreader = text("newsreader");
    request.Article.Subject = text("subject");
    request.Article.BodyLines = TextsOf(article.value(QStringLiteral("body")));
    request.Article.AttachmentPath = text("attachment");
    request.Article.PostingHost = text("posting_host");
    return request;
}

std::string LineOf(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + '\n';
}

} // namespace

TRunJournal::TRunJournal(std::string path) : FPath(std::move(path)) {}

TRunJournal::~TRunJournal() {
    // Closed without an end line: the run, if one was under way, stays resumable.
    if (FFile != nullptr)
        std::fclose(FFile);
}

void TRunJournal::RunStarted(const TNewsRequest& request) {
    if (FFile != nullptr)
        std::fclose(FFile);
    FFile = nullptr;
    FStartLine = LineOf(QJsonObject{{kEvent, kRunStarted}, {kRequest, RequestObject(request)}});
}

void TRunJournal::ArticleGoing(const std::string& group, const std::string& messageId) {
    Write(LineOf(QJsonObject{
        {kEvent, kArticleGoing}, {kGroup, TextValue(group)}, {kMessageId, TextValue(messageId)}}));
}

void TRunJournal::GroupAnswered(const TGroupOutcome& outcome) {
    Write(LineOf(QJsonObject{{kEvent, kGroupAnswered},
                             {kGroup, TextValue(outcome.Group)},
                             {QStringLiteral("code"), outcome.Code},
                             {QStringLiteral("reply"), TextValue(outcome.Reply)},
                             {kMessageId, TextValue(outcome.MessageID)},
                             {QStringLiteral("sent"), outcome.ArticleSent},
                             {QStringLiteral("accepted"), outcome.Accepted}}));
}

void TRunJournal::RunEnded() {
    FStartLine.clear();
    if (FFile == nullptr)
        return;
    Write(LineOf(QJsonObject{{kEvent, kRunEnded}}));
    std::fclose(FFile);
    FFile = nullptr;
}

void TRunJournal::Write(const std::string& line) {
    if (!FStartLine.empty()) {
        // A journal that cannot be written costs the run its resume, not the run itself.
        // Readable by the user alone, as the settings are: it holds the user name and the
        // message.
        const int fd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        FFile = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (fd >= 0 && FFile == nullptr)
            ::close(fd);
        const std::string start = std::move(FStartLine);
        FStartLine.clear();
        Write(start);
    }
    if (FFile == nullptr)
        return;
    std::fwrite(line.data(), 1, line.size(), FFile);
    std::fflush(FFile);
}

std::optional<TRunJournal::TInterrupted> TRunJournal::FindInterrupted(const std::string& path) {
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.readAll();
    std::optional<TNewsRequest> started;
    // Per group: answers heard (a group named twice is answered twice) and the last article sent.
    std::map<std::string, int> answered;
    std::map<std::string, std::string> going;
    bool ended = false;
    for (const QByteArray& line : text.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString event = object.value(kEvent).toString();
        if (event == kRunStarted) {
            started = RequestOf(object.value(kRequest).toObject());
            answered.clear();
            going.clear();
            ended = false;
        } else if (event == kArticleGoing) {
            going[TextOf(object.value(kGroup))] = TextOf(object.value(kMessageId));
        } else if (event == kGroupAnswered) {
            ++answered[TextOf(object.value(kGroup))];
        } else if (event == kRunEnded) {
            ended = true;
        }
    }
    if (!started || ended)
        return std::nullopt;

    TInterrupted interrupted;
    interrupted.Total = started->Groups.size();
    TNewsRequest& request = interrupted.Request;
    request = std::move(*started);
    std::vector<std::string> groups = std::move(request.Groups);
    std::map<std::string, std::string> sentBefore = std::move(request.SentBefore);
    request.Groups.clear();
    request.SentBefore.clear();
    for (std::string& group : groups) {
        if (int& answers = answered[group]; answers > 0) {
            --answers;
            continue;
        }
        if (const auto found = going.find(group); found != going.end())
            request.SentBefore[group] = found->second;
        else if (const auto earlier = sentBefore.find(group); earlier != sentBefore.end())
            request.SentBefore[group] = earlier->second;
        request.Groups.push_back(std::move(group));
    }
    if (request.Groups.empty())
        return std::nullopt;
    return interrupted;
}

void TRunJournal::Discard(const std::string& path) {
    std::remove(path.c_str());
}

// Each line is one compact JSON object with an "event" member:
//   {"event":"run-started","request":{...}}        the run's request, without the password
//   {"event":"article-going","group":G,"message_id":ID}
//   {"event":"article-going","groups":[G,...],"message_id":ID}     one article cross-posted
//   {"event":"article-refused","groups":[G,...],"message_id":ID}   a cross-post refused whole
//   {"event":"group-answered","group":G,"code":240,"accepted":true,...}
//   {"event":"run-ended"}
// A cancel run's request carries "cancels" ([{group, message_id}], the articles withdrawn) and
// "cancels_run".
// The request carries "run_id" (the run's random part), "places" (a resumed run's places in the run
// it resumes) and "resumed"; a cross-posting run's also "groups_per_article". A line is written
// whole with its line end, so a program killed at any moment leaves at most its last line torn; the
// reader skips a line it cannot read (torn, or written by a later version) instead of giving up on
// the run. A run begins the file afresh with its first article or answer, not before: one that
// never got that far (no connection) changes nothing, and an interrupted run it was to resume stays
// resumable. A resumed run goes on after the lines of the run it resumes (same run_id), and the
// reader carries that run's answers over as heard before the interruption. The journal of a run
// that ended keeps its end line until the next run replaces it: it tells what the last run did.
//
// Text is UTF-8 in a JSON string; text that is not valid UTF-8 (a file name in another
// encoding, a body file in Latin-1, a group name) is kept byte for byte as {"bytes": base64},
// because a JSON string would replace its bytes and the resumed run would post something else.
// For the same reason nothing the user named is a JSON member name.

#include "posting/TRunJournal.h"

#include "posting/TFileBytes.h"
#include "posting/TJsonText.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

namespace {
const QString kEvent = QStringLiteral("event");
const QString kGroup = QStringLiteral("group");
const QString kGroups = QStringLiteral("groups");
const QString kMessageId = QStringLiteral("message_id");
const QString kRequest = QStringLiteral("request");
const QString kRunStarted = QStringLiteral("run-started");
const QString kArticleGoing = QStringLiteral("article-going");
const QString kArticleRefused = QStringLiteral("article-refused");
const QString kGroupAnswered = QStringLiteral("group-answered");
const QString kRunEnded = QStringLiteral("run-ended");

QJsonArray TextArray(const std::vector<std::string>& lines) {
    QJsonArray array;
    for (const std::string& line : lines)
        array.append(TJsonText::Value(line));
    return array;
}

std::vector<std::string> TextsOf(const QJsonValue& value) {
    std::vector<std::string> lines;
    for (const QJsonValue& line : value.toArray())
        lines.push_back(TJsonText::Of(line));
    return lines;
}

struct TSecurityName {
    TIpNntpSecurity Security;
    const char* Name;
};
constexpr TSecurityName kSecurityNames[] = {{TIpNntpSecurity::nySecNone, "none"},
                                            {TIpNntpSecurity::nySecTls, "tls"},
                                            {TIpNntpSecurity::nySecStartTls, "starttls"}};

// A map of group to Message-ID as the journal keeps it: pairs, since a group name is bytes.
QJsonArray GroupIdArray(const std::map<std::string, std::string>& ids) {
    QJsonArray array;
    for (const auto& [group, id] : ids)
        array.append(
            QJsonObject{{kGroup, TJsonText::Value(group)}, {kMessageId, TJsonText::Value(id)}});
    return array;
}

std::map<std::string, std::string> GroupIdsOf(const QJsonValue& value) {
    std::map<std::string, std::string> ids;
    for (const QJsonValue& pair : value.toArray())
        ids[TJsonText::Of(pair.toObject().value(kGroup))] =
            TJsonText::Of(pair.toObject().value(kMessageId));
    return ids;
}

bool IdentityPlaces(const std::vector<size_t>& places) {
    for (size_t i = 0; i < places.size(); ++i)
        if (places[i] != i)
            return false;
    return true;
}

// A cancel run's articles withdrawn, by group, and the run they came from.
void AddCancels(QJsonObject& object, const TNewsRequest& request) {
    if (request.Cancels.empty())
        return;
    QJsonArray cancels;
    for (const auto& [group, id] : request.Cancels)
        cancels.append(
            QJsonObject{{kGroup, TJsonText::Value(group)}, {kMessageId, TJsonText::Value(id)}});
    object.insert(QStringLiteral("cancels"), cancels);
    object.insert(QStringLiteral("cancels_run"), QString::fromStdString(request.CancelsRun));
}

void ReadCancels(const QJsonObject& object, TNewsRequest& request) {
    for (const QJsonValue& pair : object.value(QStringLiteral("cancels")).toArray())
        request.Cancels[TJsonText::Of(pair.toObject().value(kGroup))] =
            TJsonText::Of(pair.toObject().value(kMessageId));
    request.CancelsRun = object.value(QStringLiteral("cancels_run")).toString().toStdString();
}

QJsonObject RequestObject(const TNewsRequest& request) {
    QString security;
    for (const TSecurityName& name : kSecurityNames)
        if (name.Security == request.Security)
            security = QString::fromLatin1(name.Name);
    QJsonArray sentBefore;
    for (const auto& [group, id] : request.SentBefore)
        sentBefore.append(QJsonObject{{kGroup, TJsonText::Value(group)}, {kMessageId, TJsonText::Value(id)}});
    const TArticleRequest& article = request.Article;
    QJsonObject object{
        {QStringLiteral("host"), TJsonText::Value(request.Host)},
        {QStringLiteral("log_on"), request.LogOn},
        {QStringLiteral("user"), TJsonText::Value(request.UserID)},
        {QStringLiteral("security"), security},
        {QStringLiteral("timeout"), request.TimeoutSeconds},
        {QStringLiteral("connections"), request.Connections},
        {QStringLiteral("verify"), request.Verify},
        {QStringLiteral("groups"), TextArray(request.Groups)},
        {QStringLiteral("sent_before"), sentBefore},
        {QStringLiteral("run_id"), QString::fromStdString(request.RunId)},
        {QStringLiteral("article"),
         QJsonObject{
             {QStringLiteral("name"), TJsonText::Value(article.Name)},
             {QStringLiteral("address"), TJsonText::Value(article.Address)},
             {QStringLiteral("organization"), TJsonText::Value(article.Organization)},
             {QStringLiteral("newsreader"), TJsonText::Value(article.Newsreader)},
             {QStringLiteral("subject"), TJsonText::Value(article.Subject)},
             {QStringLiteral("body"), TextArray(article.BodyLines)},
             {QStringLiteral("attachment"), TJsonText::Value(article.AttachmentPath)},
             {QStringLiteral("posting_host"), TJsonText::Value(article.PostingHost)},
             {QStringLiteral("followup_to"), TJsonText::Value(article.FollowupTo)},
             {QStringLiteral("reply_to"), TJsonText::Value(article.ReplyTo)},
         }},
    };
    if (request.GroupsPerArticle > 1)
        object.insert(QStringLiteral("groups_per_article"), request.GroupsPerArticle);
    AddCancels(object, request);
    if (request.Resumed)
        object.insert(QStringLiteral("resumed"), true);
    // A resumed run supersedes the same articles as the run it finishes.
    if (!request.Replaces.empty()) {
        object.insert(QStringLiteral("replaces"), GroupIdArray(request.Replaces));
        object.insert(QStringLiteral("replaces_run"), TJsonText::Value(request.ReplacesRun));
    }
    if (!IdentityPlaces(request.Places)) {
        QJsonArray places;
        for (const size_t place : request.Places)
            places.append(static_cast<qint64>(place));
        object.insert(QStringLiteral("places"), places);
    }
    return object;
}

// A run id is what the engine makes: lower-case hex. Anything else (an edited journal) is no run
// id, and the resumed run makes Message-IDs of its own, as for a journal from before run ids.
std::string RunIdOf(const QJsonValue& value) {
    const std::string id = value.toString().toStdString();
    const bool hex =
        !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        });
    return hex ? id : std::string();
}

// The request of a start line; nothing when the line lacks what a run needs or names a
// security it does not know (better no resume than one in clear by mistake).
std::optional<TNewsRequest> RequestOf(const QJsonObject& object) {
    TNewsRequest request;
    request.Host = TJsonText::Of(object.value(QStringLiteral("host")));
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
    request.UserID = TJsonText::Of(object.value(QStringLiteral("user")));
    request.TimeoutSeconds = object.value(QStringLiteral("timeout")).toInt(request.TimeoutSeconds);
    request.Connections = std::clamp(object.value(QStringLiteral("connections")).toInt(1), 1,
                                     TNewsOperation::MaxConnections);
    request.Verify = object.value(QStringLiteral("verify")).toBool();
    request.GroupsPerArticle =
        std::max(object.value(QStringLiteral("groups_per_article")).toInt(1), 1);
    const QJsonValue sentBefore = object.value(QStringLiteral("sent_before"));
    for (const QJsonValue& pair : sentBefore.toArray())
        request.SentBefore[TJsonText::Of(pair.toObject().value(kGroup))] =
            TJsonText::Of(pair.toObject().value(kMessageId));
    // Journals written before group names were kept as bytes.
    const QJsonObject byName = sentBefore.toObject();
    for (auto it = byName.begin(); it != byName.end(); ++it)
        request.SentBefore[it.key().toStdString()] = TJsonText::Of(it.value());
    ReadCancels(object, request);
    request.RunId = RunIdOf(object.value(QStringLiteral("run_id")));
    request.Resumed = object.value(QStringLiteral("resumed")).toBool();
    request.Replaces = GroupIdsOf(object.value(QStringLiteral("replaces")));
    request.ReplacesRun = TJsonText::Of(object.value(QStringLiteral("replaces_run")));
    const QJsonArray places = object.value(QStringLiteral("places")).toArray();
    request.Places.resize(request.Groups.size());
    for (size_t i = 0; i < request.Places.size(); ++i) {
        const qint64 place = places.size() == static_cast<qsizetype>(request.Places.size())
                                 ? places[static_cast<qsizetype>(i)].toInteger(-1)
                                 : -1;
        request.Places[i] = place >= 0 ? static_cast<size_t>(place) : i;
    }
    const QJsonObject article = object.value(QStringLiteral("article")).toObject();
    const auto text = [&article](const char* key) {
        return TJsonText::Of(article.value(QString::fromLatin1(key)));
    };
    request.Article.Name = text("name");
    request.Article.Address = text("address");
    request.Article.Organization = text("organization");
    request.Article.Newsreader = text("newsreader");
    request.Article.Subject = text("subject");
    request.Article.BodyLines = TextsOf(article.value(QStringLiteral("body")));
    request.Article.AttachmentPath = text("attachment");
    request.Article.PostingHost = text("posting_host");
    request.Article.FollowupTo = text("followup_to");
    request.Article.ReplyTo = text("reply_to");
    return request;
}

TGroupOutcome OutcomeOf(const QJsonObject& object) {
    TGroupOutcome outcome;
    outcome.Group = TJsonText::Of(object.value(kGroup));
    outcome.Code = object.value(QStringLiteral("code")).toInt();
    outcome.Reply = TJsonText::Of(object.value(QStringLiteral("reply")));
    outcome.MessageID = TJsonText::Of(object.value(kMessageId));
    outcome.ArticleSent = object.value(QStringLiteral("sent")).toBool();
    outcome.Accepted = object.value(QStringLiteral("accepted")).toBool();
    outcome.Earlier = true;
    return outcome;
}

std::string LineOf(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + '\n';
}

// One run's part of a journal: its start, what it heard, and the answers of the run it resumes.
struct TSection {
    TNewsRequest Request;
    // By place in the run as it first began.
    std::vector<std::pair<size_t, TGroupOutcome>> Earlier;
    std::vector<TGroupOutcome> Heard;
    // Per group, the last article sent.
    std::map<std::string, std::string> Going;
    bool Ended = false;
};

// Each group of the section is answered by the first answer heard for its name not yet given
// to another (a group named twice needs two answers), or left. Answers for no group of the run
// are no answers.
void Resolve(const TSection& section, std::vector<std::pair<size_t, TGroupOutcome>>& answered,
             std::vector<size_t>& left) {
    std::map<std::string, std::deque<const TGroupOutcome*>> heard;
    for (const TGroupOutcome& outcome : section.Heard)
        heard[outcome.Group].push_back(&outcome);
    answered = section.Earlier;
    const TNewsRequest& request = section.Request;
    for (size_t i = 0; i < request.Groups.size(); ++i) {
        std::deque<const TGroupOutcome*>& answers = heard[request.Groups[i]];
        if (answers.empty()) {
            left.push_back(i);
            continue;
        }
        answered.emplace_back(request.Places[i], *answers.front());
        answers.pop_front();
    }
    std::stable_sort(answered.begin(), answered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// The locks are the process's: closing any descriptor of a file drops every lock the process
// holds on it. So a journal held here is read through its own descriptor, never opened again,
// and a second run of this process on it is refused here.
using TFileKey = std::pair<dev_t, ino_t>;
std::map<TFileKey, int>& HeldJournals() {
    static std::map<TFileKey, int> held;
    return held;
}

TFileKey KeyOf(const struct stat& status) {
    return {status.st_dev, status.st_ino};
}

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

// The journal's text; false when there is none, or when another process has a run under way on
// it (its run is not cut short).
bool ReadJournal(const std::string& path, std::string& text) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return false;
    if (const auto held = HeldJournals().find(KeyOf(status)); held != HeldJournals().end())
        return TFileBytes::ReadAll(held->second, text);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock holder = WholeFile(F_WRLCK);
    const bool inUse = ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK;
    const bool read = !inUse && TFileBytes::ReadAll(fd, text);
    ::close(fd);
    return read;
}

} // namespace

TRunJournal::TRunJournal(std::string path) : FPath(std::move(path)) {}

// Closed without an end line: the run, if one was under way, stays resumable.
TRunJournal::~TRunJournal() {
    Release();
}

void TRunJournal::Lock() {
    // A file replaced or removed under a lock (a run discarded meanwhile) is a lock on nothing:
    // the lock counts only while the path still names the file locked.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat named {};
        const bool exists = ::stat(FPath.c_str(), &named) == 0;
        struct stat held {};
        if (FFile >= 0 && exists && ::fstat(FFile, &held) == 0 && KeyOf(held) == KeyOf(named))
            return;
        Release();
        if (exists && HeldJournals().count(KeyOf(named)) > 0)
            throw ERunRefused("Another Heraldix run is using " + FPath + " (process " +
                              std::to_string(::getpid()) + ")");
        // Readable by the user alone, as the settings are: it holds the user name and the
        // message.
        int fd = ::open(FPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool created = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            fd = ::open(FPath.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            throw EIpBaseException(std::strerror(errno));
        struct flock lock = WholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &lock) != 0) {
            const int error = errno;
            struct flock holder = WholeFile(F_WRLCK);
            const bool known = ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK;
            ::close(fd);
            if (error != EACCES && error != EAGAIN)
                throw EIpBaseException(std::strerror(error));
            throw ERunRefused("Another Heraldix run is using " + FPath + " (process " +
                              std::to_string(known ? holder.l_pid : 0) + ")");
        }
        struct stat opened {};
        ::fstat(fd, &opened);
        HeldJournals()[KeyOf(opened)] = fd;
        FFile = fd;
        FCreated = created;
    }
    if (FFile < 0)
        throw EIpBaseException(std::strerror(ESTALE));
}

void TRunJournal::Release() {
    FStartLine.clear();
    if (FFile < 0)
        return;
    struct stat status {};
    if (::fstat(FFile, &status) == 0)
        HeldJournals().erase(KeyOf(status));
    ::close(FFile);
    FFile = -1;
}

void TRunJournal::RunStarted(const TNewsRequest& request) {
    Lock();
    FBroken.clear();
    FBegun = false;
    FAppend = request.Resumed;
    FStartLine = LineOf(QJsonObject{{kEvent, kRunStarted}, {kRequest, RequestObject(request)}});
}

void TRunJournal::ArticleGoing(const std::string& group, const std::string& messageId) {
    Write(LineOf(QJsonObject{
        {kEvent, kArticleGoing}, {kGroup, TJsonText::Value(group)}, {kMessageId, TJsonText::Value(messageId)}}));
}

void TRunJournal::CrosspostGoing(const std::vector<std::string>& groups,
                                 const std::string& messageId) {
    Write(LineOf(QJsonObject{{kEvent, kArticleGoing},
                             {kGroups, TextArray(groups)},
                             {kMessageId, TJsonText::Value(messageId)}}));
}

void TRunJournal::CrosspostRefused(const std::vector<std::string>& groups,
                                   const std::string& messageId) {
    Write(LineOf(QJsonObject{{kEvent, kArticleRefused},
                             {kGroups, TextArray(groups)},
                             {kMessageId, TJsonText::Value(messageId)}}));
}

void TRunJournal::GroupAnswered(const TGroupOutcome& outcome) {
    Write(LineOf(QJsonObject{{kEvent, kGroupAnswered},
                             {kGroup, TJsonText::Value(outcome.Group)},
                             {QStringLiteral("code"), outcome.Code},
                             {QStringLiteral("reply"), TJsonText::Value(outcome.Reply)},
                             {kMessageId, TJsonText::Value(outcome.MessageID)},
                             {QStringLiteral("sent"), outcome.ArticleSent},
                             {QStringLiteral("accepted"), outcome.Accepted}}));
}

void TRunJournal::RunEnded() {
    if (FBegun && FBroken.empty()) {
        try {
            Write(LineOf(QJsonObject{{kEvent, kRunEnded}}));
        } catch (const std::exception&) {
        }
    }
    Release();
}

void TRunJournal::EndInterrupted() {
    Lock();
    FBroken.clear();
    FStartLine.clear();
    FBegun = false;
    FAppend = true;
    Write(LineOf(QJsonObject{{kEvent, kRunEnded}}));
    Release();
}

void TRunJournal::Broke(int error) {
    FBroken = std::strerror(error);
    throw EIpBaseException(FBroken);
}

void TRunJournal::Write(const std::string& line) {
    if (!FBroken.empty())
        throw EIpBaseException(FBroken);
    if (FFile < 0)
        Broke(EBADF);
    if (!FBegun)
        Begin();
    if (!TFileBytes::WriteAll(FFile, line))
        Broke(errno);
}

void TRunJournal::Begin() {
    std::string text = std::move(FStartLine);
    FStartLine.clear();
    FBegun = true;
    off_t end = 0;
    if (FAppend) {
        end = ::lseek(FFile, 0, SEEK_END);
        if (end < 0)
            Broke(errno);
    } else if (::ftruncate(FFile, 0) != 0 || ::lseek(FFile, 0, SEEK_SET) != 0) {
        Broke(errno);
    }
    // A torn last line of the run resumed must not swallow this run's start.
    char last = '\n';
    if (end > 0 && ::pread(FFile, &last, 1, end - 1) != 1)
        last = 0;
    if (last != '\n')
        text.insert(text.begin(), '\n');
    if (!TFileBytes::WriteAll(FFile, text) || ::fsync(FFile) != 0)
        Broke(errno);
    if (FCreated && !TFileBytes::SyncDirectoryOf(FPath))
        Broke(errno);
    FCreated = false;
}

std::optional<TRunJournal::TInterrupted> TRunJournal::FindInterrupted(const std::string& path,
                                                                     bool answeredToo) {
    std::string text;
    if (!ReadJournal(path, text))
        return std::nullopt;
    return InterruptedIn(text, answeredToo);
}

std::optional<TRunJournal::TInterrupted> TRunJournal::InterruptedIn(std::string_view text,
                                                                   bool answeredToo) {
    std::optional<TSection> section;
    const QByteArray bytes =
        QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
    for (const QByteArray& line : bytes.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString event = object.value(kEvent).toString();
        if (event == kRunStarted) {
            std::optional<TNewsRequest> request = RequestOf(object.value(kRequest).toObject());
            if (!request) {
                section.reset();
                continue;
            }
            TSection next;
            if (section && request->Resumed && !request->RunId.empty() &&
                section->Request.RunId == request->RunId) {
                std::vector<size_t> left;
                Resolve(*section, next.Earlier, left);
            }
            next.Request = std::move(*request);
            section = std::move(next);
        } else if (!section) {
            continue;
        } else if (event == kArticleGoing) {
            const std::string id = TJsonText::Of(object.value(kMessageId));
            if (object.contains(kGroups))
                for (const std::string& group : TextsOf(object.value(kGroups)))
                    section->Going[group] = id;
            else
                section->Going[TJsonText::Of(object.value(kGroup))] = id;
        } else if (event == kArticleRefused) {
            // Not on the server: its groups are left to be posted afresh.
            const std::string id = TJsonText::Of(object.value(kMessageId));
            for (const std::string& group : TextsOf(object.value(kGroups)))
                if (const auto going = section->Going.find(group);
                    going != section->Going.end() && going->second == id)
                    section->Going.erase(going);
        } else if (event == kGroupAnswered) {
            section->Heard.push_back(OutcomeOf(object));
        } else if (event == kRunEnded) {
            section->Ended = true;
        }
    }
    if (!section || section->Ended)
        return std::nullopt;

    std::vector<std::pair<size_t, TGroupOutcome>> answered;
    std::vector<size_t> left;
    Resolve(*section, answered, left);
    if (left.empty() && (!answeredToo || answered.empty()))
        return std::nullopt;
    TInterrupted interrupted;
    interrupted.Total = answered.size() + left.size();
    const TNewsRequest& started = section->Request;
    // By place: each group the resumed run takes, and the article it may have on the server.
    std::map<size_t, std::pair<std::string, std::string>> taken;
    for (auto& [place, outcome] : answered) {
        // A cancel taken is not yet known to have withdrawn its article: the resumed run asks
        // for the cancel (STAT, never sent twice) and then for the article it withdrew.
        if (!started.Cancels.empty() && outcome.Accepted) {
            taken[place] = {outcome.Group, outcome.MessageID};
            continue;
        }
        interrupted.Answered.push_back(std::move(outcome));
    }
    for (const size_t i : left) {
        const std::string& group = started.Groups[i];
        std::string sentBefore;
        if (const auto found = section->Going.find(group); found != section->Going.end())
            sentBefore = found->second;
        else if (const auto earlier = started.SentBefore.find(group);
                 earlier != started.SentBefore.end())
            sentBefore = earlier->second;
        taken[started.Places[i]] = {group, sentBefore};
    }
    TNewsRequest& request = interrupted.Request;
    request = started;
    request.Groups.clear();
    request.Places.clear();
    request.SentBefore.clear();
    request.Resumed = true;
    for (auto& [place, group] : taken) {
        if (!group.second.empty())
            request.SentBefore[group.first] = group.second;
        request.Groups.push_back(std::move(group.first));
        request.Places.push_back(place);
    }
    return interrupted;
}

void TRunJournal::Discard(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && HeldJournals().count(KeyOf(status)) > 0) {
        std::remove(path.c_str());
        return;
    }
    // Taken first, so that a run under way elsewhere keeps its journal.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &lock) == 0)
        std::remove(path.c_str());
    ::close(fd);
}

TRunSummary TRunJournal::WithEarlier(const std::vector<TGroupOutcome>& earlier,
                                     const TRunSummary& summary) {
    TRunSummary whole = summary;
    whole.Outcomes = earlier;
    whole.Outcomes.insert(whole.Outcomes.end(), summary.Outcomes.begin(), summary.Outcomes.end());
    std::string firstRefusal;
    for (const TGroupOutcome& outcome : earlier) {
        if (outcome.Accepted) {
            ++whole.Accepted;
            continue;
        }
        ++whole.Refused;
        if (firstRefusal.empty())
            firstRefusal = outcome.Reply;
    }
    if (!firstRefusal.empty())
        whole.FirstRefusal = firstRefusal;
    return whole;
}

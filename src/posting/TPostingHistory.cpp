// Each line is one compact JSON object:
//   {"run":ID,"time":"2026-12-08T11:39:32Z","kind":"post","server":S,"security":"tls",
//    "log_on":true,"user":U,"subject":T,"groups":[{"group":G,"outcome":"accepted",
//    "reply":R,"message_id":M,"supersedes":M2},...]}
// A cancel run has "kind":"cancel" and "target" (the run it withdrew). Text the user gave is
// kept by TJsonText. A line that lacks what a run needs, or names an outcome, kind or security
// this version does not know (one written by a later version), is skipped as a torn one is.

#include "posting/TPostingHistory.h"

#include "mime/EIpBaseException.h"
#include "posting/TFileBytes.h"
#include "posting/TJsonText.h"
#include "posting/TServerAddress.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {
const QString kRun = QStringLiteral("run");
const QString kTime = QStringLiteral("time");
const QString kKind = QStringLiteral("kind");
const QString kServer = QStringLiteral("server");
const QString kSecurity = QStringLiteral("security");
const QString kLogOn = QStringLiteral("log_on");
const QString kUser = QStringLiteral("user");
const QString kSubject = QStringLiteral("subject");
const QString kAddress = QStringLiteral("address");
const QString kTarget = QStringLiteral("target");
const QString kGroups = QStringLiteral("groups");
const QString kGroup = QStringLiteral("group");
const QString kOutcome = QStringLiteral("outcome");
const QString kReply = QStringLiteral("reply");
const QString kMessageId = QStringLiteral("message_id");
const QString kSupersedes = QStringLiteral("supersedes");

template <typename T> struct TName {
    T Value;
    const char* Name;
};
constexpr TName<THistoryOutcome> kOutcomes[] = {{THistoryOutcome::hoAccepted, "accepted"},
                                                {THistoryOutcome::hoRefused, "refused"},
                                                {THistoryOutcome::hoMissing, "missing"},
                                                {THistoryOutcome::hoCancelled, "cancelled"},
                                                {THistoryOutcome::hoKept, "kept"}};
constexpr TName<THistoryKind> kKinds[] = {{THistoryKind::hkPost, "post"},
                                          {THistoryKind::hkCancel, "cancel"}};
constexpr TName<TIpNntpSecurity> kSecurities[] = {{TIpNntpSecurity::nySecNone, "none"},
                                                  {TIpNntpSecurity::nySecTls, "tls"},
                                                  {TIpNntpSecurity::nySecStartTls, "starttls"}};

template <typename T, size_t N> QString NameOf(const TName<T> (&names)[N], T value) {
    for (const TName<T>& name : names)
        if (name.Value == value)
            return QString::fromLatin1(name.Name);
    return {};
}

template <typename T, size_t N>
std::optional<T> ValueOf(const TName<T> (&names)[N], const QJsonValue& value) {
    for (const TName<T>& name : names)
        if (value.toString() == QLatin1String(name.Name))
            return name.Value;
    return std::nullopt;
}

[[noreturn]] void Fail() {
    throw EIpBaseException(std::strerror(errno));
}

// The file opened for appending and locked; the lock counts only while the path still names the
// file locked (a rewrite by another process may have replaced it meanwhile).
class TLockedFile {
public:
    explicit TLockedFile(const std::string& path) {
        for (int attempt = 0; attempt < 3 && FFile < 0; ++attempt) {
            const int fd =
                ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
            if (fd < 0)
                Fail();
            struct stat held {};
            struct stat named {};
            if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &held) != 0) {
                const int error = errno;
                ::close(fd);
                errno = error;
                Fail();
            }
            if (::stat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
                named.st_dev == held.st_dev)
                FFile = fd;
            else
                ::close(fd);
        }
        if (FFile < 0) {
            errno = ESTALE;
            Fail();
        }
    }
    ~TLockedFile() { ::close(FFile); }
    TLockedFile(const TLockedFile&) = delete;
    TLockedFile& operator=(const TLockedFile&) = delete;

    int Handle() const { return FFile; }

private:
    int FFile = -1;
};

void WriteAll(int fd, std::string_view text) {
    if (!TFileBytes::WriteAll(fd, text))
        Fail();
}

std::string ReadAll(int fd) {
    std::string text;
    if (!TFileBytes::ReadAll(fd, text))
        Fail();
    return text;
}

std::vector<std::string_view> LinesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        if (end > 0)
            lines.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

// Replaces the file at path by the newest MaxRuns readable lines of text. Synced before the
// rename: a machine that goes down then must find the old history or the new, never an empty one.
void Rewrite(const std::string& path, std::string_view text) {
    std::vector<std::string_view> lines = LinesOf(text);
    std::erase_if(lines, [](std::string_view line) { return !TPostingHistory::RunOf(line); });
    const size_t drop =
        lines.size() > TPostingHistory::MaxRuns ? lines.size() - TPostingHistory::MaxRuns : 0;
    std::string kept;
    for (size_t i = drop; i < lines.size(); ++i)
        kept.append(lines[i]).push_back('\n');
    const std::string temporary = path + ".tmp";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        Fail();
    try {
        WriteAll(fd, kept);
        if (::fsync(fd) != 0)
            Fail();
    } catch (const EIpBaseException&) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        Fail();
    }
    // The new file is in place; a directory that cannot be synced leaves the old name or the
    // new, either of which reads.
    TFileBytes::SyncDirectoryOf(path);
}

bool SameServer(const THistoryRun& run, const std::string& server, TIpNntpSecurity security) {
    return TServerAddress::Of(run.Server, run.Security) == TServerAddress::Of(server, security);
}
} // namespace

THistoryGroup THistoryGroup::Of(const TGroupOutcome& outcome, std::string supersedes) {
    THistoryOutcome result = THistoryOutcome::hoRefused;
    if (outcome.Accepted)
        result = outcome.Verification == TGroupOutcome::TVerification::Missing
                     ? THistoryOutcome::hoMissing
                     : THistoryOutcome::hoAccepted;
    return {outcome.Group, result, outcome.Reply, outcome.MessageID, std::move(supersedes)};
}

namespace {
std::string Found(const std::map<std::string, std::string>& map, const std::string& key) {
    const auto found = map.find(key);
    return found == map.end() ? std::string() : found->second;
}

THistoryGroup CancelOf(const TGroupOutcome& outcome, std::string withdrawn) {
    THistoryOutcome result = THistoryOutcome::hoRefused;
    if (outcome.Accepted)
        switch (outcome.Verification) {
        case TGroupOutcome::TVerification::Missing:
            result = THistoryOutcome::hoCancelled;
            break;
        case TGroupOutcome::TVerification::Verified:
            result = THistoryOutcome::hoKept;
            break;
        case TGroupOutcome::TVerification::NotChecked:
            result = THistoryOutcome::hoAccepted;
            break;
        }
    return {outcome.Group, result, outcome.Reply, std::move(withdrawn), {}};
}
} // namespace

THistoryRun THistoryRun::Of(const TNewsRequest& request, const TRunSummary& summary,
                            int64_t time) {
    THistoryRun run;
    run.RunID = summary.RunId;
    run.Time = time;
    run.Kind = request.Cancels.empty() ? THistoryKind::hkPost : THistoryKind::hkCancel;
    run.Server = request.Host;
    run.Security = request.Security;
    run.LogOn = request.LogOn;
    run.UserID = request.UserID;
    run.Address = request.Article.Address;
    run.Subject = request.Article.Subject;
    run.Target = request.CancelsRun;
    run.Groups.reserve(summary.Outcomes.size());
    for (const TGroupOutcome& outcome : summary.Outcomes)
        run.Groups.push_back(run.Kind == THistoryKind::hkCancel
                                 ? CancelOf(outcome, Found(request.Cancels, outcome.Group))
                                 : THistoryGroup::Of(outcome, Found(request.Replaces, outcome.Group)));
    return run;
}

size_t THistoryRun::Refused() const {
    return static_cast<size_t>(std::count_if(Groups.begin(), Groups.end(), [](const THistoryGroup& group) {
        return group.Outcome == THistoryOutcome::hoRefused;
    }));
}

std::string OutcomeName(THistoryOutcome outcome) {
    return NameOf(kOutcomes, outcome).toStdString();
}

std::string KindName(THistoryKind kind) {
    return NameOf(kKinds, kind).toStdString();
}

TPostingHistory::TPostingHistory(std::string path) : FPath(std::move(path)) {}

std::string TPostingHistory::LineOf(const THistoryRun& run) {
    QJsonArray groups;
    for (const THistoryGroup& group : run.Groups) {
        QJsonObject object{{kGroup, TJsonText::Value(group.Group)},
                           {kOutcome, NameOf(kOutcomes, group.Outcome)},
                           {kReply, TJsonText::Value(group.Reply)},
                           {kMessageId, TJsonText::Value(group.MessageID)}};
        if (!group.Supersedes.empty())
            object.insert(kSupersedes, TJsonText::Value(group.Supersedes));
        groups.append(object);
    }
    QJsonObject object{
        {kRun, QString::fromStdString(run.RunID)},
        {kTime, QDateTime::fromSecsSinceEpoch(run.Time, Qt::UTC).toString(Qt::ISODate)},
        {kKind, NameOf(kKinds, run.Kind)},
        {kServer, TJsonText::Value(run.Server)},
        {kSecurity, NameOf(kSecurities, run.Security)},
        {kLogOn, run.LogOn},
        {kUser, TJsonText::Value(run.UserID)},
        {kAddress, TJsonText::Value(run.Address)},
        {kSubject, TJsonText::Value(run.Subject)},
        {kGroups, groups}};
    if (!run.Target.empty())
        object.insert(kTarget, QString::fromStdString(run.Target));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<THistoryRun> TPostingHistory::RunOf(std::string_view line) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())));
    const QJsonObject object = document.object();
    THistoryRun run;
    run.RunID = object.value(kRun).toString().toStdString();
    const QDateTime time = QDateTime::fromString(object.value(kTime).toString(), Qt::ISODate);
    const std::optional<THistoryKind> kind = ValueOf(kKinds, object.value(kKind));
    const std::optional<TIpNntpSecurity> security = ValueOf(kSecurities, object.value(kSecurity));
    run.Server = TJsonText::Of(object.value(kServer));
    if (run.RunID.empty() || !time.isValid() || !kind || !security || run.Server.empty() ||
        !object.value(kGroups).isArray())
        return std::nullopt;
    run.Time = time.toSecsSinceEpoch();
    run.Kind = *kind;
    run.Security = *security;
    run.LogOn = object.value(kLogOn).toBool();
    run.UserID = TJsonText::Of(object.value(kUser));
    run.Address = TJsonText::Of(object.value(kAddress));
    run.Subject = TJsonText::Of(object.value(kSubject));
    run.Target = object.value(kTarget).toString().toStdString();
    for (const QJsonValue& value : object.value(kGroups).toArray()) {
        const QJsonObject group = value.toObject();
        const std::optional<THistoryOutcome> outcome = ValueOf(kOutcomes, group.value(kOutcome));
        if (!outcome)
            return std::nullopt;
        run.Groups.push_back(
            {TJsonText::Of(group.value(kGroup)), *outcome, TJsonText::Of(group.value(kReply)),
             TJsonText::Of(group.value(kMessageId)), TJsonText::Of(group.value(kSupersedes))});
    }
    return run;
}

void TPostingHistory::Append(const THistoryRun& run) const {
    const TLockedFile file(FPath);
    const int fd = file.Handle();
    // Created so; this only takes back access that someone else gave the file.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0)
        Fail();
    const std::string text = ReadAll(fd);
    std::string line = LineOf(run);
    line.push_back('\n');
    // The torn line a killed append left stays a line of its own, which the reader skips.
    if (!text.empty() && text.back() != '\n')
        line.insert(line.begin(), '\n');
    WriteAll(fd, line);
    if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1 > MaxRuns)
        Rewrite(FPath, text + line);
}

std::vector<THistoryRun> TPostingHistory::Runs() const {
    QFile file(QString::fromStdString(FPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    std::vector<THistoryRun> runs;
    for (const std::string_view line :
         LinesOf(std::string_view(text.constData(), static_cast<size_t>(text.size()))))
        if (std::optional<THistoryRun> run = RunOf(line))
            runs.push_back(std::move(*run));
    std::reverse(runs.begin(), runs.end());
    return runs;
}

std::optional<THistoryRun> TPostingHistory::Find(std::string_view which) const {
    std::vector<THistoryRun> runs = Runs();
    if (which == "last") {
        const auto post = std::find_if(runs.begin(), runs.end(), [](const THistoryRun& run) {
            return run.Kind == THistoryKind::hkPost;
        });
        return post == runs.end() ? std::nullopt : std::optional(std::move(*post));
    }
    if (which.empty())
        return std::nullopt;
    const auto exact = std::find_if(runs.begin(), runs.end(),
                                    [which](const THistoryRun& run) { return run.RunID == which; });
    if (exact != runs.end())
        return std::move(*exact);
    std::optional<THistoryRun> found;
    for (THistoryRun& run : runs) {
        if (!run.RunID.starts_with(which))
            continue;
        if (found)
            return std::nullopt;
        found = std::move(run);
    }
    return found;
}

std::optional<THistoryRun> TPostingHistory::Previous(const std::string& server,
                                                     TIpNntpSecurity security,
                                                     const std::string& subject) const {
    for (THistoryRun& run : Runs())
        if (run.Kind == THistoryKind::hkPost && run.Subject == subject &&
            SameServer(run, server, security))
            return std::move(run);
    return std::nullopt;
}

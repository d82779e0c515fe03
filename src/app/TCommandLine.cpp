// Parsing: the subcommands' options, the settings file that fills in what they leave out, and
// the password. Running and printing live in TCommandLineRun.cpp.

#include "app/TCommandLine.h"

#include "app/TCancelSecretKeeper.h"
#include "app/TComponentState.h"
#include "app/TIniFileStore.h"
#include "app/TMainSettings.h"
#include "app/TProgramDir.h"
#include "app/TTrustedCertificates.h"
#include "app/TfrmMain.h"
#include "nntp/TIpGroupName.h"
#include "nntp/TIpVisibleText.h"
#include "posting/TKeychainStore.h"
#include "posting/TListedGroups.h"
#include "posting/TRunJournal.h"
#include "posting/TServerAddress.h"
#include "selection/TGroupList.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {
const QString kSection = QStringLiteral("TfrmMain");
const QString kBodySection = QStringLiteral("TfrmMain.dcMsgBody.Lines");
const char* const kPasswordVariable = "HERALDIX_PASSWORD";
const QString kConnectionsKey = QStringLiteral("seConnections.Value");
// Connections when the settings do not say: a settings file from before the choice posted over
// one, so an upgrade changes nothing; without any settings a run starts as a new window does.
const QString kConnectionsBefore = QStringLiteral("1");
const QString kConnectionsNew = QStringLiteral("2");
const QString kSendAsKey = QStringLiteral("cbSendAs.CurrentIndex");
const QString kGroupsPerArticleKey = QStringLiteral("seGroupsPerArticle.Value");

// The whole of a file, or of standard input for "-"; false when it cannot be read.
bool ReadWhole(const QString& path, std::string& text) {
    QFile file;
    const bool opened = path == QLatin1String("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened)
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    text = bytes.toStdString();
    return true;
}
} // namespace

bool TCommandLine::Wanted(int argc, char* argv[]) {
    if (argc < 2)
        return false;
    const QByteArray first(argv[1]);
    if (first == "--help" || first == "-h" || first == "--version" || first == "-v")
        return true;
    // Other options belong to Qt's window system; a word is a subcommand (or a wrong one).
    return !first.startsWith('-');
}

TCommandLine::TCommandLine(QStringList arguments) : FArguments(std::move(arguments)) {}

int TCommandLine::Run(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("heraldix"));
    QCoreApplication::setApplicationVersion(QStringLiteral(HERALDIX_VERSION));
    return TCommandLine(QCoreApplication::arguments()).Execute();
}

int TCommandLine::Execute() {
    const QString command = FArguments.value(1);
    try {
        if (command == QLatin1String("post"))
            return Post();
        if (command == QLatin1String("list"))
            return List();
        if (command == QLatin1String("history"))
            return History();
        if (command == QLatin1String("cancel"))
            return Cancel();
        if (command == QLatin1String("--version") || command == QLatin1String("-v")) {
            std::printf("heraldix %s\n", HERALDIX_VERSION);
            return exOk;
        }
        if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
            std::printf("Usage: heraldix [post|list|history|cancel] [options]\n\n"
                        "Without arguments the window opens.\n"
                        "  post     posts one article to its groups (heraldix post --help);\n"
                        "           post --dry-run prints the articles and sends nothing\n"
                        "  list     prints the server's group names (heraldix list --help)\n"
                        "  history  lists the finished runs; history RUN prints one run's\n"
                        "           groups (heraldix history --help)\n"
                        "  cancel   withdraws the articles of an earlier run from the server\n"
                        "           (heraldix cancel --help)\n");
            return exOk;
        }
        throw EUsage{QStringLiteral(
                         "Unknown command \"%1\"; the commands are post, list, history and cancel")
                         .arg(command)};
    } catch (const EUsage& usage) {
        Error(usage.Message);
        return exUsage;
    } catch (const ENoPassword& missing) {
        Error(missing.Message);
        return exConnection;
    }
}

void TCommandLine::AddConnectionOptions(QCommandLineParser& parser) const {
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("server"), QStringLiteral("The news server."),
         QStringLiteral("HOST[:PORT]")},
        {QStringLiteral("security"), QStringLiteral("Connection security."),
         QStringLiteral("none|tls|starttls")},
        {QStringLiteral("user"), QStringLiteral("Log on with this user name."),
         QStringLiteral("NAME")},
        {QStringLiteral("password-file"),
         QStringLiteral("Read the password from FILE (or set HERALDIX_PASSWORD)."),
         QStringLiteral("FILE")},
        {QStringLiteral("settings"),
         QStringLiteral("Settings file for what the options leave out (default: the window's "
                        "frmsv.INI)."),
         QStringLiteral("FILE")},
    });
}

void TCommandLine::Parse(QCommandLineParser& parser, qsizetype positional) {
    // Parsed from the subcommand on.
    QStringList arguments = FArguments;
    arguments.removeAt(1);
    if (!parser.parse(arguments))
        throw EUsage{parser.errorText()};
    if (parser.isSet(QStringLiteral("help"))) {
        QString help = parser.helpText();
        help.replace(QCoreApplication::applicationFilePath(),
                     QStringLiteral("heraldix ") + FArguments.value(1));
        std::fputs(qPrintable(help), stdout);
        std::exit(exOk);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("heraldix %s\n", HERALDIX_VERSION);
        std::exit(exOk);
    }
    if (parser.positionalArguments().size() > positional)
        throw EUsage{QStringLiteral("Unexpected argument \"%1\"")
                         .arg(parser.positionalArguments().value(positional))};
    OpenSettings(parser);
}

// The settings the window saved: its own section and the certificates the user trusts.
void TCommandLine::OpenSettings(const QCommandLineParser& parser) {
    TIniFileStore store;
    if (parser.isSet(QStringLiteral("settings"))) {
        FSettingsPath = parser.value(QStringLiteral("settings"));
        if (!QFileInfo(FSettingsPath).isReadable())
            throw EUsage{QStringLiteral("Cannot read the settings file %1").arg(FSettingsPath)};
        store.UseExeDir = false;
        store.IniFileName = FSettingsPath;
    } else {
        store.ExeDir = TProgramDir::Get();
    }
    FSettingsPath = store.FileName();
    store.Open();
    // A file without the choice of security is older than the choice and connected in clear; a
    // new one starts with TLS, as the window does.
    const bool withoutSecurity =
        store.SectionExists(kSection) &&
        !store.ValueExists(kSection, QStringLiteral("cbSecurity.CurrentIndex"));
    for (const QString& key : store.ReadSection(kSection))
        FSettings[key] = store.ReadString(kSection, key, {});
    for (const QString& key : store.ReadSection(TTrustedCertificates::Section))
        FTrusted[key] = store.ReadString(TTrustedCertificates::Section, key, {});
    for (const QString& line : TComponentState::ReadLines(store, kBodySection))
        FBodyLines.push_back(line.toStdString());
    if (withoutSecurity)
        FSettings[QStringLiteral("cbSecurity.CurrentIndex")] = QStringLiteral("0");
    if (store.SectionExists(kSection) && !store.ValueExists(kSection, kConnectionsKey))
        FSettings[kConnectionsKey] = kConnectionsBefore;
}

QString TCommandLine::Setting(const QString& key, const QString& def) const {
    const auto found = FSettings.find(key);
    return found == FSettings.end() ? def : found->second;
}

QString TCommandLine::ListDir() const {
    return QFileInfo(FSettingsPath).absolutePath() + u'/';
}

TNewsRequest TCommandLine::ConnectionRequest(const QCommandLineParser& parser) {
    TNewsRequest request;
    const QString host = parser.isSet(QStringLiteral("server"))
                             ? parser.value(QStringLiteral("server"))
                             : TComponentState::TrimText(Setting(QStringLiteral("eHost.Text")));
    if (host.isEmpty())
        throw EUsage{QStringLiteral("No news server: give --server HOST[:PORT]")};
    request.Host = host.toStdString();

    QString security = parser.value(QStringLiteral("security"));
    if (security.isEmpty()) {
        static const QStringList byIndex = {QStringLiteral("none"), QStringLiteral("tls"),
                                            QStringLiteral("starttls")};
        security = byIndex.value(Setting(QStringLiteral("cbSecurity.CurrentIndex"), "1").toInt(),
                                 QStringLiteral("tls"));
    }
    if (security == QLatin1String("none"))
        request.Security = TIpNntpSecurity::nySecNone;
    else if (security == QLatin1String("tls"))
        request.Security = TIpNntpSecurity::nySecTls;
    else if (security == QLatin1String("starttls"))
        request.Security = TIpNntpSecurity::nySecStartTls;
    else
        throw EUsage{
            QStringLiteral("--security takes none, tls or starttls, not \"%1\"").arg(security)};
    request.Tls.IsTrusted = TrustCheck();

    const QString user = parser.isSet(QStringLiteral("user"))
                             ? parser.value(QStringLiteral("user"))
                             : TComponentState::TrimText(Setting(QStringLiteral("eUserName.Text")));
    request.LogOn =
        parser.isSet(QStringLiteral("user")) ||
        (Setting(QStringLiteral("cbLogon.Checked")) == QLatin1String("True") && !user.isEmpty());
    if (request.LogOn) {
        request.UserID = user.toStdString();
        request.Password = Password(parser, user, host, request.Security);
    }
    request.EndOnRefusedLogOn = true;
    request.TimeoutSeconds =
        Setting(QStringLiteral("seTimeout.Value"), QStringLiteral("60")).toInt();
    return request;
}

std::function<bool(const TIpTlsPeer& peer)> TCommandLine::TrustCheck() const {
    return [trusted = FTrusted](const TIpTlsPeer& peer) {
        const auto found = trusted.find(TTrustedCertificates::Key(peer));
        return !peer.Fingerprint.empty() && found != trusted.end() &&
               found->second == QString::fromStdString(peer.Fingerprint);
    };
}

int TCommandLine::Connections(const QCommandLineParser& parser) const {
    const QString option = QStringLiteral("connections");
    if (!parser.isSet(option)) {
        // A value out of range in the file is taken as the window's spin box takes it.
        const int fromSettings = Setting(kConnectionsKey, kConnectionsNew).toInt();
        return std::clamp(fromSettings, 1, TNewsOperation::MaxConnections);
    }
    bool number = false;
    const int connections = parser.value(option).toInt(&number);
    if (!number || connections < 1 || connections > TNewsOperation::MaxConnections)
        throw EUsage{QStringLiteral("--connections takes a number from 1 to %1, not \"%2\"")
                         .arg(TNewsOperation::MaxConnections)
                         .arg(parser.value(option))};
    return connections;
}

// As the Options page posts: separate articles unless cross-posting is chosen, by --send-as or
// by the settings. Asking for a number of groups per article is asking for cross-posts, unless
// --send-as says otherwise.
int TCommandLine::GroupsPerArticle(const QCommandLineParser& parser) const {
    const QString sendAsOption = QStringLiteral("send-as");
    const QString maxOption = QStringLiteral("crosspost-max");
    bool crossPost = Setting(kSendAsKey) == QLatin1String("1");
    if (parser.isSet(sendAsOption)) {
        const QString sendAs = parser.value(sendAsOption);
        if (sendAs != QLatin1String("separate") && sendAs != QLatin1String("crosspost"))
            throw EUsage{
                QStringLiteral("--send-as takes separate or crosspost, not \"%1\"").arg(sendAs)};
        crossPost = sendAs == QLatin1String("crosspost");
    } else if (parser.isSet(maxOption)) {
        crossPost = true;
    }
    int perArticle = std::clamp(
        Setting(kGroupsPerArticleKey, QString::number(TfrmMain::DefaultGroupsPerArticle)).toInt(),
        1, TfrmMain::MaxGroupsPerArticle);
    if (parser.isSet(maxOption)) {
        bool number = false;
        perArticle = parser.value(maxOption).toInt(&number);
        if (!number || perArticle < 1 || perArticle > TfrmMain::MaxGroupsPerArticle)
            throw EUsage{QStringLiteral("--crosspost-max takes a number from 1 to %1, not \"%2\"")
                             .arg(TfrmMain::MaxGroupsPerArticle)
                             .arg(parser.value(maxOption))};
    }
    return crossPost ? perArticle : 1;
}

// Beside the window's settings file its journal; beside another settings file (a second set-up
// run from cron) one of that file's name, so that the two keep their runs apart.
std::string TCommandLine::JournalPath() const {
    const QFileInfo settings(FSettingsPath);
    const QString name = settings.fileName() == QLatin1String("frmsv.INI")
                             ? QString::fromLatin1(TRunJournal::FileName)
                             : settings.completeBaseName() + QStringLiteral(".journal");
    return QFile::encodeName(ListDir() + name).toStdString();
}

TNewsRequest TCommandLine::ResumeRequest(const QCommandLineParser& parser,
                                         const std::string& journal, bool cancel) {
    // The journal holds the whole request; an option would change a run half posted.
    static const QStringList allowed = {QStringLiteral("resume"), QStringLiteral("settings"),
                                        QStringLiteral("password-file"), QStringLiteral("json"),
                                        QStringLiteral("quiet")};
    for (const QString& name : parser.optionNames())
        if (!allowed.contains(name))
            throw EUsage{QStringLiteral("--resume takes no --%1: the interrupted run's own "
                                        "request is posted (only --settings, --password-file, "
                                        "--json and --quiet go with it)")
                             .arg(name)};
    std::optional<TRunJournal::TInterrupted> interrupted =
        TRunJournal::FindInterrupted(journal, true);
    if (!interrupted)
        throw EUsage{QStringLiteral("No interrupted run to resume")};
    if (interrupted->Request.Cancels.empty() == cancel)
        throw EUsage{cancel ? QStringLiteral("The interrupted run is a posting run: heraldix post "
                                             "--resume finishes it")
                            : QStringLiteral("The interrupted run is a cancel run: heraldix "
                                             "cancel --resume finishes it")};
    TNewsRequest request = std::move(interrupted->Request);
    FEarlier = std::move(interrupted->Answered);
    request.Tls.IsTrusted = TrustCheck();
    request.EndOnRefusedLogOn = true;
    if (request.LogOn && !request.Groups.empty())
        request.Password = Password(parser, QString::fromStdString(request.UserID),
                                    QString::fromStdString(request.Host), request.Security);
    if (!FQuiet)
        std::fprintf(stderr, "Resuming the interrupted run to %zu of %zu groups\n",
                     request.Groups.size(), interrupted->Total);
    return request;
}

// The password never comes as an argument (others can read a process's arguments). The
// environment and a password file are the user's choice for this run, whatever its server; a
// saved password (the desktop's secret store, then the settings file) goes only to the user and
// server it was saved for, so that a run to another server never hands it over.
std::string TCommandLine::Password(const QCommandLineParser& parser, const QString& user,
                                   const QString& host, TIpNntpSecurity security) const {
    if (const char* const fromEnvironment = std::getenv(kPasswordVariable))
        return fromEnvironment;
    if (parser.isSet(QStringLiteral("password-file"))) {
        std::string text;
        if (!ReadWhole(parser.value(QStringLiteral("password-file")), text))
            throw EUsage{QStringLiteral("Cannot read the password file %1")
                             .arg(parser.value(QStringLiteral("password-file")))};
        const std::vector<std::string> lines = TextLines(text);
        return lines.empty() ? std::string() : lines.front();
    }
    TKeychainStore store;
    TSecretAnswer answer;
    QEventLoop loop;
    // The store answers exactly once, within its own time limit.
    store.Read(NewsPasswordKey(user, host), &loop, [&](const TSecretAnswer& reply) {
        answer = reply;
        loop.quit();
    });
    loop.exec();
    if (answer.Status == TSecretStatus::ssDone)
        return answer.Secret.toStdString();
    const TServerAddress server = TServerAddress::Of(host.toStdString(), security);
    const TServerAddress saved = TServerAddress::Of(
        TComponentState::TrimText(Setting(QStringLiteral("eHost.Text"))).toStdString(),
        SettingsSecurity());
    const QString password = TComponentState::TrimText(Setting(QStringLiteral("ePassword.Text")));
    if (saved == server &&
        TComponentState::TrimText(Setting(QStringLiteral("eUserName.Text"))) == user &&
        !password.isEmpty())
        return password.toStdString();
    throw ENoPassword{
        QStringLiteral("No password for %1 on %2: set HERALDIX_PASSWORD or --password-file")
            .arg(user, QString::fromStdString(server.Text()))};
}

void TCommandLine::AddCancelSecret(TArticleRequest& article) const {
    TIniFileStore settings;
    settings.UseExeDir = false;
    settings.IniFileName = FSettingsPath;
    TCancelSecretKeeper keeper(settings, std::make_unique<TKeychainStore>());
    std::optional<TCancelSecretKeeper::TAnswer> answer;
    QEventLoop loop;
    keeper.Load([&](const TCancelSecretKeeper::TAnswer& given) {
        answer = given;
        loop.quit();
    });
    if (!answer)
        loop.exec();
    article.CancelSecret = answer->Secret;
    if (article.CancelSecret.empty() && !FQuiet)
        Error(TCancelSecretKeeper::NoLockText(answer->Reason));
}

// The security the window's settings chose, as ConnectionRequest reads it.
TIpNntpSecurity TCommandLine::SettingsSecurity() const {
    return TfrmMain::SecurityOfChoice(
        Setting(QStringLiteral("cbSecurity.CurrentIndex"), QStringLiteral("1")).toInt());
}

std::vector<std::string> TCommandLine::TextLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > start && text[end - 1] == '\r')
            --end;
        lines.emplace_back(text, start, end - start);
        start = next;
    }
    return lines;
}

TArticleRequest TCommandLine::ArticleRequest(const QCommandLineParser& parser,
                                             const QString& host) const {
    const auto value = [&](const char* option, const char* key) {
        const QString name = QString::fromLatin1(option);
        return (parser.isSet(name) ? parser.value(name) : Setting(QString::fromLatin1(key)))
            .toStdString();
    };
    TArticleRequest request;
    request.Name = value("name", "eName.Text");
    request.Address = value("from", "eAddress.Text");
    request.Organization = value("organization", "eOrganization.Text");
    request.Subject = value("subject", "eSubject.Text");
    request.FollowupTo = value("followup-to", "eFollowupTo.Text");
    request.ReplyTo = value("reply-to", "eReplyTo.Text");
    // As the window restores it: its default when the file has none.
    const QString newsreader =
        Setting(QStringLiteral("eNewsreader.Text"), TfrmMain::DefaultNewsreader());
    request.Newsreader = TMainSettings::NamesThisProgram(newsreader)
                             ? TfrmMain::DefaultNewsreader().toStdString()
                             : newsreader.toStdString();
    request.PostingHost = host.toStdString();
    if (parser.isSet(QStringLiteral("body"))) {
        const QString path = parser.value(QStringLiteral("body"));
        std::string text;
        if (!ReadWhole(path, text))
            throw EUsage{QStringLiteral("Cannot read the body file %1").arg(path)};
        request.BodyLines = TextLines(text);
    } else {
        request.BodyLines = FBodyLines;
    }
    if (parser.isSet(QStringLiteral("attach")))
        request.AttachmentPath =
            QFile::encodeName(parser.value(QStringLiteral("attach"))).toStdString();
    return request;
}

// The groups named, else those of a groups file, else the window's list of groups to post to.
std::vector<std::string> TCommandLine::Groups(const QCommandLineParser& parser) const {
    std::vector<std::string> groups;
    for (const QString& group : parser.values(QStringLiteral("group")))
        groups.push_back(group.toStdString());
    const bool fromFile = parser.isSet(QStringLiteral("groups-file"));
    if (fromFile || groups.empty()) {
        const QString path = fromFile ? parser.value(QStringLiteral("groups-file"))
                                      : ListDir() + QStringLiteral("selgrps.txt");
        std::string text;
        if (!ReadWhole(path, text) && fromFile)
            throw EUsage{QStringLiteral("Cannot read the groups file %1").arg(path)};
        for (const std::string& line : TextLines(std::string(WithoutByteOrderMark(text))))
            if (const std::string_view name = ListFileName(line); IsGroupName(name))
                groups.emplace_back(name);
    }
    return groups;
}

int TCommandLine::Post() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Posts one article to each of its groups, or cross-posts it to several "
                       "groups at a time."));
    AddConnectionOptions(parser);
    parser.addOptions({
        {QStringLiteral("from"), QStringLiteral("The sender's address."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("name"), QStringLiteral("The sender's name."), QStringLiteral("NAME")},
        {QStringLiteral("organization"), QStringLiteral("The Organization header."),
         QStringLiteral("TEXT")},
        {QStringLiteral("subject"), QStringLiteral("The subject."), QStringLiteral("TEXT")},
        {QStringLiteral("followup-to"),
         QStringLiteral("Where follow-ups go: groups divided by commas, or poster."),
         QStringLiteral("GROUPS")},
        {QStringLiteral("reply-to"), QStringLiteral("The address replies by mail go to."),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("body"), QStringLiteral("The body's text file (- for standard input)."),
         QStringLiteral("FILE")},
        {QStringLiteral("attach"), QStringLiteral("A file to attach."), QStringLiteral("FILE")},
        {QStringLiteral("group"), QStringLiteral("A group to post to (repeatable)."),
         QStringLiteral("NAME")},
        {QStringLiteral("groups-file"), QStringLiteral("The groups to post to, one a line."),
         QStringLiteral("FILE")},
        {QStringLiteral("connections"),
         QStringLiteral("Post over N connections at once, 1 to 8 (default: the window's "
                        "choice)."),
         QStringLiteral("N")},
        {QStringLiteral("send-as"),
         QStringLiteral("A separate article to each group, or one cross-posted article to "
                        "several groups (default: the window's choice)."),
         QStringLiteral("separate|crosspost")},
        {QStringLiteral("crosspost-max"),
         QStringLiteral("Groups per cross-posted article, 1 to 20 (default: the window's "
                        "choice, else 5); implies --send-as crosspost."),
         QStringLiteral("N")},
        {QStringLiteral("verify"),
         QStringLiteral("After the last group, ask the server for every accepted article.")},
        {QStringLiteral("supersede"),
         QStringLiteral("Replace the articles of an earlier run (last: the newest; RUN: its id "
                        "in heraldix history, or a unique prefix): each group's article "
                        "supersedes that run's article there. Posts over that run's server and "
                        "log-on."),
         QStringLiteral("last|RUN")},
        {QStringLiteral("resume"),
         QStringLiteral("Finish the run that was cut short, without posting a group twice.")},
        {QStringLiteral("dry-run"),
         QStringLiteral("Print every article the run would send, as it would go to the server "
                        "(with --json: newsgroups, size and headers), and send nothing.")},
        {QStringLiteral("json"), QStringLiteral("One JSON object per line.")},
        {QStringLiteral("quiet"), QStringLiteral("Print nothing but errors.")},
        {QStringLiteral("strict"),
         QStringLiteral("Treat the warnings of the checks before posting as errors.")},
    });
    Parse(parser);
    FJson = parser.isSet(QStringLiteral("json"));
    FQuiet = parser.isSet(QStringLiteral("quiet"));
    if (parser.isSet(QStringLiteral("dry-run")))
        return DryRun(parser);
    const std::string journalPath = JournalPath();
    // Held from before the journal is read until the program ends: nothing another run does
    // to it comes in between.
    TRunJournal journal(journalPath);
    if (!LockJournal(journal))
        return exConnection;
    TNewsRequest request;
    if (parser.isSet(QStringLiteral("resume"))) {
        request = ResumeRequest(parser, journalPath, false);
    } else {
        const int connections = Connections(parser);
        const int groupsPerArticle = GroupsPerArticle(parser);
        request = parser.isSet(QStringLiteral("supersede")) ? ReplacingRequest(parser)
                                                            : ConnectionRequest(parser);
        request.Groups = Groups(parser);
        request.Article = ArticleRequest(parser, QString::fromStdString(request.Host));
        request.Connections = connections;
        request.Verify = parser.isSet(QStringLiteral("verify")) ||
                         Setting(QStringLiteral("cbVerify.Checked")) == QLatin1String("True");
        request.GroupsPerArticle = groupsPerArticle;
        if (!ChecksPassed(parser, request))
            return exUsage;
        AddReplaces(request);
        const std::optional<TRunJournal::TInterrupted> interrupted =
            TRunJournal::FindInterrupted(journalPath);
        if (interrupted && !FQuiet)
            Error(QStringLiteral("Once it posts, this run replaces the interrupted run to %1 "
                                 "of %2 groups, which heraldix post --resume would finish")
                      .arg(interrupted->Request.Groups.size())
                      .arg(interrupted->Total));
    }
    // The journal never holds the secret: a resumed run takes it afresh, and its articles, under
    // the Message-IDs they first had, carry the same locks.
    if (!request.Groups.empty())
        AddCancelSecret(request.Article);

    const TNewsRequest recorded = request;
    TNewsOperation operation;
    operation.SetRecorder(&journal);
    TNewsOperationEvents& events = operation.Events();
    const size_t count = FEarlier.size() + request.Groups.size();
    const bool verify = request.Verify;
    events.GroupStarted = [this](size_t index, size_t total) {
        ShowProgress("Posting " + std::to_string(index + 1) + " of " + std::to_string(total));
    };
    events.ArticleProgress = [this, &operation](uint64_t sent, uint64_t total) {
        ShowProgress("Posting " + std::to_string(operation.GroupIndex() + 1) + ": " +
                     std::to_string(sent) + " of " + std::to_string(total) + " bytes");
    };
    events.GroupDone = [this](const TGroupOutcome& outcome) {
        ShowProgress({});
        if (!outcome.Accepted)
            FExit = exRefused;
        PrintLine(OutcomeLine(outcome, FJson));
    };
    events.GroupVerified = [this](const TGroupOutcome& outcome) {
        if (outcome.Verification == TGroupOutcome::TVerification::Missing)
            FExit = exRefused;
        PrintLine(VerificationLine(outcome, FJson));
    };
    events.Finished = [this, count, verify, &recorded](const TRunSummary& run) {
        const TRunSummary summary = TRunJournal::WithEarlier(FEarlier, run);
        RecordRun(recorded, summary);
        const auto number = [](auto value) { return std::to_string(value); };
        std::string line;
        if (FJson) {
            line = "{\"summary\":true,\"groups\":" + number(count) +
                   ",\"accepted\":" + number(summary.Accepted) +
                   ",\"refused\":" + number(summary.Refused);
            if (verify)
                line += ",\"verified\":" + number(summary.Verified) +
                        ",\"missing\":" + number(summary.Missing);
            line += '}';
        } else {
            line = "Finished Posting: " + number(summary.Accepted) + " accepted, " +
                   number(summary.Refused) + " refused";
            if (verify)
                line += "; " + number(summary.Verified) + " verified, " + number(summary.Missing) +
                        " missing";
        }
        PrintLine(line);
    };
    // What the interrupted run heard comes first, as its lines would have.
    const auto printEarlier = [&] {
        for (const TGroupOutcome& outcome : FEarlier) {
            if (!outcome.Accepted)
                FExit = exRefused;
            PrintLine(OutcomeLine(outcome, FJson));
        }
    };
    if (request.Groups.empty()) {
        // Cut short after its last answer and before its end: all that is left is to show what
        // it heard and to end it.
        printEarlier();
        events.Finished(TRunSummary{});
        try {
            journal.EndInterrupted();
        } catch (const std::exception& error) {
            Error(QString::fromUtf8(error.what()));
            return exConnection;
        }
        return FExit;
    }
    const int exit = RunOperation(operation, [&] {
        printEarlier();
        operation.StartPost(std::move(request));
    });
    // A run that ended early after articles went out stays in the journal.
    if (exit != exConnection)
        return exit;
    if (const auto left = TRunJournal::FindInterrupted(journalPath))
        Error(QStringLiteral("%1 of %2 groups are left: heraldix post --resume finishes the run")
                  .arg(left->Request.Groups.size())
                  .arg(left->Total));
    return exit;
}

bool TCommandLine::LockJournal(TRunJournal& journal) const {
    try {
        journal.Lock();
    } catch (const ERunRefused& refused) {
        Error(QString::fromStdString(refused.what()));
        return false;
    } catch (const std::exception&) {
        // A journal that cannot be opened fails the run as it starts, before anything is sent.
    }
    return true;
}

int TCommandLine::List() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints the news server's group names, one a line."));
    AddConnectionOptions(parser);
    parser.addOption({QStringLiteral("save"),
                      QStringLiteral("Also replace the window's list of groups (newsgrps.txt).")});
    Parse(parser);
    const bool save = parser.isSet(QStringLiteral("save"));
    TNewsRequest request = ConnectionRequest(parser);

    TNewsOperation operation;
    TListedGroups listed;
    operation.Events().ListLine = [&listed](std::string_view line) { listed.AddLine(line); };
    operation.Events().MultiLine = [this, save, &listed](std::vector<std::string>& lines,
                                                         bool groupList) {
        if (!groupList) {
            Error(QStringLiteral("The news server refused the list: %1")
                      .arg(QString::fromStdString(lines.empty() ? std::string() : lines.front())));
            FExit = exConnection;
            return;
        }
        std::string out;
        for (const std::string_view name : listed.Names()) {
            AppendVisibleText(out, name);
            out += '\n';
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (save) {
            TGroupList list;
            list.Assign(listed.Take());
            try {
                list.SaveToFile(ListDir() + QStringLiteral("newsgrps.txt"));
            } catch (const std::exception& error) {
                Error(QString::fromUtf8(error.what()));
                FExit = exConnection;
            }
        }
    };
    return RunOperation(operation, [&] { operation.StartList(std::move(request)); });
}

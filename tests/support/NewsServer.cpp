#include "NewsServer.h"

#include "ScriptedPeer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

NewsServer::NewsServer() : FDir(QDir::tempPath() + "/heraldix-news-XXXXXX") {
    // The server runs as user news, which must reach the directory.
    QFile::setPermissions(FDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    FPort = ScriptedPeer::UnusedPort();
    FTlsPort = ScriptedPeer::UnusedPort();
}

NewsServer::~NewsServer() {
    Run({"stop"});
}

bool NewsServer::Start(const QStringList& options) {
    QStringList arguments{"start", "--port", QString::number(FPort)};
    // The TLS port is ours too, so that servers of other test programs do not meet on it.
    if (options.filter(QStringLiteral("--tls")).size() > 0)
        arguments << "--tls-port" << QString::number(FTlsPort);
    return Run(arguments + options);
}

QString NewsServer::TlsHost() const {
    return QStringLiteral("127.0.0.1:%1").arg(FTlsPort);
}

QString NewsServer::CertificatePath(const QString& kind) {
    if (!Run(kind.isEmpty() ? QStringList{"cert"} : QStringList{"cert", kind}))
        return {};
    return QString::fromUtf8(FOutput).trimmed();
}

bool NewsServer::Stop() {
    return Run({"stop"});
}

QString NewsServer::Host() const {
    return QStringLiteral("127.0.0.1:%1").arg(FPort);
}

QJsonArray NewsServer::Articles(const QString& group) {
    if (!Run({"articles", group, "--json"}))
        return {};
    return QJsonDocument::fromJson(FOutput).array();
}

QJsonArray NewsServer::ArticlesWithSubject(const QString& group, const QString& subject) {
    QJsonArray found;
    for (const QJsonValue& article : Articles(group))
        if (article.toObject().value("headers").toObject().value("Subject").toString() == subject)
            found.append(article);
    return found;
}

// As the news server tool runs its commands as news: with only this server's configuration in
// the environment.
bool NewsServer::CancelArticle(const QString& messageId) {
    static const QString NewsBin = QStringLiteral("/usr/lib/news/bin");
    const QString dir = FDir.path();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("setpriv"),
                  {"--reuid=news", "--regid=news", "--init-groups", "--", "env", "-i",
                   "PATH=" + NewsBin + ":/usr/sbin:/usr/bin:/sbin:/bin", "HOME=" + dir, "LANG=C",
                   "INNCONF=" + dir + "/etc/inn.conf", NewsBin + "/ctlinnd", "-s", "cancel",
                   messageId});
    if (!process.waitForFinished(60000))
        return false;
    FOutput = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool NewsServer::Run(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NEWS_SERVER_DIR", FDir.path());
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("HERALDIX_NEWS_SERVER", HERALDIX_NEWS_SERVER), arguments);
    if (!process.waitForFinished(300000))
        return false;
    FOutput = process.readAllStandardOutput();
    if (process.exitCode() != 0)
        FOutput += process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

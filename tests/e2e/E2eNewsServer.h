#pragma once

// The real news server for end-to-end tests and benchmarks: INN on loopback, in a private
// directory and on a port of its own, so that other test programs running their own servers at
// the same time are not disturbed. Stopped when the object goes.

#include "support/ScriptedPeer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <string>

class E2eNewsServer {
public:
    E2eNewsServer() : FDir(QDir::tempPath() + "/heraldix-e2e-XXXXXX") {
        // The server runs as user news, which must reach the directory.
        QFile::setPermissions(FDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther);
        FPort = ScriptedPeer::UnusedPort();
    }
    E2eNewsServer(const E2eNewsServer&) = delete;
    E2eNewsServer& operator=(const E2eNewsServer&) = delete;
    ~E2eNewsServer() { Run({"stop"}); }

    // Starts (or restarts with other options) the server; false with the tool's output in
    // Output() when it did not come up.
    bool Start(const QStringList& options) {
        return Run(QStringList{"start", "--port", QString::number(FPort)} + options);
    }
    bool Stop() { return Run({"stop"}); }
    uint16_t Port() const { return FPort; }
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(FPort); }
    // The articles of a group as the server hands them out: a list of objects with number,
    // message_id, headers (an object), body and raw.
    QJsonArray Articles(const QString& group) {
        if (!Run({"articles", group, "--json"}))
            return {};
        return QJsonDocument::fromJson(FOutput).array();
    }
    // The articles of `group` whose Subject is `subject`.
    QJsonArray ArticlesWithSubject(const QString& group, const QString& subject) {
        QJsonArray found;
        for (const QJsonValue& article : Articles(group))
            if (article.toObject().value("headers").toObject().value("Subject").toString() ==
                subject)
                found.append(article);
        return found;
    }
    const QByteArray& Output() const { return FOutput; }

private:
    bool Run(const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("NEWS_SERVER_DIR", FDir.path());
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("HERALDIX_NEWS_SERVER", HERALDIX_NEWS_SERVER),
                      arguments);
        if (!process.waitForFinished(300000))
            return false;
        FOutput = process.readAllStandardOutput();
        if (process.exitCode() != 0)
            FOutput += process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QTemporaryDir FDir;
    uint16_t FPort = 0;
    QByteArray FOutput;
};

#include "ArticleReader.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

namespace {
bool Run(QProcess& process, const QString& program, const QStringList& arguments,
         const QByteArray& input) {
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return false;
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
} // namespace

QJsonObject ReadArticle(const QByteArray& text) {
    QProcess python;
    const QString script = qEnvironmentVariable("HERALDIX_SOURCE_DIR", HERALDIX_SOURCE_DIR) +
                           QStringLiteral("/tests/support/read_article.py");
    if (!Run(python, QStringLiteral("python3"), {script}, text)) {
        qWarning("read_article.py: %s", python.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QMap<QString, QByteArray> UnpackArticle(const QByteArray& text) {
    QTemporaryDir dir;
    QProcess munpack;
    // munpack reads a message as a Unix mail file holds it: LF line ends, and without the line
    // "." that ends a composed article.
    QByteArray message = text;
    if (message.endsWith("\r\n.\r\n"))
        message.chop(3);
    message.replace("\r\n", "\n");
    if (!Run(munpack, QStringLiteral("munpack"), {"-q", "-t", "-C", dir.path()}, message)) {
        qWarning("munpack: %s", munpack.readAllStandardError().constData());
        return {};
    }
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(dir.path()).entryList(QDir::Files)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            files.insert(name, file.readAll());
    }
    return files;
}

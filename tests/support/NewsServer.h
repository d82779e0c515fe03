#pragma once

// The real news server for end-to-end tests and benchmarks: INN on loopback, in a private
// directory and on a port of its own, so that other test programs running their own servers at
// the same time are not disturbed. Stopped when the object goes.

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

class NewsServer {
public:
    NewsServer();
    NewsServer(const NewsServer&) = delete;
    NewsServer& operator=(const NewsServer&) = delete;
    ~NewsServer();

    // Starts (or restarts with other options) the server; false with the tool's output in
    // Output() when it did not come up.
    bool Start(const QStringList& options);
    bool Stop();
    uint16_t Port() const { return FPort; }
    // "127.0.0.1:<port>"
    QString Host() const;
    // "127.0.0.1:<port>" of implicit TLS (served when started with a --tls option).
    QString TlsHost() const;
    // The PEM file of the test authority (empty `kind`), or of the certificate of that kind.
    QString CertificatePath(const QString& kind = {});
    // The articles of a group as the server hands them out: a list of objects with number,
    // message_id, headers (an object), body and raw.
    QJsonArray Articles(const QString& group);
    // The articles of `group` whose Subject is `subject`.
    QJsonArray ArticlesWithSubject(const QString& group, const QString& subject);
    // Removes the article from the server (INN's "ctlinnd cancel", run as the news user with this
    // server's configuration); false with the output in Output() when it failed.
    bool CancelArticle(const QString& messageId);
    // What the tool printed on its last run (with its errors when it failed).
    const QByteArray& Output() const { return FOutput; }

private:
    bool Run(const QStringList& arguments);

    QTemporaryDir FDir;
    uint16_t FPort = 0;
    uint16_t FTlsPort = 0;
    QByteArray FOutput;
};

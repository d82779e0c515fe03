#include "support/SocksProxyServer.h"

#include "support/ScriptedPeer.h"

#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

SocksProxyServer::~SocksProxyServer() {
    Stop();
}

static QString FindServer(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin"});
    return path;
}

bool SocksProxyServer::StartDante(uint16_t blockedPort) {
    FPort = ScriptedPeer::UnusedPort();
    const QString config = FDir.filePath("danted.conf");
    QFile file(config);
    if (!FDir.isValid() || !file.open(QIODevice::WriteOnly)) {
        FError = "cannot write the danted configuration";
        return false;
    }
    file.write(QStringLiteral("logoutput: %1\n"
                              "internal: 127.0.0.1 port = %2\n"
                              "external: 127.0.0.1\n"
                              "clientmethod: none\n"
                              "socksmethod: none\n"
                              "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                              "socks block { from: 0.0.0.0/0 to: 127.0.0.1/32 port = %3 }\n"
                              "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 }\n")
                   .arg(FDir.filePath("danted.log"))
                   .arg(FPort)
                   .arg(blockedPort)
                   .toUtf8());
    file.close();
    return Launch("danted", {"-f", config, "-p", FDir.filePath("danted.pid"), "-N", "1"});
}

bool SocksProxyServer::StartMicrosocks(const std::string& user, const std::string& password) {
    FPort = ScriptedPeer::UnusedPort();
    return Launch("microsocks",
                  {"-i", "127.0.0.1", "-p", QString::number(FPort), "-u",
                   QString::fromStdString(user), "-P", QString::fromStdString(password)});
}

bool SocksProxyServer::Launch(const QString& program, const QStringList& arguments) {
    const QString path = FindServer(program);
    if (path.isEmpty()) {
        FError = program.toStdString() + " is not installed (scripts/bootstrap installs it)";
        return false;
    }
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->start(path, arguments);
    if (!FProcess->waitForStarted(5000) || !WaitListening(10000)) {
        FProcess->waitForReadyRead(100);
        FError = program.toStdString() + " did not start listening on port " +
                 std::to_string(FPort) + ": " + FProcess->readAll().toStdString();
        Stop();
        return false;
    }
    return true;
}

bool SocksProxyServer::WaitListening(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        if (FProcess->state() == QProcess::NotRunning)
            return false;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(FPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (up)
            return true;
        QThread::msleep(20);
    }
    return false;
}

void SocksProxyServer::Stop() {
    if (!FProcess)
        return;
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->terminate();
        if (!FProcess->waitForFinished(5000)) {
            FProcess->kill();
            FProcess->waitForFinished(5000);
        }
    }
    FProcess.reset();
}

// Running: the engine on a Qt Core event loop, its events printed. Results go to standard
// output, errors and progress to standard error (progress only while that is a terminal).

#include "app/TCommandLine.h"

#include "net/TIpHostPort.h"
#include "nntp/TIpVisibleText.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <unistd.h>

std::string TCommandLine::OutcomeLine(const TGroupOutcome& outcome, bool json) {
    if (json) {
        QJsonObject object{
            {QStringLiteral("group"), QString::fromStdString(outcome.Group)},
            {QStringLiteral("accepted"), outcome.Accepted},
            {QStringLiteral("code"), outcome.Code},
            {QStringLiteral("reply"), QString::fromStdString(outcome.Reply)},
            {QStringLiteral("message_id"), QString::fromStdString(outcome.MessageID)},
        };
        if (outcome.Earlier)
            object.insert(QStringLiteral("earlier"), true);
        return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    }
    const std::string earlier = outcome.Earlier ? "  (before the interruption)" : "";
    if (outcome.Accepted)
        return "accepted  " + VisibleText(outcome.Group) + "  " + VisibleText(outcome.MessageID) +
               earlier;
    return "refused  " + VisibleText(outcome.Group) + "  " + VisibleText(outcome.Reply) + earlier;
}

std::string TCommandLine::VerificationLine(const TGroupOutcome& outcome, bool json) {
    const bool found = outcome.Verification == TGroupOutcome::TVerification::Verified;
    if (json) {
        const QJsonObject object{
            {QStringLiteral("group"), QString::fromStdString(outcome.Group)},
            {QStringLiteral("verification"),
             found ? QStringLiteral("verified") : QStringLiteral("missing")},
            {QStringLiteral("message_id"), QString::fromStdString(outcome.MessageID)},
        };
        return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    }
    return (found ? "verified  " : "missing  ") + VisibleText(outcome.Group) + "  " +
           VisibleText(outcome.MessageID);
}

// Each line goes out as it is known, for a reader at the other end of a pipe too.
void TCommandLine::PrintLine(const std::string& line) const {
    if (FQuiet)
        return;
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
}

void TCommandLine::ShowProgress(const std::string& text) {
    if (!FProgress || (text.empty() && !FProgressShown))
        return;
    // Back to the line's start, the text, and the rest of the line cleared.
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    FProgressShown = !text.empty();
}

// An error may carry the server's words: written whole, past any NUL, with nothing in it a
// terminal would act on. Its own line breaks stay.
void TCommandLine::Error(const QString& text) const {
    if (FProgressShown)
        std::fputs("\r\x1b[K", stderr);
    const std::string line =
        "heraldix: " + VisibleText(text.toStdString(), TIpLineFeeds::Kept) + '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

int TCommandLine::RunOperation(TNewsOperation& operation, const std::function<void()>& start) {
    FProgress = !FQuiet && isatty(STDERR_FILENO) == 1;
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    QEventLoop loop;
    bool completed = false;
    TNewsOperationEvents& events = operation.Events();
    const auto finished = events.Finished;
    events.Finished = [&completed, finished](const TRunSummary& summary) {
        completed = true;
        if (finished)
            finished(summary);
    };
    const auto multiLine = events.MultiLine;
    events.MultiLine = [&completed, multiLine](std::vector<std::string>& lines, bool groupList) {
        completed = completed || groupList;
        if (multiLine)
            multiLine(lines, groupList);
    };
    events.Notice = [this](const std::string& text) { Error(QString::fromStdString(text)); };
    events.Failed = [this](const std::string& message) {
        ShowProgress({});
        Error(QString::fromStdString(message));
        FExit = exConnection;
    };
    events.CertificateRefused = [this](const TIpTlsPeer& peer, bool) {
        ShowProgress({});
        Error(QStringLiteral("The certificate of the news server %1 was not accepted: %2\n"
                             "SHA-256 fingerprint: %3\n"
                             "Trust it in the window first if you know it is the server's own.")
                  .arg(QString::fromStdString(TIpHostPort::Join(peer.Host, peer.Port)),
                       QString::fromStdString(peer.ProblemText),
                       QString::fromStdString(peer.Fingerprint)));
        FExit = exConnection;
    };
    // Once the operation has ended, the connection is closed with QUIT before the program ends.
    QTimer closing;
    closing.setInterval(5);
    QObject::connect(&closing, &QTimer::timeout, &loop, [&] {
        if (operation.State() != TNewsOperation::TState::Closing)
            loop.quit();
    });
    events.BusyChanged = [&](bool busy) {
        if (busy)
            return;
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                if (operation.State() == TNewsOperation::TState::Idle &&
                    operation.Client().Connected())
                    operation.Abort();
                closing.start();
            },
            Qt::QueuedConnection);
    };
    try {
        start();
    } catch (const std::exception& error) {
        Error(QString::fromUtf8(error.what()));
        return exConnection;
    }
    if (operation.Busy())
        loop.exec();
    ShowProgress({});
    std::fflush(stdout);
    // An operation that ended without its result (a server that allows no posting) failed.
    if (!completed && FExit == exOk)
        FExit = exConnection;
    return FExit;
}

#include "posting/TKeychainStore.h"

#include <qt6keychain/keychain.h>

#include <QObject>
#include <QTimer>

namespace {

const QString kService = QStringLiteral("Heraldix");

// One job and its timer: whichever ends first gives the answer, and the request then goes
// away. A child of the requester's context, so a context that goes first takes the request
// (and with it the connection to the job) along; the job itself deletes itself when it ends.
class TKeychainRequest : public QObject {
public:
    TKeychainRequest(QKeychain::Job* job, QObject* context, TSecretStore::TAnswerHandler handler)
        : QObject(context), FHandler(std::move(handler)) {
        connect(job, &QKeychain::Job::finished, this, &TKeychainRequest::JobFinished);
        FTimer.setSingleShot(true);
        connect(&FTimer, &QTimer::timeout, this, [this] {
            Answer({TSecretStatus::ssUnavailable, QString(),
                    QStringLiteral("no answer within %1 seconds")
                        .arg(TKeychainStore::TimeoutMs / 1000)});
        });
        FTimer.start(TKeychainStore::TimeoutMs);
        job->start();
    }

private:
    void JobFinished(QKeychain::Job* job) {
        TSecretAnswer answer;
        switch (job->error()) {
        case QKeychain::NoError:
            answer.Status = TSecretStatus::ssDone;
            if (const auto* read = qobject_cast<const QKeychain::ReadPasswordJob*>(job))
                answer.Secret = read->textData();
            break;
        case QKeychain::EntryNotFound:
            answer.Status = TSecretStatus::ssNotFound;
            break;
        case QKeychain::AccessDeniedByUser:
        case QKeychain::AccessDenied:
            answer.Status = TSecretStatus::ssLocked;
            break;
        case QKeychain::CouldNotDeleteEntry:
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
        case QKeychain::OtherError:
            answer.Status = TSecretStatus::ssUnavailable;
            break;
        }
        if (answer.Status != TSecretStatus::ssDone)
            answer.Reason = job->errorString().isEmpty()
                                ? QStringLiteral("error %1").arg(int(job->error()))
                                : job->errorString();
        Answer(answer);
    }

    void Answer(const TSecretAnswer& answer) {
        if (FAnswered)
            return;
        FAnswered = true;
        FTimer.stop();
        // The handler may start the next request or end the context; this object goes only
        // once control is back in the event loop.
        deleteLater();
        FHandler(answer);
    }

    TSecretStore::TAnswerHandler FHandler;
    QTimer FTimer;
    bool FAnswered = false;
};

void Start(QKeychain::Job* job, const QString& key, QObject* context,
           TSecretStore::TAnswerHandler handler) {
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(key);
    new TKeychainRequest(job, context, std::move(handler));
}

} // namespace

void TKeychainStore::Read(const QString& key, QObject* context, TAnswerHandler handler) {
    Start(new QKeychain::ReadPasswordJob(kService), key, context, std::move(handler));
}

void TKeychainStore::Write(const QString& key, const QString& secret, QObject* context,
                           TAnswerHandler handler) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setTextData(secret);
    Start(job, key, context, std::move(handler));
}

void TKeychainStore::Remove(const QString& key, QObject* context, TAnswerHandler handler) {
    Start(new QKeychain::DeletePasswordJob(kService), key, context, std::move(handler));
}

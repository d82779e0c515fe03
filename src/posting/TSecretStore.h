#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class QObject;

// What a secret store answered to one request.
enum class TSecretStatus : uint8_t {
    // A read found the entry (its text is in Secret); a write or a removal was confirmed.
    ssDone,
    // A read found no entry under the key. A locked store answers so too, so this never means
    // that the entry is known to be absent.
    ssNotFound,
    // No store, an error, or no answer in time; Reason says which.
    ssUnavailable,
    // The store is there but locked, or its user would not open it: it refused a write. It
    // keeps what it holds and may take the write once it is unlocked.
    ssLocked,
};

struct TSecretAnswer {
    TSecretStatus Status = TSecretStatus::ssUnavailable;
    QString Secret;
    QString Reason;
};

// The desktop's store of secrets: one text per key, under the program's name. The window and
// the command line reach it through this interface only, so that neither they nor their tests
// depend on how the store is reached.
//
// Every request is answered exactly once, through the event loop and never before the call has
// returned; nothing waits for the store. The answer goes to `handler` only while `context`
// exists (a request outlived by its context is forgotten); without a context it always goes.
class TSecretStore {
public:
    using TAnswerHandler = std::function<void(const TSecretAnswer&)>;

    virtual ~TSecretStore() = default;

    virtual void Read(const QString& key, QObject* context, TAnswerHandler handler) = 0;
    virtual void Write(const QString& key, const QString& secret, QObject* context,
                       TAnswerHandler handler) = 0;
    virtual void Remove(const QString& key, QObject* context, TAnswerHandler handler) = 0;
};

// The key under which a news server's log-on password is kept: "<user name>@<server>", so that
// each server (and each user name on it) keeps a password of its own.
inline QString NewsPasswordKey(const QString& userName, const QString& server) {
    return userName + u'@' + server;
}

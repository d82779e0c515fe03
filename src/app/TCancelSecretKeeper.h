#pragma once

#include "app/TIniFileStore.h"
#include "posting/TSecretStore.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

// The user's Cancel-Lock secret (TCancelLock::SecretSize random bytes), made once and kept like
// the log-on password: in the desktop's secret store, else in the settings file (readable by its
// owner only). Every article is locked with it, so it must stay the same for as long as the
// user may want to withdraw one: a secret once kept never moves and is never replaced, and an
// answer that does not show whether a secret exists makes none. When the store keeps the
// secret, the file records that it does (never the secret itself), so that a later run that
// cannot reach the store (a command line without a desktop session) makes no second secret.
//
// Load decides, in this order:
//   the file holds the secret                   -> it
//   the file says the store has one, and no store, or the store answers anything but the
//   secret                                      -> none this run (a locked store says "not found")
//   no store                                    -> a new one, kept in the file
//   store read: the secret                      -> it (the file records that the store has it)
//   store read: locked                          -> none this run
//   store read: not found                       -> a new one, written to the store:
//       confirmed -> it; locked -> none this run; otherwise -> kept in the file instead
//   store read: unavailable                     -> a new one, kept in the file
// A secret that cannot be kept is not used: articles locked with a secret that is then lost
// could never be withdrawn, which is no better than no lock and misleads the user.
class TCancelSecretKeeper : public QObject {
    Q_OBJECT
public:
    // The section of the settings file, and the key of the secret in the secret store.
    static const QString Section;
    static const QString StoreKey;

    struct TAnswer {
        // The secret's bytes; empty when there is none this run.
        std::string Secret;
        // Why there is none; never the secret.
        QString Reason;
    };
    using THandler = std::function<void(const TAnswer&)>;

    // iniStore names the settings file (not open); secrets may be null (no store).
    TCancelSecretKeeper(TIniFileStore iniStore, std::unique_ptr<TSecretStore> secrets);
    ~TCancelSecretKeeper() override;

    // Answers exactly once, through the event loop when the store is asked, else at once.
    void Load(THandler handler);

    // What a run without a secret tells the user, once, with the reason there is none.
    static QString NoLockText(const QString& reason);

private:
    // Makes a secret; false (and the handler answered) when the system has no random bytes.
    bool NewSecret(std::string& secret, const THandler& handler);
    void KeepInStore(const THandler& handler);
    // Keeps secret (a new one when empty) in the file.
    void KeepInFile(const THandler& handler, std::string secret = {});
    void MarkInStore();
    // The reason the file could not be written; empty when it was.
    QString WriteToFile(const QString& key, const QString& value);

    TIniFileStore FIniStore;
    std::unique_ptr<TSecretStore> FSecrets;
};

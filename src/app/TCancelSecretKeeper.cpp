#include "app/TCancelSecretKeeper.h"

#include "mime/EIpBaseException.h"
#include "posting/TCancelLock.h"

#include <QByteArray>

#include <utility>

const QString TCancelSecretKeeper::Section = QStringLiteral("CancelLock");
const QString TCancelSecretKeeper::StoreKey = QStringLiteral("Cancel-Lock secret");

namespace {
const QString kSecretEntry = QStringLiteral("Secret");
const QString kInStoreEntry = QStringLiteral("InSecretStore");
const QString kTrue = QStringLiteral("True");

// Base64 as the file and the store keep the secret; empty for text that holds no secret.
std::string SecretOf(const QString& text) {
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != static_cast<qsizetype>(TCancelLock::SecretSize))
        return {};
    return decoded.decoded.toStdString();
}

QString LockedText(const QString& reason) {
    return QStringLiteral("The secret store is locked: %1").arg(reason);
}

QString TextOf(const std::string& secret) {
    return QString::fromLatin1(
        QByteArray(secret.data(), static_cast<qsizetype>(secret.size())).toBase64());
}
} // namespace

TCancelSecretKeeper::TCancelSecretKeeper(TIniFileStore iniStore,
                                         std::unique_ptr<TSecretStore> secrets)
    : FIniStore(std::move(iniStore)), FSecrets(std::move(secrets)) {}

TCancelSecretKeeper::~TCancelSecretKeeper() = default;

void TCancelSecretKeeper::Load(THandler handler) {
    FIniStore.Open();
    const QString inFile = FIniStore.ReadString(Section, kSecretEntry, QString());
    const bool inStoreMarked = FIniStore.ReadString(Section, kInStoreEntry, QString()) == kTrue;
    FIniStore.Close();
    if (!inFile.isEmpty()) {
        const std::string secret = SecretOf(inFile);
        handler({secret, secret.empty() ? QStringLiteral("The Cancel-Lock secret in %1 is damaged")
                                              .arg(FIniStore.FileName())
                                        : QString()});
        return;
    }
    if (!FSecrets) {
        if (inStoreMarked)
            handler({{}, QStringLiteral("No secret store to give the Cancel-Lock secret")});
        else
            KeepInFile(handler);
        return;
    }
    FSecrets->Read(StoreKey, this, [this, handler, inStoreMarked](const TSecretAnswer& answer) {
        switch (answer.Status) {
        case TSecretStatus::ssDone: {
            const std::string secret = SecretOf(answer.Secret);
            if (secret.empty()) {
                handler({{}, QStringLiteral("The secret store's Cancel-Lock secret is damaged")});
                return;
            }
            if (!inStoreMarked)
                MarkInStore();
            handler({secret, {}});
            return;
        }
        case TSecretStatus::ssLocked:
            handler({{}, LockedText(answer.Reason)});
            return;
        case TSecretStatus::ssNotFound:
        case TSecretStatus::ssUnavailable:
            if (inStoreMarked)
                handler({{},
                         QStringLiteral("The secret store did not give the Cancel-Lock "
                                        "secret: %1")
                             .arg(answer.Reason)});
            else if (answer.Status == TSecretStatus::ssNotFound)
                KeepInStore(handler);
            else
                KeepInFile(handler);
            return;
        }
    });
}

QString TCancelSecretKeeper::NoLockText(const QString& reason) {
    return QStringLiteral("This run's articles carry no Cancel-Lock (%1): they cannot be "
                          "withdrawn later")
        .arg(reason);
}

bool TCancelSecretKeeper::NewSecret(std::string& secret, const THandler& handler) {
    try {
        secret = TCancelLock::NewSecret();
        return true;
    } catch (const EIpBaseException& error) {
        handler({{}, QString::fromStdString(error.what())});
        return false;
    }
}

void TCancelSecretKeeper::KeepInStore(const THandler& handler) {
    std::string secret;
    if (!NewSecret(secret, handler))
        return;
    FSecrets->Write(
        StoreKey, TextOf(secret), this, [this, handler, secret](const TSecretAnswer& answer) {
            switch (answer.Status) {
            case TSecretStatus::ssDone:
                MarkInStore();
                handler({secret, {}});
                return;
            case TSecretStatus::ssLocked:
                handler({{}, LockedText(answer.Reason)});
                return;
            case TSecretStatus::ssNotFound:
            case TSecretStatus::ssUnavailable:
                KeepInFile(handler, secret);
                return;
            }
        });
}

void TCancelSecretKeeper::KeepInFile(const THandler& handler, std::string secret) {
    if (secret.empty() && !NewSecret(secret, handler))
        return;
    const QString reason = WriteToFile(kSecretEntry, TextOf(secret));
    if (reason.isEmpty())
        handler({secret, {}});
    else
        handler({{}, reason});
}

// The store keeps the secret whether or not this is written; without it, a later run that cannot
// reach the store makes a secret of its own for the articles it posts.
void TCancelSecretKeeper::MarkInStore() {
    WriteToFile(kInStoreEntry, kTrue);
}

QString TCancelSecretKeeper::WriteToFile(const QString& key, const QString& value) {
    try {
        FIniStore.Open();
        FIniStore.WriteString(Section, key, value);
        FIniStore.Close();
        return {};
    } catch (const EIniFileStoreError& error) {
        return QString::fromStdString(error.what());
    }
}

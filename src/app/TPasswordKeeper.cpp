#include "app/TPasswordKeeper.h"

#include "app/TApplication.h"
#include "app/TComponentState.h"
#include "app/TIniFileStore.h"
#include "app/TfrmMain.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace {
const QString kPasswordEntry = QStringLiteral("ePassword.Text");
}

TPasswordKeeper::TPasswordKeeper(TfrmMain& form, TIniFileStore& iniStore, const QString& section,
                                 std::unique_ptr<TSecretStore> secrets)
    : FForm(form), FIniStore(iniStore), FSection(section), FSecrets(std::move(secrets)),
      FUsable(FSecrets != nullptr) {}

TPasswordKeeper::~TPasswordKeeper() = default;

QString TPasswordKeeper::CurrentKey() const {
    return NewsPasswordKey(TComponentState::TrimText(FForm.eUserName->text()),
                           TComponentState::TrimText(FForm.eHost->text()));
}

// As the settings file holds it.
QString TPasswordKeeper::CurrentPassword() const {
    return TComponentState::TrimText(FForm.ePassword->text());
}

void TPasswordKeeper::Restore() {
    if (!FUsable)
        return;
    const QString inFile =
        TComponentState::TrimText(FIniStore.ReadString(FSection, kPasswordEntry, QString()));
    if (inFile.isEmpty())
        Read(CurrentKey());
    else
        MoveToStore(CurrentKey(), inFile);
}

void TPasswordKeeper::Save() {
    if (!FUsable)
        return;
    const QString key = CurrentKey();
    const QString password = CurrentPassword();
    if (password.isEmpty()) {
        FIniStore.DeleteKey(FSection, kPasswordEntry);
        if (!FKnown.value(key).isEmpty())
            Remove(key);
    } else if (FKnown.contains(key) && FKnown.value(key) == password) {
        FIniStore.DeleteKey(FSection, kPasswordEntry);
    } else {
        MoveToStore(key, password);
    }
}

void TPasswordKeeper::Read(const QString& key) {
    ++FPending;
    FSecrets->Read(key, this, [this, key](const TSecretAnswer& answer) {
        switch (answer.Status) {
        case TSecretStatus::ssDone:
            FKnown.insert(key, answer.Secret);
            if (FForm.ePassword->text().isEmpty() && CurrentKey() == key)
                FForm.ePassword->setText(answer.Secret);
            break;
        case TSecretStatus::ssNotFound:
            FForm.SetAskPasswordAtLogon(true);
            break;
        case TSecretStatus::ssUnavailable:
            StoreUnavailable(answer.Reason);
            FForm.SetAskPasswordAtLogon(true);
            break;
        }
        Answered();
    });
}

void TPasswordKeeper::MoveToStore(const QString& key, const QString& password) {
    ++FPending;
    FSecrets->Write(key, password, this, [this, key, password](const TSecretAnswer& answer) {
        switch (answer.Status) {
        case TSecretStatus::ssDone:
            FKnown.insert(key, password);
            DropFromFile(password);
            break;
        case TSecretStatus::ssNotFound:
        case TSecretStatus::ssUnavailable:
            StoreUnavailable(answer.Reason);
            break;
        }
        Answered();
    });
}

void TPasswordKeeper::Remove(const QString& key) {
    ++FPending;
    FSecrets->Remove(key, this, [this, key](const TSecretAnswer& answer) {
        switch (answer.Status) {
        case TSecretStatus::ssDone:
        case TSecretStatus::ssNotFound:
            FKnown.remove(key);
            break;
        case TSecretStatus::ssUnavailable:
            StoreUnavailable(answer.Reason);
            break;
        }
        Answered();
    });
}

// Only the password the store has just confirmed leaves the file; one saved since stays until
// its own write is confirmed.
void TPasswordKeeper::DropFromFile(const QString& password) {
    try {
        FIniStore.Open();
        if (TComponentState::TrimText(FIniStore.ReadString(FSection, kPasswordEntry, QString())) ==
            password)
            FIniStore.DeleteKey(FSection, kPasswordEntry);
        FIniStore.Close();
    } catch (const std::exception& error) {
        TApplication::ShowException(error);
    }
}

void TPasswordKeeper::StoreUnavailable(const QString& reason) {
    if (!FUsable)
        return;
    FUsable = false;
    FForm.mDisplay->appendPlainText(
        QStringLiteral("No secret store available (%1); the password stays in the settings file")
            .arg(reason));
}

void TPasswordKeeper::Answered() {
    if (--FPending == 0)
        emit Settled();
}

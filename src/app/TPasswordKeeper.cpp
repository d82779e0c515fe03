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
      FUsable(FSecrets != nullptr) {
    connect(&form, &TfrmMain::LogonPasswordTyped, this, &TPasswordKeeper::KeepTyped);
}

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
    FFilePassword = inFile;
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
    } else if (FLocked && password != FFilePassword) {
        // Not even until the store answers: it is likely to be locked still.
        FIniStore.DeleteKey(FSection, kPasswordEntry);
        MoveToStore(key, password, true);
    } else {
        MoveToStore(key, password);
    }
}

// Stored at once, so that a store found locked is said while the user is there to read it.
void TPasswordKeeper::KeepTyped() {
    if (FUsable && !CurrentPassword().isEmpty())
        MoveToStore(CurrentKey(), CurrentPassword());
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
        case TSecretStatus::ssLocked:
            StoreLocked();
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

void TPasswordKeeper::MoveToStore(const QString& key, const QString& password, bool outOfFile) {
    ++FPending;
    FSecrets->Write(key, password, this, [=, this](const TSecretAnswer& answer) {
        switch (answer.Status) {
        case TSecretStatus::ssDone:
            FKnown.insert(key, password);
            DropFromFile(password);
            break;
        case TSecretStatus::ssLocked:
            StoreLocked();
            // A password the file held before is left there; one typed this run is not put
            // there because the store is locked.
            if (password != FFilePassword)
                DropFromFile(password);
            break;
        case TSecretStatus::ssNotFound:
        case TSecretStatus::ssUnavailable:
            StoreUnavailable(answer.Reason);
            if (outOfFile)
                WriteToFile(password);
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
        case TSecretStatus::ssLocked:
            StoreLocked();
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

// The store that has gone since it was found locked: the password falls back to the file.
void TPasswordKeeper::WriteToFile(const QString& password) {
    try {
        FIniStore.Open();
        FIniStore.WriteString(FSection, kPasswordEntry, password);
        FIniStore.Close();
    } catch (const std::exception& error) {
        TApplication::ShowException(error);
    }
}

// What the program says of the store is its own word, not the operation's: shown at once.
void TPasswordKeeper::StoreLocked() {
    if (FLocked)
        return;
    FLocked = true;
    FForm.AppendToLog(
        QStringLiteral("The secret store is locked; the password is kept until Heraldix closes"));
    FForm.ShowPendingEvents();
}

void TPasswordKeeper::StoreUnavailable(const QString& reason) {
    if (!FUsable)
        return;
    FUsable = false;
    FForm.AppendToLog(
        QStringLiteral("No secret store available (%1); the password stays in the settings file")
            .arg(reason));
    FForm.ShowPendingEvents();
}

void TPasswordKeeper::Answered() {
    if (--FPending == 0)
        emit Settled();
}

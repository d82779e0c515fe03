#pragma once

#include "posting/TSecretStore.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class TIniFileStore;
class TfrmMain;

// Keeps the main window's log-on password (ePassword) in the desktop's secret store under the
// key "<user name>@<server>", and out of the settings file. Works together with the settings
// file's saver, which writes the password into the file as before; this class takes it out again
// once the store holds it.
//
// Restore, with the file open and the controls just restored from it:
//   - the file holds a password (an older file, or one kept there when there was no store): it
//     is written to the store, and the file loses it once the store has confirmed the write;
//   - otherwise the password is read from the store and fills ePassword when it comes, unless
//     ePassword has been filled meanwhile or user name or server have changed.
// Save, with the file open and the controls just written to it:
//   - a password the store is known to hold under the current key leaves the file at once;
//   - any other password stays in the file until the store has confirmed its write;
//   - an emptied password leaves the file, and the store's entry for the key if one was read.
// A password typed into the log-on box goes to the store at once.
// "Not found" changes nothing, since a locked store answers so too; the window asks for the
// password at its next log-on instead. A locked store is still the store: a password it refuses
// is kept in ePassword for this run only and never put into the file for it (one the file held
// at Restore stays there); the status log says so once, and each later save tries the store
// again, which takes the password once it has been unlocked. The first "unavailable" answer (no
// store, no answer in time) ends the use of the store for the rest of the run: the status log
// says so once, the password stays in the file, and the window asks at log-on when it has none.
// Without a store (a null one) the file keeps the password and nothing is said.
class TPasswordKeeper : public QObject {
    Q_OBJECT
public:
    TPasswordKeeper(TfrmMain& form, TIniFileStore& iniStore, const QString& section,
                    std::unique_ptr<TSecretStore> secrets);
    ~TPasswordKeeper() override;

    void Restore();
    void Save();

    // True while a request to the store awaits its answer (at most the store's own time-out).
    bool Busy() const { return FPending > 0; }

signals:
    // The last request awaited has been answered.
    void Settled();

private:
    QString CurrentKey() const;
    QString CurrentPassword() const;
    void KeepTyped();
    void Read(const QString& key);
    // With `outOfFile` the file no longer holds the password, and gets it back only if the
    // store turns out to be unavailable.
    void MoveToStore(const QString& key, const QString& password, bool outOfFile = false);
    void Remove(const QString& key);
    void DropFromFile(const QString& password);
    void WriteToFile(const QString& password);
    void StoreLocked();
    void StoreUnavailable(const QString& reason);
    void Answered();

    TfrmMain& FForm;
    TIniFileStore& FIniStore;
    QString FSection;
    std::unique_ptr<TSecretStore> FSecrets;
    bool FUsable = false;
    // The store has refused a write as locked this run (and the log has said so).
    bool FLocked = false;
    // The password the settings file held when it was restored.
    QString FFilePassword;
    int FPending = 0;
    // What the store has been seen to hold this run, by key.
    QHash<QString, QString> FKnown;
};

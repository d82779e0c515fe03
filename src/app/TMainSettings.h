#pragma once

#include "app/TComponentState.h"
#include "app/TFormState.h"
#include "app/TIniFileStore.h"
#include "app/TPasswordKeeper.h"

#include <QObject>

#include <functional>
#include <memory>

class TfrmMain;

// The main window's settings file "frmsv.INI" in the program's directory: the user's stored
// fields and the message body, then the window's placement. Restore runs once, right after the
// window has been built and has loaded its list files; Save runs once, when the window closes and
// before the list files are written (or when this object goes away without a close). A save only
// happens in a run whose restore has run, so a window that never read the file never overwrites
// it. A failed write is shown to the user; the window still closes and its lists are still written.
// Not a child of the window: its owner must destroy it before the window.
//
// With a secret store the log-on password is kept there instead of in the file (see
// TPasswordKeeper); without one the file keeps it.
class TMainSettings : public QObject {
    Q_OBJECT
public:
    explicit TMainSettings(TfrmMain& form, std::unique_ptr<TSecretStore> secrets = nullptr);
    ~TMainSettings() override;

    // A stored Newsreader that names this program (the bare name earlier versions saved, or the
    // name with an earlier version) names the program as it is now; any other text is the user's.
    static bool NamesThisProgram(const QString& newsreader);

    void Restore();
    void Save();
    // Runs the event loop until the secret store has answered every request made so far (each
    // has a time-out of its own), so that a password saved on closing reaches the store before
    // the program ends. For after the window has closed.
    void FinishSecretStoreRequests();
    // Calls `then` from the event loop once the secret store has answered every request made
    // so far (on the next turn of the loop when none is awaited): the stored password has then
    // reached the window, or will not.
    void AfterSecretStore(std::function<void()> then);

    const TIniFileStore& Store() const { return FIniStore; }

private:
    TfrmMain& FForm;
    TIniFileStore FIniStore;
    TComponentState FComponentState;
    TFormState FFormState;
    TPasswordKeeper FPasswords;
    bool FRestored = false;
    bool FSaved = false;
};

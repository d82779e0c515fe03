#include "app/TMainSettings.h"

#include "app/TApplication.h"
#include "app/TfrmMain.h"

#include <QEventLoop>

namespace {
const QString kSection = QStringLiteral("TfrmMain");
}

TMainSettings::TMainSettings(TfrmMain& form, std::unique_ptr<TSecretStore> secrets)
    : FPasswords(form, FIniStore, kSection, std::move(secrets)) {
    FIniStore.ExeDir = form.ProgramDir();
    FComponentState.Form = &form;
    FComponentState.IniStore = &FIniStore;
    FComponentState.Section = kSection;
    FComponentState.StoredProperties = TComponentState::MainFormProperties();
    FFormState.Form = &form;
    FFormState.IniStore = &FIniStore;
    FFormState.Section = kSection;
    connect(&form, &TfrmMain::FormClosing, this, &TMainSettings::Save);
}

TMainSettings::~TMainSettings() {
    // The owner destroys this object before its window, so a window that goes away without a
    // close still has its settings saved from whole controls.
    Save();
}

void TMainSettings::Restore() {
    if (FRestored)
        return;
    FIniStore.Open();
    FComponentState.Restore();
    FFormState.Restore();
    FPasswords.Restore();
    FIniStore.Close();
    FRestored = true;
}

void TMainSettings::Save() {
    if (!FRestored || FSaved)
        return;
    FSaved = true;
    try {
        FIniStore.Open();
        FComponentState.Save();
        FFormState.Save();
        FPasswords.Save();
        FIniStore.Close();
    } catch (const std::exception& error) {
        TApplication::ShowException(error);
    }
}

void TMainSettings::FinishSecretStoreRequests() {
    if (!FPasswords.Busy())
        return;
    QEventLoop loop;
    connect(&FPasswords, &TPasswordKeeper::Settled, &loop, &QEventLoop::quit);
    loop.exec();
}

#include "app/TMainSettings.h"

#include "app/TApplication.h"
#include "app/TfrmMain.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

namespace {
const QString kSection = QStringLiteral("TfrmMain");
const QString kSecurityKey = QStringLiteral("cbSecurity.CurrentIndex");
const QString kConnectionsKey = QStringLiteral("seConnections.Value");
} // namespace

bool TMainSettings::NamesThisProgram(const QString& newsreader) {
    return newsreader == QLatin1String("Heraldix") ||
           newsreader.startsWith(QLatin1String("Heraldix/"));
}

TMainSettings::TMainSettings(TfrmMain& form, std::unique_ptr<TSecretStore> secrets)
    : FForm(form), FPasswords(form, FIniStore, kSection, std::move(secrets)) {
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
    // A settings file written before a choice existed keeps what it worked with: the clear
    // connection and one connection per run; a new file starts with the controls' choices (TLS,
    // two connections).
    const bool existing = FIniStore.SectionExists(kSection);
    const bool withoutSecurity = existing && !FIniStore.ValueExists(kSection, kSecurityKey);
    const bool withoutConnections = existing && !FIniStore.ValueExists(kSection, kConnectionsKey);
    FComponentState.Restore();
    if (withoutSecurity)
        FForm.cbSecurity->setCurrentIndex(0);
    if (withoutConnections)
        FForm.seConnections->setValue(1);
    FFormState.Restore();
    QLineEdit* newsreader = FForm.eNewsreader;
    if (NamesThisProgram(newsreader->text()))
        newsreader->setText(TfrmMain::DefaultNewsreader());
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

void TMainSettings::AfterSecretStore(std::function<void()> then) {
    if (!FPasswords.Busy()) {
        QTimer::singleShot(0, this, std::move(then));
        return;
    }
    connect(&FPasswords, &TPasswordKeeper::Settled, this, std::move(then),
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

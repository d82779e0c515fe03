#include "app/TApplication.h"
#include "app/TCancelSecretKeeper.h"
#include "app/TCommandLine.h"
#include "app/TMainSettings.h"
#include "app/TProgramDir.h"
#include "app/TfrmHistory.h"
#include "app/TfrmMain.h"
#include "banner/TAboutBox.h"
#include "banner/TLinkBanner.h"
#include "posting/TKeychainStore.h"
#include "selection/TFrmWiz.h"
#include "selection/TfrmFind.h"

int main(int argc, char* argv[]) {
    // A subcommand runs without a window, and without a window system.
    if (TCommandLine::Wanted(argc, argv))
        return TCommandLine::Run(argc, argv);
    TApplication app(argc, argv);
    TfrmMain frmMain(TProgramDir::Get());
    frmMain.SetBanner(TLinkBanner::CreateLinkBanner1(&frmMain));
    // The secondary windows belong to the main window and are only shown and hidden.
    auto* const frmFind = new TfrmFind(MainWindowAccessOf(frmMain), &frmMain);
    frmMain.SetFindWindow(frmFind);
    frmMain.SetAboutWindow(new TAboutBox(&frmMain));
    auto* const frmWiz = new TFrmWiz(MainWindowAccessOf(frmMain), frmFind, &frmMain);
    frmFind->SetWizardToPost(frmWiz->trcvtoPost);
    frmMain.SetStartWizard(frmWiz);
    frmMain.SetRunChooser(&TfrmHistory::ChooseRun);
    QObject::connect(&frmMain, &TfrmMain::GroupListArrived, frmWiz, &TFrmWiz::GroupListArrived);
    QObject::connect(&frmMain, &TfrmMain::BusyChanged, frmWiz, &TFrmWiz::BusyChanged);
    app.setWindowIcon(QIcon(QStringLiteral(":/heraldix/heraldix.png")));

    // Declared after the window so that it goes first: a window destroyed without a close still
    // has its settings saved.
    TMainSettings settings(frmMain, std::make_unique<TKeychainStore>());
    settings.Restore();
    TIniFileStore secretFile;
    secretFile.ExeDir = frmMain.ProgramDir();
    frmMain.LoadCancelSecret(
        std::make_unique<TCancelSecretKeeper>(secretFile, std::make_unique<TKeychainStore>()));
    frmMain.show();
    // A resumed run logs on with the stored password, so the offer waits for the secret store.
    settings.AfterSecretStore([&frmMain] { frmMain.OfferInterruptedRun(); });
    const int exitCode = app.exec();
    settings.FinishSecretStoreRequests();
    return exitCode;
}

#include "app/TApplication.h"
#include "app/TMainSettings.h"
#include "app/TProgramDir.h"
#include "app/TfrmMain.h"
#include "banner/TAboutBox.h"
#include "banner/TLinkBanner.h"

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    TfrmMain frmMain(TProgramDir::Get());
    frmMain.SetBanner(TLinkBanner::CreateLinkBanner1(&frmMain));
    frmMain.SetAboutWindow(new TAboutBox(&frmMain));
    app.setWindowIcon(QIcon(QStringLiteral(":/heraldix/heraldix.png")));

    // Declared after the window so that it goes first: a window destroyed without a close still
    // has its settings saved.
    TMainSettings settings(frmMain);
    settings.Restore();
    frmMain.show();
    return app.exec();
}

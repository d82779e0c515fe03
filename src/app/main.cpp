#include "app/TApplication.h"
#include "app/TProgramDir.h"
#include "app/TfrmMain.h"

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    TfrmMain frmMain(TProgramDir::Get());
    frmMain.show();
    return app.exec();
}

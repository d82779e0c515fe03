// Reads any bytes as the settings file, puts a window where the file says, reads every key of
// every section back as numbers and as text, then writes one value and takes the text the file
// would hold.

#include "app/TFormState.h"
#include "app/TIniFileStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

static QWidget& Form() {
    static int argc = 1;
    static char name[] = "fuzz_ini";
    static char* argv[] = {name, nullptr};
    static const bool platform = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(argc, argv);
    static QWidget form;
    (void)platform;
    return form;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QWidget& form = Form();
    form.setGeometry(50, 60, 400, 300);
    static const QString path =
        QDir::temp().filePath(QStringLiteral("heraldix-fuzz-%1.INI").arg(getpid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();

    TIniFileStore store;
    store.UseExeDir = false;
    store.IniFileName = path;
    store.Open();
    TFormState state;
    state.Form = &form;
    state.IniStore = &store;
    state.Section = QStringLiteral("TfrmMain");
    state.Restore();
    for (const QString& section : {QStringLiteral("TfrmMain"), QStringLiteral("FrmWiz")}) {
        for (const QString& key : store.ReadSection(section)) {
            store.ReadInteger(section, key, 0);
            store.ReadString(section, key, QString());
        }
    }
    store.WriteString(QStringLiteral("TfrmMain"), QStringLiteral("NormalPos"),
                      QStringLiteral("1,2,3,4"));
    store.Contents();
    return 0;
}

#include "app/TProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

static QString WithSeparator(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString TProgramDir::Choose(const QString& executableDir, const QString& fallbackDir) {
    const QFileInfo info(executableDir);
    if (info.isDir() && info.isWritable())
        return WithSeparator(executableDir);
    QDir().mkpath(fallbackDir);
    return WithSeparator(fallbackDir);
}

QString TProgramDir::Get() {
    static const QString dir =
        Choose(QCoreApplication::applicationDirPath(),
               QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    return dir;
}

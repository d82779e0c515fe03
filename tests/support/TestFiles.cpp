#include "TestFiles.h"

#include <QFile>

bool WriteTestFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadTestFile(const QString& path, const QByteArray& whenMissing) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : whenMissing;
}

QProcessEnvironment CommandLineEnvironment(const QString& password) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "HERALDIX_PASSWORD"})
        environment.remove(QString::fromLatin1(name));
    if (!password.isEmpty())
        environment.insert(QStringLiteral("HERALDIX_PASSWORD"), password);
    return environment;
}

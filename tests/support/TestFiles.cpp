#include "TestFiles.h"

#include <QFile>
#include <QTest>

void WriteTestFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray ReadTestFile(const QString& path, const QByteArray& whenMissing) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : whenMissing;
}

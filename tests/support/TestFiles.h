#pragma once

// Whole files written and read back by tests.

#include <QByteArray>
#include <QString>

// Makes `bytes` the whole content of the file at `path`, creating or truncating it. A file that
// cannot be opened fails the running test.
void WriteTestFile(const QString& path, const QByteArray& bytes);

// The whole content of the file at `path`, or `whenMissing` when it cannot be opened.
QByteArray ReadTestFile(const QString& path, const QByteArray& whenMissing = {});

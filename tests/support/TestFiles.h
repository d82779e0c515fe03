#pragma once

// Whole files written and read back by tests.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

// Makes `bytes` the whole content of the file at `path`, creating or truncating it; false when
// the file cannot be opened or not all was written. Call it inside QVERIFY.
[[nodiscard]] bool WriteTestFile(const QString& path, const QByteArray& bytes);

// The whole content of the file at `path`, or `whenMissing` when it cannot be opened.
QByteArray ReadTestFile(const QString& path, const QByteArray& whenMissing = {});

// The environment for running `heraldix` from a test: no display, and no password unless given.
QProcessEnvironment CommandLineEnvironment(const QString& password = {});

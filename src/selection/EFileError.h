#pragma once

#include "mime/EIpBaseException.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// A file that exists but cannot be opened, read or written (a list file, a message file). The
// message names the operation, the file and the system's reason.
class EFileError : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;

    // "Cannot open file "<path>". <reason>"
    static EFileError Make(const char* what, const QString& path, const QString& reason) {
        return EFileError(QStringLiteral("%1 \"%2\". %3")
                              .arg(QString::fromLatin1(what), path, reason)
                              .toStdString());
    }
};

// A whole file read into memory.
class TWholeFile {
public:
    // Throws EFileError when the file cannot be opened or read.
    static QByteArray Read(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw EFileError::Make("Cannot open file", path, file.errorString());
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw EFileError::Make("Cannot read file", path, file.errorString());
        return bytes;
    }
};

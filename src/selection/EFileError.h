#pragma once

#include "mime/EIpBaseException.h"

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

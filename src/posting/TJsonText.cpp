#include "posting/TJsonText.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace {
const QString kBytes = QStringLiteral("bytes");
}

QJsonValue TJsonText::Value(const std::string& text) {
    const QString decoded = QString::fromStdString(text);
    if (decoded.toStdString() == text)
        return decoded;
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return QJsonObject{{kBytes, QString::fromLatin1(bytes.toBase64())}};
}

std::string TJsonText::Of(const QJsonValue& value) {
    if (value.isObject())
        return QByteArray::fromBase64(value.toObject().value(kBytes).toString().toLatin1())
            .toStdString();
    return value.toString().toStdString();
}

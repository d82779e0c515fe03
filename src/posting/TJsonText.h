#pragma once

#include <QJsonValue>

#include <string>

// Text the user gave (group names, subjects, replies, file names) as a value in a JSON file of
// ours. Valid UTF-8 is a JSON string; anything else is kept byte for byte as {"bytes": base64},
// since a JSON string would replace the bytes it cannot hold and the text read back would name
// another group. For the same reason such text is never a JSON member name.
class TJsonText {
public:
    static QJsonValue Value(const std::string& text);
    // The text of a value Value made; a missing or foreign value gives the empty text.
    static std::string Of(const QJsonValue& value);
};

#pragma once

// Two independent readers of a posted or composed article: Python's email package and munpack.

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

// What read_article.py reports for the article text: subject, name, address, organization,
// user_agent, message_id, headers (name -> count), multipart, text_type, text (lines),
// attachment (filename, payload in base64), defects, longest_line. Empty when it failed.
QJsonObject ReadArticle(const QByteArray& text);

// The files munpack unpacks from the article text, by the name it gave them. Empty when it
// failed.
QMap<QString, QByteArray> UnpackArticle(const QByteArray& text);

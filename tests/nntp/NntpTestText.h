#pragma once

#include <QTest>

#include <string>
#include <vector>

// Readable failure messages for the 8-bit texts and text lists the client works with.
namespace QTest {
template <> inline char* toString(const std::string& text) {
    return QTest::toString(QByteArray::fromStdString(text));
}
template <> inline char* toString(const std::vector<std::string>& lines) {
    QByteArray joined("[");
    for (size_t i = 0; i < lines.size(); ++i)
        joined += (i ? "\", \"" : "\"") + QByteArray::fromStdString(lines[i]) +
                  (i + 1 == lines.size() ? "\"" : "");
    return QTest::toString(joined + "]");
}
} // namespace QTest

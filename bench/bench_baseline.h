#pragma once

// The nntplib baseline the posting and group-list benchmarks run on the same server in the same
// run, and how they print a figure next to it.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// The 1 KB message of the posting benchmarks: 16 lines of 62 characters.
inline QStringList KilobyteBody() {
    QStringList body;
    for (int i = 0; i < 16; ++i)
        body << QStringLiteral("Line %1 of the benchmark message, padded to 64 bytes....")
                    .arg(i, 2, 10, QLatin1Char('0'))
                    .left(62);
    return body;
}

// The body as the nntplib baseline reads it, in a file at `path`.
inline void WriteBodyFile(const QString& path, const QStringList& body) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(body.join("\r\n").toUtf8() + "\r\n");
}

// The names of the groups the news server's --groups option creates, test.bulk.000001 on.
inline std::vector<std::string> BulkGroupNames(int count) {
    std::vector<std::string> groups;
    for (int i = 1; i <= count; ++i)
        groups.push_back(
            QStringLiteral("test.bulk.%1").arg(i, 6, 10, QLatin1Char('0')).toStdString());
    return groups;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs bench_app_nntplib.py with `arguments`; its JSON result, or an empty object on failure.
inline QJsonObject RunNntplib(const QStringList& arguments) {
    QProcess python;
    python.start(QStringLiteral("python3"),
                 QStringList{qEnvironmentVariable("HERALDIX_SOURCE_DIR", HERALDIX_SOURCE_DIR) +
                             QStringLiteral("/bench/bench_app_nntplib.py")} +
                     arguments);
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        std::fprintf(stderr, "nntplib baseline failed: %s\n",
                     python.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

inline void PrintRatio(const char* what, double ours, double baseline, const char* goal) {
    std::printf("%-44s heraldix %8.3f s   nntplib %8.3f s   ratio %.2f (goal %s)\n", what, ours,
                baseline, baseline > 0 ? ours / baseline : 0.0, goal);
}

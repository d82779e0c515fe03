#pragma once

#include "mime/EIpBaseException.h"

#include <QString>
#include <QStringList>

#include <vector>

// Raised when the settings file cannot be written; the text names the file's full path.
class EIniFileStoreError : public EIpBaseException {
public:
    using EIpBaseException::EIpBaseException;
};

// Keyed text values in an INI file: "[Section]" lines, each followed by "Key=Value" lines.
//
// The file is held in memory between Open() and Close(). Sections and keys are matched without
// regard to letter case, the first match wins, and every line the program does not touch (comments,
// unknown sections, keys of other programs) is written back as it was, so a hand-edited file keeps
// its shape. Close() writes the file only when something changed; the write replaces the file in
// one step, so a failed write leaves the old file intact.
//
// The file holds the log-on password in clear text: it is created readable and writable by its
// owner only, and rewriting an existing file keeps its mode or takes group and other access away.
class TIniFileStore {
public:
    // Longest value a read returns; longer values are cut.
    static constexpr int MaxValueLength = 2047;

    // The file's name; ".INI" is appended when it contains no ".".
    QString IniFileName = QStringLiteral("frmsv");
    // When set, the file lives in ExeDir (the program's directory as computed at start-up, or the
    // running executable's directory when ExeDir is empty); otherwise IniFileName is taken as it
    // is.
    bool UseExeDir = true;
    QString ExeDir;

    // The full path of the file.
    QString FileName() const;

    // Reads the file; a missing or unreadable file gives an empty store.
    void Open();
    // Writes the file if anything changed since Open() and forgets its contents. Raises
    // EIniFileStoreError "Unable to write to <path>" when the file cannot be written.
    void Close();

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // The value as a decimal integer with an optional sign; def when missing or not a number.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    // The keys of a section in file order.
    QStringList ReadSection(const QString& section) const;
    // Removes every section of that name with all its keys.
    void EraseSection(const QString& section);
    // Removes every line of the key from every section of that name.
    void DeleteKey(const QString& section, const QString& key);

    // The text the file would hold if it were written now.
    QByteArray Contents() const;

private:
    struct Section {
        QString name;
        bool hasHeader = true; // false only for the lines before the first "[...]" line
        std::vector<QString> lines;
    };

    const Section* FindSection(const QString& name) const;
    Section* FindSection(const QString& name);
    void Parse(const QString& text);
    void Write() const;

    std::vector<Section> m_sections;
    bool m_modified = false;
};

#include "app/TIniFileStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <sys/stat.h>

#include <optional>
#include <utility>

namespace {

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// "[Name]" gives Name; any other line gives nothing.
std::optional<QString> SectionHeaderName(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.lastIndexOf(u']');
    if (close < 1)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

// A value surrounded by blanks or by a pair of double quotes is written inside double quotes, and
// a read takes one pair away again. A body line indented with blanks thus comes back indented,
// and files written by other INI writers, which quote the same way, read the same.
QString Unquote(const QString& value) {
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
        return value.mid(1, value.size() - 2);
    return value;
}

QString Quote(const QString& value) {
    const bool quoted = value.size() >= 2 && value.front() == u'"' && value.back() == u'"';
    if (quoted || value != value.trimmed())
        return u'"' + value + u'"';
    return value;
}

// Splits "Key=Value"; comments, blank lines and lines without "=" are not entries.
bool SplitEntry(const QString& line, QString* key, QString* value) {
    const QString t = line.trimmed();
    if (t.isEmpty() || t.front() == u';' || t.front() == u'#')
        return false;
    const qsizetype eq = t.indexOf(u'=');
    if (eq < 0)
        return false;
    *key = t.left(eq).trimmed();
    if (value != nullptr)
        *value = Unquote(t.mid(eq + 1).trimmed());
    return true;
}

QString CutValue(QString value) {
    if (value.size() <= TIniFileStore::MaxValueLength)
        return value;
    value.truncate(TIniFileStore::MaxValueLength);
    // Never leave half of a surrogate pair at the end.
    if (value.back().isHighSurrogate())
        value.chop(1);
    return value;
}

// Existing files written on other systems may be in a one-byte code page rather than UTF-8.
QString DecodeFile(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

} // namespace

QString TIniFileStore::FileName() const {
    QString name = IniFileName;
    if (!name.contains(u'.'))
        name += QStringLiteral(".INI");
    if (!UseExeDir)
        return QFileInfo(name).absoluteFilePath();
    QString dir = ExeDir.isEmpty() ? QCoreApplication::applicationDirPath() : ExeDir;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir + name;
}

void TIniFileStore::Open() {
    m_sections.clear();
    m_modified = false;
    QFile file(FileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    Parse(DecodeFile(file.readAll()));
}

void TIniFileStore::Close() {
    const bool modified = m_modified;
    if (modified) {
        // The contents are dropped either way: a failed save must not be retried with stale data.
        try {
            Write();
        } catch (...) {
            m_sections.clear();
            m_modified = false;
            throw;
        }
    }
    m_sections.clear();
    m_modified = false;
}

void TIniFileStore::Parse(const QString& text) {
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast(); // the final line break ends the last line, it does not start a new one
    if (!lines.isEmpty() && lines.front().startsWith(QChar(0xFEFF)))
        lines.front().remove(0, 1);
    for (QString& line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (const std::optional<QString> name = SectionHeaderName(line)) {
            m_sections.push_back(Section{*name, true, {}});
            continue;
        }
        if (m_sections.empty())
            m_sections.push_back(Section{QString(), false, {}});
        m_sections.back().lines.push_back(line);
    }
}

const TIniFileStore::Section* TIniFileStore::FindSection(const QString& name) const {
    for (const Section& s : m_sections)
        if (s.hasHeader && SameName(s.name, name))
            return &s;
    return nullptr;
}

TIniFileStore::Section* TIniFileStore::FindSection(const QString& name) {
    return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

QString TIniFileStore::ReadString(const QString& section, const QString& key,
                                  const QString& def) const {
    const Section* s = FindSection(section);
    if (s == nullptr)
        return def;
    QString k;
    QString v;
    for (const QString& line : s->lines)
        if (SplitEntry(line, &k, &v) && SameName(k, key))
            return CutValue(v);
    return def;
}

int TIniFileStore::ReadInteger(const QString& section, const QString& key, int def) const {
    const QString text = ReadString(section, key, QString());
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : def;
}

void TIniFileStore::WriteString(const QString& section, const QString& key, const QString& value) {
    // A line break inside a value would end the entry early and could forge further keys or
    // sections; the file cannot hold one, so it becomes a blank.
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    const QString entry = key + u'=' + Quote(clean);
    m_modified = true;

    Section* s = FindSection(section);
    if (s == nullptr) {
        if (!m_sections.empty() && !m_sections.back().lines.empty() &&
            !m_sections.back().lines.back().trimmed().isEmpty())
            m_sections.back().lines.push_back(QString());
        m_sections.push_back(Section{section, true, {entry}});
        return;
    }
    QString k;
    for (QString& line : s->lines) {
        if (SplitEntry(line, &k, nullptr) && SameName(k, key)) {
            line = entry;
            return;
        }
    }
    // New keys go after the section's last non-blank line, so the blank line that separates it
    // from the next section stays where it is.
    auto at = s->lines.end();
    while (at != s->lines.begin() && (at - 1)->trimmed().isEmpty())
        --at;
    s->lines.insert(at, entry);
}

void TIniFileStore::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

bool TIniFileStore::SectionExists(const QString& section) const {
    return FindSection(section) != nullptr;
}

bool TIniFileStore::ValueExists(const QString& section, const QString& key) const {
    return ReadSection(section).contains(key, Qt::CaseInsensitive);
}

QStringList TIniFileStore::ReadSection(const QString& section) const {
    QStringList keys;
    const Section* s = FindSection(section);
    if (s == nullptr)
        return keys;
    QString k;
    for (const QString& line : s->lines)
        if (SplitEntry(line, &k, nullptr))
            keys.append(k);
    return keys;
}

void TIniFileStore::EraseSection(const QString& section) {
    const auto gone = std::erase_if(
        m_sections, [&](const Section& s) { return s.hasHeader && SameName(s.name, section); });
    if (gone > 0)
        m_modified = true;
}

void TIniFileStore::DeleteKey(const QString& section, const QString& key) {
    QString k;
    for (Section& s : m_sections) {
        if (!s.hasHeader || !SameName(s.name, section))
            continue;
        if (std::erase_if(s.lines, [&](const QString& line) {
                return SplitEntry(line, &k, nullptr) && SameName(k, key);
            }) > 0)
            m_modified = true;
    }
}

QByteArray TIniFileStore::Contents() const {
    QString text;
    for (const Section& s : m_sections) {
        if (s.hasHeader)
            text += u'[' + s.name + QStringLiteral("]\n");
        for (const QString& line : s.lines)
            text += line + u'\n';
    }
    return text.toUtf8();
}

void TIniFileStore::Write() const {
    const QString path = FileName();
    const auto fail = [&path]() {
        throw EIniFileStoreError(QStringLiteral("Unable to write to %1").arg(path).toStdString());
    };

    // Owner read and write for a new file; an existing file keeps at most its owner's bits.
    QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || !QFileInfo(path).isWritable())
            fail();
        mode = {};
        if (st.st_mode & S_IRUSR)
            mode |= QFileDevice::ReadOwner;
        if (st.st_mode & S_IWUSR)
            mode |= QFileDevice::WriteOwner;
        if (st.st_mode & S_IXUSR)
            mode |= QFileDevice::ExeOwner;
    }

    QSaveFile file(path);
    // An installed copy may own a file in a directory it cannot create files in.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        fail();
    // The temporary file is already private; this makes the final file's mode the one chosen.
    if (!file.setPermissions(mode))
        fail();
    const QByteArray bytes = Contents();
    if (file.write(bytes) != bytes.size() || !file.commit())
        fail();
}

#include "app/TComponentState.h"

#include "app/TIniFileStore.h"

#include <QMetaProperty>
#include <QObject>

#include <optional>

namespace {

enum class TStoredKind : uint8_t { skText, skInteger, skBoolean, skLines };

// One entry of the list, resolved to a control and one of its Qt properties.
struct TStoredProperty {
    QObject* component = nullptr;
    QMetaProperty property;
    TStoredKind kind = TStoredKind::skText;
    // A list of lines kept by the control as one text with line breaks (a plain-text editor
    // without a "Lines" property).
    bool linesInText = false;

    QStringList Lines() const {
        const QVariant value = property.read(component);
        if (!linesInText)
            return value.toStringList();
        // A line break after the last line does not start another line; an empty text has none.
        QStringList lines = value.toString().split(u'\n');
        if (lines.back().isEmpty())
            lines.removeLast();
        return lines;
    }

    // Each line ends in a line break, the last one too: a text typed with a final line break
    // comes back with it.
    void SetLines(const QStringList& lines) const {
        if (!linesInText) {
            property.write(component, lines);
            return;
        }
        QString text;
        for (const QString& line : lines)
            text += line + u'\n';
        property.write(component, text);
    }
};

std::optional<TStoredKind> KindOf(const QMetaProperty& property) {
    switch (property.metaType().id()) {
    case QMetaType::QString:
        return TStoredKind::skText;
    case QMetaType::Int:
        return TStoredKind::skInteger;
    case QMetaType::Bool:
        return TStoredKind::skBoolean;
    case QMetaType::QStringList:
        return TStoredKind::skLines;
    default:
        return std::nullopt;
    }
}

QMetaProperty FindProperty(const QObject* component, const QString& name) {
    const QMetaObject* meta = component->metaObject();
    int index = meta->indexOfProperty(name.toLatin1().constData());
    if (index < 0 && !name.isEmpty()) {
        // The stored names are capitalised ("Text"); Qt's are not ("text").
        const QString lower = name.front().toLower() + name.mid(1);
        index = meta->indexOfProperty(lower.toLatin1().constData());
    }
    return index < 0 ? QMetaProperty() : meta->property(index);
}

std::optional<TStoredProperty> Resolve(QObject* form, const QString& entry) {
    const qsizetype dot = entry.indexOf(u'.');
    if (dot <= 0 || dot == entry.size() - 1)
        return std::nullopt;
    const QString componentName = entry.left(dot);
    const QString propertyName = entry.mid(dot + 1);

    QObject* component =
        form->objectName() == componentName ? form : form->findChild<QObject*>(componentName);
    if (component == nullptr)
        return std::nullopt;

    TStoredProperty stored;
    stored.component = component;
    stored.property = FindProperty(component, propertyName);
    if (!stored.property.isValid() && propertyName == QLatin1String("Lines")) {
        stored.property = FindProperty(component, QStringLiteral("plainText"));
        stored.linesInText = stored.property.isValid();
    }
    if (!stored.property.isValid() || !stored.property.isWritable())
        return std::nullopt;
    const std::optional<TStoredKind> kind = KindOf(stored.property);
    if (!kind)
        return std::nullopt;
    stored.kind = stored.linesInText ? TStoredKind::skLines : *kind;
    return stored;
}

QString BoolText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

QStringList TComponentState::MainFormProperties() {
    return {QStringLiteral("eName.Text"),
            QStringLiteral("eAddress.Text"),
            QStringLiteral("eHost.Text"),
            QStringLiteral("eNewsreader.Text"),
            QStringLiteral("eOrganization.Text"),
            QStringLiteral("ePassword.Text"),
            QStringLiteral("eProxy.Text"),
            QStringLiteral("eUserName.Text"),
            QStringLiteral("seTimeout.Value"),
            QStringLiteral("eSubject.Text"),
            QStringLiteral("dcMsgBody.Lines"),
            QStringLiteral("cbLogon.Checked"),
            QStringLiteral("cbSecurity.CurrentIndex"),
            QStringLiteral("seConnections.Value"),
            QStringLiteral("cbVerify.Checked"),
            QStringLiteral("cbSendAs.CurrentIndex"),
            QStringLiteral("seGroupsPerArticle.Value"),
            QStringLiteral("eFollowupTo.Text"),
            QStringLiteral("eReplyTo.Text")};
}

// A hand-edited Count cannot make up more lines than the section has item keys for (a missing
// item in between still reads as an empty line).
QStringList TComponentState::ReadLines(const TIniFileStore& store, const QString& section) {
    const int count = store.ReadInteger(section, QStringLiteral("Count"), 0);
    int highest = -1;
    for (const QString& key : store.ReadSection(section)) {
        bool ok = false;
        const int index = key.startsWith(QLatin1String("Item"), Qt::CaseInsensitive)
                              ? key.mid(4).toInt(&ok, 10)
                              : -1;
        if (ok && index >= 0 && index < count)
            highest = std::max(highest, index);
    }
    QStringList lines;
    for (int i = 0; i <= highest; ++i)
        lines.append(store.ReadString(section, QStringLiteral("Item%1").arg(i), {}));
    return lines;
}

QString TComponentState::TrimText(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

QString TComponentState::SingleLineText(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return out;
}

void TComponentState::Save() const {
    if (!Active || Form == nullptr || IniStore == nullptr)
        return;
    for (const QString& entry : StoredProperties) {
        const std::optional<TStoredProperty> stored = Resolve(Form, entry);
        if (!stored)
            continue;
        const QVariant value = stored->property.read(stored->component);
        switch (stored->kind) {
        case TStoredKind::skText:
            IniStore->WriteString(Section, entry, TrimText(value.toString()));
            break;
        case TStoredKind::skInteger:
            IniStore->WriteInteger(Section, entry, value.toInt());
            break;
        case TStoredKind::skBoolean:
            IniStore->WriteString(Section, entry, BoolText(value.toBool()));
            break;
        case TStoredKind::skLines: {
            const QString section = QStringLiteral("%1.%2").arg(Section, entry);
            IniStore->EraseSection(section);
            const QStringList lines = stored->Lines();
            if (lines.isEmpty())
                break;
            IniStore->WriteInteger(section, QStringLiteral("Count"), int(lines.size()));
            for (qsizetype i = 0; i < lines.size(); ++i)
                IniStore->WriteString(section, QStringLiteral("Item%1").arg(i), lines.at(i));
            break;
        }
        }
    }
}

void TComponentState::Restore() const {
    if (!Active || Form == nullptr || IniStore == nullptr)
        return;
    for (const QString& entry : StoredProperties) {
        const std::optional<TStoredProperty> stored = Resolve(Form, entry);
        if (!stored)
            continue;
        QObject* component = stored->component;
        const QMetaProperty& property = stored->property;
        const QVariant current = property.read(component);
        switch (stored->kind) {
        case TStoredKind::skText:
            property.write(
                component,
                SingleLineText(TrimText(IniStore->ReadString(Section, entry, current.toString()))));
            break;
        case TStoredKind::skInteger: {
            const QString text =
                TrimText(IniStore->ReadString(Section, entry, QString::number(current.toInt())));
            bool ok = false;
            const int value = text.toInt(&ok, 10);
            property.write(component, ok ? value : 0);
            break;
        }
        case TStoredKind::skBoolean: {
            const QString text =
                TrimText(IniStore->ReadString(Section, entry, BoolText(current.toBool())));
            if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
                property.write(component, true);
            else if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
                property.write(component, false);
            break;
        }
        case TStoredKind::skLines: {
            const QStringList lines =
                ReadLines(*IniStore, QStringLiteral("%1.%2").arg(Section, entry));
            if (lines.isEmpty())
                break;
            stored->SetLines(lines);
            break;
        }
        }
    }
}

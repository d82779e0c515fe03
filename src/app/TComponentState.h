#pragma once

#include <QString>
#include <QStringList>

class QObject;
class TIniFileStore;

// Saves named properties of a window's controls to the settings file and puts them back.
//
// Each entry of StoredProperties is "<component>.<property>", the component found by its
// objectName on the form (or the form itself) and the property by its name: "Text", "Value" and
// "Checked" are the controls' text, value and checked properties, and "Lines" is the text of a
// multi-line editor as a list of lines. Entries whose control or property does not exist are
// skipped. Values go into Section under the entry as key; a list of lines gets a section of its
// own, "<Section>.<entry>", with "Count" and "Item0" ... "Item<Count-1>".
//
// Texts are stored and restored without the blanks and control characters at either end, and
// restored with those inside as blanks: a text is one line of a field, and a hand-edited file
// must not give it a line break that the field would carry into an article's header;
// integers are decimal and restore as 0 when the file holds no number; booleans are written
// "True"/"False" and read without regard to case, any other text leaving the control as it is.
class TComponentState {
public:
    QObject* Form = nullptr;
    TIniFileStore* IniStore = nullptr;
    QString Section;
    bool Active = true;
    QStringList StoredProperties;

    // The main window's stored controls, in the order they are saved and restored.
    static QStringList MainFormProperties();

    // Both work on a store the caller has opened; they do nothing while inactive or unattached.
    void Save() const;
    void Restore() const;

    // Removes blanks and control characters (everything up to U+0020) from both ends.
    static QString TrimText(const QString& text);
    // The lines a "Lines" property stored in `section` (Count, then Item0, Item1, ...).
    static QStringList ReadLines(const TIniFileStore& store, const QString& section);
    // Control characters and line or paragraph separators as blanks.
    static QString SingleLineText(const QString& text);
};

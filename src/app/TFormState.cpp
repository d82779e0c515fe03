#include "app/TFormState.h"

#include "app/TIniFileStore.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QStringList>
#include <QWidget>

namespace {

// The platform's show-command numbers, as the file keeps them.
constexpr int ShowNormal = 1;
constexpr int ShowMinimized = 2;
constexpr int ShowMaximized = 3;
constexpr int ShowMinNoActive = 6;

const QString KeyFlags = QStringLiteral("Flags");
const QString KeyShowCmd = QStringLiteral("ShowCmd");
const QString KeyNormalPos = QStringLiteral("NormalPos");
const QString KeyPixelsPerInch = QStringLiteral("PixelsPerInch");
const QString KeyColor = QStringLiteral("Color");

QRect NormalRect(const QWidget* form) {
    const QRect normal = form->normalGeometry();
    return normal.isValid() ? normal : form->geometry();
}

// A custom window colour is written as 0x00BBGGRR; the standard face colour as its system number.
int ColorValue(const QWidget* form) {
    if (!form->testAttribute(Qt::WA_SetPalette) ||
        !form->palette().isBrushSet(QPalette::Active, QPalette::Window))
        return TFormState::DefaultColor;
    const QColor c = form->palette().color(QPalette::Window);
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

// A rectangle saved on a screen that is no longer attached would put the window out of reach.
bool OnSomeScreen(const QRect& rect) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* screen : screens)
        if (screen->availableVirtualGeometry().intersects(rect))
            return true;
    return screens.isEmpty();
}

// A coordinate no window can have; past it the edges' differences would not fit an int.
bool IsCoordinate(int value) {
    return value >= -QWIDGETSIZE_MAX && value <= QWIDGETSIZE_MAX;
}

void RestorePosition(QWidget* form, const TIniFileStore& store, const QString& section) {
    if (!store.ValueExists(section, KeyNormalPos))
        return;
    const QRect current = NormalRect(form);
    const int defaults[4] = {current.left(), current.top(), current.left() + current.width(),
                             current.top() + current.height()};
    const QStringList parts = store.ReadString(section, KeyNormalPos, QString()).split(u',');
    int pos[4] = {defaults[0], defaults[1], defaults[2], defaults[3]};
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int value = parts.at(i).trimmed().toInt(&ok, 10);
        if (ok)
            pos[i] = value;
    }
    for (const int value : pos)
        if (!IsCoordinate(value))
            return;
    const bool resizable = form->minimumSize() != form->maximumSize();
    QRect rect(pos[0], pos[1], pos[2] - pos[0], pos[3] - pos[1]);
    if (!resizable)
        rect.setSize(current.size());
    if (pos[0] >= pos[2] || rect.height() <= 0 || !OnSomeScreen(rect))
        return;
    form->setGeometry(rect);
}

void RestoreShowState(QWidget* form, const TIniFileStore& store, const QString& section) {
    const Qt::WindowStates plain =
        form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    switch (store.ReadInteger(section, KeyShowCmd, 0)) {
    case ShowMinimized:
    case ShowMinNoActive:
        form->setWindowState(plain | Qt::WindowMinimized);
        break;
    case ShowMaximized:
        form->setWindowState(plain | Qt::WindowMaximized);
        break;
    default:
        form->setWindowState(plain);
        break;
    }
}

} // namespace

int TFormState::PixelsPerInch(const QWidget* form) {
    return form->logicalDpiY();
}

void TFormState::Save() const {
    if (!Active || Form == nullptr || IniStore == nullptr)
        return;
    int show = ShowNormal;
    if (Form->isMinimized())
        show = ShowMinimized;
    else if (Form->isMaximized())
        show = ShowMaximized;
    const QRect r = NormalRect(Form);
    IniStore->WriteInteger(Section, KeyFlags, 0);
    IniStore->WriteInteger(Section, KeyShowCmd, show);
    IniStore->WriteString(Section, KeyNormalPos,
                          QStringLiteral("%1,%2,%3,%4")
                              .arg(r.left())
                              .arg(r.top())
                              .arg(r.left() + r.width())
                              .arg(r.top() + r.height()));
    IniStore->WriteInteger(Section, KeyPixelsPerInch, PixelsPerInch(Form));
    IniStore->WriteInteger(Section, KeyColor, ColorValue(Form));
}

void TFormState::Restore() const {
    if (!Active || Form == nullptr || IniStore == nullptr)
        return;
    const int current = PixelsPerInch(Form);
    if (IniStore->ReadInteger(Section, KeyPixelsPerInch, current) != current)
        return;
    if (HasOption(TFormStateOption::fsPosition))
        RestorePosition(Form, *IniStore, Section);
    if (HasOption(TFormStateOption::fsState))
        RestoreShowState(Form, *IniStore, Section);
}

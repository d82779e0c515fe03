#pragma once

#include <QString>

#include <cstdint>

class QWidget;
class TIniFileStore;

enum class TFormStateOption : uint8_t { fsState, fsPosition };

// Saves a window's placement to the settings file and puts it back.
//
// Keys, in the order written: "Flags" (always 0: the toolkit has no placement flag word),
// "ShowCmd" (1 normal, 2 minimized, 3 maximized), "NormalPos" ("left,top,right,bottom" of the
// normal, not maximized, rectangle; right and bottom exclusive), "PixelsPerInch" and "Color" (the
// window colour as a signed number, -16777201 for the standard face colour; never read back).
//
// A file saved at another screen resolution restores nothing, since its rectangle would not fit.
class TFormState {
public:
    static constexpr int DefaultColor = -16777201;

    QWidget* Form = nullptr;
    TIniFileStore* IniStore = nullptr;
    QString Section;
    bool Active = true;
    // A set of TFormStateOption, one bit per ordinal.
    uint8_t Options =
        OptionBit(TFormStateOption::fsState) | OptionBit(TFormStateOption::fsPosition);

    static constexpr uint8_t OptionBit(TFormStateOption option) {
        return uint8_t(1u << uint8_t(option));
    }
    bool HasOption(TFormStateOption option) const { return (Options & OptionBit(option)) != 0; }

    // Both work on a store the caller has opened; they do nothing while inactive or unattached.
    void Save() const;
    void Restore() const;

    // The resolution the window is shown at, as written to "PixelsPerInch".
    static int PixelsPerInch(const QWidget* form);
};

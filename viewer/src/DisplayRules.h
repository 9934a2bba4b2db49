#pragma once

// The viewer's value rules, without widgets: reading the component's value texts, decoding
// typed values, the display scale and number format of the seven-segment display, the link
// quality, and which command buttons are enabled. The main window wires them to its
// controls; they are tested directly.

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace lyx::viewer {

/// A number as the component writes it ("12.5", "-3", "1.234568E+08", " 7 "): "." as the
/// decimal point whatever the locale, an optional exponent, blanks around it. Nothing for
/// any other text (also "NaN", "Infinity", "1,5", hexadecimal).
std::optional<double> parseValueNumber(std::string_view text);

/// The shortest text of `value` with up to 15 significant digits, the locale's decimal
/// separator `decimalSeparator` in place of "." ("12.5" or "12,5"; "1E+16" from 1e16 on).
QString valueText(double value, const QString &decimalSeparator);

/// A typed value (the first character's code AND 15 is the data type code, the other
/// characters are its bytes, high byte first) decoded: numbers for 1 (byte), 2 (16-bit), 3
/// (signed 32-bit) and 4 (single); the bytes as text for 5, as hexadecimal for 6; empty text
/// for the other codes. A wrong length for 1 to 4 gives "Incorrect data length to decode
/// data type!".
std::variant<double, std::string> DecodeDPP(std::string_view data);

/// Each byte as two upper-case hexadecimal digits and a space: "0A 1B FF ".
QString CVStr2HEX(std::string_view data);

/// The link quality in percent from the signal (RSSI) and link-quality (CV) figures: (RSSI +
/// CV + 39) / 2 x 3.9, at most 100; it has no lower limit.
float linkQuality(int rssi, int cv);

/// Seconds from `start` to `now` on the seconds-since-midnight clock, across midnight.
double secondsSince(double start, double now);

/// The display's scale and number format, and the text it shows for a value.
///
/// `integerDigits` integer digits and `decimalPlaces` decimal places within a budget of
/// `totalDigits`. Formatting a value whose whole part is longer than the scale rescales it
/// (the budget grows by one digit per value while the whole part does not fit); so does the
/// first value after the decimal places were reset to 0 (a search, or a change of the
/// budget), unless the scale is the six-digit one.
class DisplayScale {
  public:
    std::int16_t totalDigits = 5;
    std::int16_t integerDigits = 0;
    std::int16_t decimalPlaces = 0;
    QString displayFormat;

    struct Result {
        /// The text for the display: its rightmost digit-cell count + 1 characters (the
        /// decimal point takes no cell).
        QString caption;
        /// The scale was set again: the chart follows it (full scale 2 x 10^integerDigits).
        bool rescaled = false;
    };

    /// The text for `value` in the number format of the scale, `decimalSeparator` as the
    /// point. `digits` is the display's digit-cell count: it grows to the whole part's length
    /// + 1 when it is shorter than that on a rescale, and to whatever the text needs when the
    /// text would otherwise lose its sign or a digit.
    Result format(double value, int &digits, const QString &decimalSeparator);

    /// Back to the start of a search: no digits, a budget of five.
    void reset();
};

/// Which of the buttons a rule wants enabled (true), disabled (false) or left as they are
/// (nothing).
struct ButtonStates {
    std::optional<bool> value;  ///< zero, gross, log and sleep
    std::optional<bool> digitsUp;
    std::optional<bool> digitsDown;
};

/// The rule that enables and disables the command buttons: with the lost-signal indicator
/// shown, or while searching, the value and decimal-place buttons are disabled; while a
/// module is followed the value buttons are enabled and, outside record mode, a decimal-place
/// button is enabled where the budget can move that way (one already enabled stays so).
ButtonStates buttonStates(bool lostSignalShown, std::int32_t followedTag, bool recordMode,
                          std::int16_t totalDigits);

}  // namespace lyx::viewer

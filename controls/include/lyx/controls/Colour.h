#pragma once

#include <QColor>
#include <QPalette>
#include <QtGlobal>

namespace lyx::controls {

/// A colour as the controls store and persist it: 0x00BBGGRR, red in the low byte.
/// A value with the top bit set (0x80000000 + index) names a system colour instead; it is
/// resolved through a palette (the application palette by default) when drawing.
using OleColor = quint32;

inline constexpr OleColor kSystemColourFlag = 0x80000000u;

/// System colours by index, as used in the controls' defaults.
namespace SystemColour {
inline constexpr OleColor ButtonFace = 0x8000000Fu;   ///< face of push buttons
inline constexpr OleColor ThreeDLight = 0x80000016u;  ///< light edge of 3-D elements
}  // namespace SystemColour

constexpr bool isSystemColour(OleColor colour) {
    return (colour & kSystemColourFlag) != 0;
}

constexpr OleColor rgbColour(int red, int green, int blue) {
    return OleColor(red & 0xFF) | (OleColor(green & 0xFF) << 8) | (OleColor(blue & 0xFF) << 16);
}

/// Turns a stored colour into a QColor; system colours are looked up in `palette`.
/// An unknown system colour index gives the palette's window colour.
QColor toQColor(OleColor colour, const QPalette &palette);

/// As above, with the application palette.
QColor toQColor(OleColor colour);

/// The stored form of an opaque colour (alpha is dropped).
OleColor fromQColor(const QColor &colour);

}  // namespace lyx::controls

#pragma once

#include "lyx/controls/Colour.h"

#include <array>

class QObject;

namespace lyx::controls::eLCDModule {

/// One row of the colour-scheme table.
struct SchemeColours {
    OleColor back;  ///< BackColor
    OleColor off;   ///< OffColor (unlit)
    OleColor on;    ///< OnColor (lit)
};

inline constexpr int kSchemeCount = 5;

/// The five colour schemes; scheme n (1 to 5) is row n - 1. The table is a constant, filled at
/// compile time, so it needs no initialisation and is safe to read from anywhere.
constexpr std::array<SchemeColours, kSchemeCount> kSchemes{{
    {10532502, 9546629, 0},   // grey-green LCD, black segments
    {14731911, 14336114, 0},  // light blue LCD, black segments
    {12632256, 11776947, 0},  // grey LCD, black segments
    {65557, 64, 255},         // red light on near-black
    {795916, 16384, 65280},   // green light on dark green
}};

/// Sets `name` ("BackColor", "OnColor" or "OffColor") on `control` through its Qt property of
/// that name. Returns false, changing nothing, when the control has no such writable property.
bool setColourProperty(QObject *control, const char *name, OleColor colour);

/// Sets BackColor, then OffColor, then OnColor of `control` from the 0-based `row`, each by
/// property name, so that it works with every LCD control. A row outside the table does
/// nothing and returns false.
bool ApplyScheme(int row, QObject *control);

}  // namespace lyx::controls::eLCDModule

#pragma once

// The texts of the module list, without widgets: one row per tag heard, its columns, and how
// each cell reads. The list's window shows them; they are tested directly.

#include "DisplayRules.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <string_view>

namespace lyx::viewer {

/// The columns of the module list, in their order.
enum class ModuleColumn {
    Tag,
    Name,
    Value,
    Unit,
    Rate,
    Quality,
    Battery,
    Error,
    LastHeard,
    Station,
};
inline constexpr int kModuleColumns = 10;

/// The column's title: "Tag", "Name", "Value", "Unit", "Packets/s", "LQI (%)", "Battery",
/// "Error", "Last heard", "Station".
QString moduleColumnTitle(ModuleColumn column);

/// Whether the column holds numbers (shown right-aligned).
bool isNumericColumn(ModuleColumn column);

/// A tag as four upper-case hexadecimal digits ("04D2"); more when it needs more.
QString tagText(int tag);

/// How long ago a module was heard: "now" within the first second, then "12 s", "5 min",
/// "3 h" (whole units, rounded down). A module no longer heard reads "Lost Signal" followed
/// by that time in brackets: "Lost Signal (12 s)".
QString lastHeardText(std::chrono::milliseconds age, bool lost);

/// Packets per second with one decimal, `decimalSeparator` as the point ("15.0", "0,5").
QString rateText(double perSecond, const QString &decimalSeparator);

/// The link quality of the display's bar (`linkQuality`) as a whole percent within 0 to 100.
QString qualityText(int rssi, int cv);

/// A module's value as the main display would show it: numbers in the display's number
/// format on a scale of the module's own (a 117-character record as the signed 32-bit number
/// of its first four bytes, on the record scale), without the display's padding; "binary"
/// for anything that is not a number. Like the display, the scale follows the values: it is
/// set by the first value and grows when a whole part does not fit.
class ModuleValueFormat {
  public:
    /// The text for `value` (the component's value text) within a digit budget of `budget`
    /// (the display's, 2 to 5); a new budget starts the scale afresh.
    QString format(std::string_view value, std::int16_t budget, const QString &decimalSeparator);
    /// The number the text holds, for sorting; nothing for "binary".
    static std::optional<double> number(std::string_view value);

  private:
    DisplayScale scale_;
    int digits_ = 6;
    std::int16_t budget_ = -1;
    bool record_ = false;
};

}  // namespace lyx::viewer

#pragma once

#include <QAccessible>

class QWidget;

namespace lyx::controls {
class HostedControl;
class eLCDBar;
}  // namespace lyx::controls

namespace lyx::viewer::accessibility {

/// Makes the LCD controls and the image button readable by screen readers and desktop test
/// tools (AT-SPI): each gets a role, a name and a description, its state and, for the bar,
/// its value. Call once, after the application object exists.
///
/// - ImageButton: push button; name = accessibleName(), description = the tooltip; disabled
///   while its own `Enabled` is false; the press action raises its Click.
/// - eLCD: label; name = the caption without leading and trailing blanks.
/// - eLCDText: label, name = the caption; or, when given a role with `setRole`, a check box
///   (checked = State) or a push button (the press action raises its Click).
/// - eLCDBar: progress bar with the value Percent, 0 to 100, as the number it holds.
/// - The main window and the module list's window: frames named by their titles.
/// Descriptions of the LCD controls are their accessibleDescription().
void install();

/// Gives an eLCDText another role than label: QAccessible::CheckBox or QAccessible::Button.
void setRole(QWidget *control, QAccessible::Role role);

/// Keeps what assistive tools know of `control` current: a new caption, state or enabled
/// state is announced when it changes.
void watch(controls::HostedControl *control);

/// Announces the bar's new value (its Percent is not reported as a property change).
void valueChanged(controls::eLCDBar *bar);

/// The bar's Percent as the number it holds in decimal, 76.05 for a single 76.05 (not
/// 76.0500030517578).
double reportedPercent(const controls::eLCDBar &bar);

}  // namespace lyx::viewer::accessibility

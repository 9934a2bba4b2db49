#pragma once

#include "lyx/controls/Picture.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <array>

namespace lyx::controls {
class ImageButton;
}

namespace lyx::controls::art {

/// The viewer's command buttons.
enum class ButtonIcon {
    Search,      ///< search for modules
    Pair,        ///< pair with a module
    Sleep,       ///< send modules to sleep
    Wake,        ///< wake modules
    Zero,        ///< zero the value
    Gross,       ///< revert to the gross value
    Log,         ///< start logging
    StopLog,     ///< stop logging
    ViewLog,     ///< open the log file
    DigitsUp,    ///< one more decimal place
    DigitsDown,  ///< one decimal place less
    Modules,     ///< the list of every module heard
};

inline constexpr std::array<ButtonIcon, 12> kAllIcons{
    ButtonIcon::Search,  ButtonIcon::Pair,     ButtonIcon::Sleep,      ButtonIcon::Wake,
    ButtonIcon::Zero,    ButtonIcon::Gross,    ButtonIcon::Log,        ButtonIcon::StopLog,
    ButtonIcon::ViewLog, ButtonIcon::DigitsUp, ButtonIcon::DigitsDown, ButtonIcon::Modules};

/// The four pictures of a button.
enum class ButtonState { Normal, Hover, Down, Disabled };

inline constexpr std::array<ButtonState, 4> kAllStates{ButtonState::Normal, ButtonState::Hover,
                                                       ButtonState::Down, ButtonState::Disabled};

/// Short lower-case names ("search", "stop-log", ...; "normal", "hover", "down", "disabled"),
/// used for file names.
QString iconName(ButtonIcon icon);
QString stateName(ButtonState state);

/// Paints one button picture, `size` pixels large, with a transparent outside.
QImage paintButton(ButtonIcon icon, ButtonState state, QSize size);

/// Gives `button` the four pictures of `icon` in `size`.
void applyButtonArt(ImageButton &button, ButtonIcon icon, QSize size);

}  // namespace lyx::controls::art

#pragma once

#include "lyx/controls/ImageButton.h"

namespace lyx::viewer {

/// Sets an image button's Enabled only when it differs: setting it always shows the normal
/// picture again, which would wipe the hover picture of a button already in that state.
inline void enableButton(controls::ImageButton *button, bool on) {
    if (button->buttonEnabled() != on) button->setButtonEnabled(on);
}

}  // namespace lyx::viewer

#include "lyx/controls/HostedControl.h"

namespace lyx::controls {

HostedControl::HostedControl(QWidget *parent) : QFrame(parent) {}

}  // namespace lyx::controls

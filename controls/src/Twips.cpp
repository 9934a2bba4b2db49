#include "lyx/controls/Twips.h"

#include <QPaintDevice>

#include <cmath>

namespace lyx::controls::twips {

double toPixelsX(const QPaintDevice &device, double twips) {
    return twips * device.logicalDpiX() / kPerInch;
}

double toPixelsY(const QPaintDevice &device, double twips) {
    return twips * device.logicalDpiY() / kPerInch;
}

double fromPixelsX(const QPaintDevice &device, double pixels) {
    return pixels * kPerInch / device.logicalDpiX();
}

double fromPixelsY(const QPaintDevice &device, double pixels) {
    return pixels * kPerInch / device.logicalDpiY();
}

int wholePixelsX(const QPaintDevice &device, double twips) {
    return int(std::lround(toPixelsX(device, twips)));
}

int wholePixelsY(const QPaintDevice &device, double twips) {
    return int(std::lround(toPixelsY(device, twips)));
}

}  // namespace lyx::controls::twips

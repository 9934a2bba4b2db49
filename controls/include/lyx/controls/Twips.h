#pragma once

class QPaintDevice;

namespace lyx::controls::twips {

/// Twips are the controls' coordinate unit: 1440 per inch. Pixels per inch come from the
/// device's logical DPI, so at 96 DPI one pixel is 15 twips.
inline constexpr int kPerInch = 1440;

double toPixelsX(const QPaintDevice &device, double twips);
double toPixelsY(const QPaintDevice &device, double twips);
double fromPixelsX(const QPaintDevice &device, double pixels);
double fromPixelsY(const QPaintDevice &device, double pixels);

/// Whole pixels for a length in twips, rounded to the nearest.
int wholePixelsX(const QPaintDevice &device, double twips);
int wholePixelsY(const QPaintDevice &device, double twips);

}  // namespace lyx::controls::twips

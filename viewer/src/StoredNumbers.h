#pragma once

#include <QString>

namespace lyx::viewer {

/// A number as config.ini stores it: the shortest decimal text of the single-precision value
/// ("12000", "6495", "-15", "0.5"), "." as the decimal point whatever the locale.
QString storedNumberText(double value);

/// A stored number read back: the number at the start of the text (blanks before it and
/// anything after it ignored), 0 when there is none. Values beyond +-1e6 are held at that
/// limit, so that a damaged file cannot put a window out of any screen's reach.
double storedNumberValue(const QString &text);

}  // namespace lyx::viewer

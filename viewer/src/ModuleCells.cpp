#include "ModuleCells.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <variant>

namespace lyx::viewer {

namespace {

constexpr std::size_t kRecordLength = 117;
constexpr std::int16_t kRecordBudget = 8;
constexpr int kRecordDigits = 9;
constexpr int kDisplayDigits = 6;

QString text(const char *latin1) {
    return QString::fromLatin1(latin1);
}

}  // namespace

QString moduleColumnTitle(ModuleColumn column) {
    switch (column) {
        case ModuleColumn::Tag:
            return text("Tag");
        case ModuleColumn::Name:
            return text("Name");
        case ModuleColumn::Value:
            return text("Value");
        case ModuleColumn::Unit:
            return text("Unit");
        case ModuleColumn::Rate:
            return text("Packets/s");
        case ModuleColumn::Quality:
            return text("LQI (%)");
        case ModuleColumn::Battery:
            return text("Battery");
        case ModuleColumn::Error:
            return text("Error");
        case ModuleColumn::LastHeard:
            return text("Last heard");
        case ModuleColumn::Station:
            return text("Station");
    }
    return {};
}

bool isNumericColumn(ModuleColumn column) {
    return column == ModuleColumn::Value || column == ModuleColumn::Rate ||
           column == ModuleColumn::Quality || column == ModuleColumn::Station;
}

QString tagText(int tag) {
    return QStringLiteral("%1").arg(static_cast<quint32>(tag), 4, 16, QLatin1Char('0')).toUpper();
}

QString lastHeardText(std::chrono::milliseconds age, bool lost) {
    using namespace std::chrono;
    const auto s = duration_cast<seconds>(std::max(age, milliseconds(0))).count();
    QString ago;
    if (s < 1) {
        ago = text("now");
    } else if (s < 60) {
        ago = QStringLiteral("%1 s").arg(s);
    } else if (s < 3600) {
        ago = QStringLiteral("%1 min").arg(s / 60);
    } else {
        ago = QStringLiteral("%1 h").arg(s / 3600);
    }
    return lost ? QStringLiteral("Lost Signal (%1)").arg(ago) : ago;
}

QString rateText(double perSecond, const QString &decimalSeparator) {
    QString t = QString::number(std::max(0.0, perSecond), 'f', 1);
    t.replace(QLatin1Char('.'), decimalSeparator);
    return t;
}

QString qualityText(int rssi, int cv) {
    const float q = std::clamp(linkQuality(rssi, cv), 0.0f, 100.0f);
    return QString::number(int(std::lround(q)));
}

std::optional<double> ModuleValueFormat::number(std::string_view value) {
    if (value.size() == kRecordLength) {
        const auto decoded = DecodeDPP(std::string(1, '\x03') + std::string(value.substr(0, 4)));
        return std::get<double>(decoded);
    }
    return parseValueNumber(value);
}

QString ModuleValueFormat::format(std::string_view value, std::int16_t budget,
                                  const QString &decimalSeparator) {
    const std::optional<double> n = number(value);
    if (!n) return text("binary");
    const bool record = value.size() == kRecordLength;
    const std::int16_t wanted = record ? kRecordBudget : budget;
    if (wanted != budget_ || record != record_) {
        // As a search does: the scale is set again by the next value.
        scale_.reset();
        scale_.totalDigits = wanted;
        digits_ = record ? kRecordDigits : kDisplayDigits;
        budget_ = wanted;
        record_ = record;
    }
    QString caption = scale_.format(*n, digits_, decimalSeparator).caption.trimmed();
    // The display draws a point with no decimals after it between two cells; a list shows
    // the whole number alone.
    if (caption.endsWith(decimalSeparator)) caption.chop(decimalSeparator.size());
    return caption;
}

}  // namespace lyx::viewer

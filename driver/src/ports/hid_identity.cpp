// Reading a base station's slot and revision from its HID identity.

#include <cctype>
#include <cstdio>
#include <string>

#include "ports/hid_bus.hpp"

namespace lyx::drv {

namespace {

// The leading number of a text, as the conversion the devices were made for
// reads it: blanks skipped, an optional sign, digits, an optional fraction;
// anything else ends the number, and a text without one reads as 0.
double leadingNumber(const std::string &text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    double sign = 1;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) sign = text[i++] == '-' ? -1 : 1;
    double value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        value = value * 10 + (text[i++] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value += (text[i] - '0') * scale;
            scale /= 10;
        }
    }
    return sign * value;
}

}  // namespace

int slotFromSerial(const std::wstring &serial) {
    std::string text;
    for (wchar_t c : serial) {
        if (c == 0) break;
        text.push_back(static_cast<char>(static_cast<unsigned>(c) & 0xFFu));
    }
    double number = leadingNumber(text);
    if (number < -1000 || number > 1000) return -1;
    // Only whole numbers name a slot; anything else is out of range.
    if (number != static_cast<double>(static_cast<int>(number))) return -1;
    return static_cast<int>(number);
}

float revisionFromRelease(std::uint16_t release) {
    char text[16];
    std::snprintf(text, sizeof text, "%X.%X", release >> 8, release & 0xFFu);
    return static_cast<float>(leadingNumber(text));
}

}  // namespace lyx::drv

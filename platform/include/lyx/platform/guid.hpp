// Class, interface and type library identifiers: 128-bit GUIDs written as
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LyxPlatform.h"

namespace lyx::platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend constexpr bool operator==(const Guid &, const Guid &) = default;
};

namespace detail {
constexpr int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace detail

// Reads a GUID with or without its braces, in either case; nullopt when the
// text is not one.
constexpr std::optional<Guid> parseGuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        if (text[at] == '-') ++at;
        int high = detail::hexDigit(text[at]);
        int low = detail::hexDigit(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
        at += 2;
    }
    Guid g;
    g.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | bytes[3];
    g.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (std::size_t i = 0; i < 8; ++i)
        g.data4[i] = bytes[8 + i];
    return g;
}

// A GUID from a literal, checked at compile time.
consteval Guid guid(std::string_view text) {
    auto parsed = parseGuid(text);
    if (!parsed) throw "not a GUID";  // makes the constant expression fail
    return *parsed;
}

// "{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}": upper case, with braces.
LYX_PLATFORM_API std::string toString(const Guid &id);

}  // namespace lyx::platform

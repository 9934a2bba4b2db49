#include "SegmentTable.h"

#include <array>
#include <string_view>

namespace lyx::controls::detail {

namespace {

struct Glyph {
    char16_t character;
    std::uint8_t mask;
};

// A pattern has one flag per segment, segment 0 first: "1" lit, "0" unlit.
constexpr std::uint8_t mask(std::string_view pattern) {
    std::uint8_t m = 0;
    for (std::size_t j = 0; j < pattern.size(); ++j)
        if (pattern[j] == '1') m = std::uint8_t(m | (1u << j));
    return m;
}

constexpr std::array<Glyph, 45> kGlyphs{{
    {u'0', mask("1110111")}, {u'1', mask("0010001")}, {u'2', mask("0111110")},
    {u'3', mask("0111011")}, {u'4', mask("1011001")}, {u'5', mask("1101011")},
    {u'6', mask("1101111")}, {u'7', mask("0110001")}, {u'8', mask("1111111")},
    {u'9', mask("1111001")}, {u'-', mask("0001000")}, {u'?', mask("0111100")},
    {u'A', mask("1111101")}, {u'B', mask("1001111")}, {u'C', mask("0001110")},
    {u'D', mask("0011111")}, {u'E', mask("1101110")}, {u'F', mask("1101100")},
    {u'G', mask("1111011")}, {u'H', mask("1011101")}, {u'I', mask("0000001")},
    {u'J', mask("0010011")}, {u'K', mask("1001110")}, {u'L', mask("1000110")},
    {u'N', mask("0001101")}, {u'O', mask("0001111")}, {u'P', mask("1111100")},
    {u'Q', mask("1111001")}, {u'R', mask("0001100")}, {u'S', mask("1101011")},
    {u'T', mask("1001110")}, {u'U', mask("0000111")}, {u'V', mask("0000111")},
    {u'X', mask("1011101")}, {u'Y', mask("1011011")}, {u'Z', mask("0111110")},
    {u'=', mask("0001010")}, {u'^', mask("1110101")}, {u'>', mask("0000011")},
    {u'<', mask("0000110")}, {u'{', mask("1100110")}, {u'[', mask("1100110")},
    {u'}', mask("0110011")}, {u']', mask("0110011")}, {u' ', mask("0000000")},
}};

}  // namespace

std::uint8_t segmentMask(QChar c) {
    const char16_t u = c.toUpper().unicode();
    for (const Glyph &g : kGlyphs)
        if (g.character == u) return g.mask;
    return 0;
}

}  // namespace lyx::controls::detail

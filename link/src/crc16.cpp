// Table-driven CRC, eight bytes per step ("slicing by eight"): the synchroniser
// checks a candidate frame at every position of a stream that keeps looking like
// one, so this is the hot path of the receive side.

#include "lyx/link/crc16.hpp"

#include <array>
#include <cstring>

namespace lyx::link {
namespace {

constexpr std::uint16_t kPolynomial = 0xA001;

using Tables = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables t{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint16_t crc = static_cast<std::uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ kPolynomial)
                             : static_cast<std::uint16_t>(crc >> 1);
        }
        t[0][n] = crc;
    }
    for (unsigned n = 0; n < 256; ++n) {
        for (int k = 1; k < 8; ++k) {
            std::uint16_t prev = t[k - 1][n];
            t[k][n] = static_cast<std::uint16_t>((prev >> 8) ^ t[0][prev & 0xFFu]);
        }
    }
    return t;
}

constexpr Tables kTables = makeTables();

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
    const std::uint8_t *p = bytes.data();
    std::size_t n = bytes.size();
    while (n >= 8) {
        std::uint8_t b0 = static_cast<std::uint8_t>(p[0] ^ (crc & 0xFFu));
        std::uint8_t b1 = static_cast<std::uint8_t>(p[1] ^ (crc >> 8));
        crc = static_cast<std::uint16_t>(kTables[7][b0] ^ kTables[6][b1] ^ kTables[5][p[2]] ^
                                         kTables[4][p[3]] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^
                                         kTables[1][p[6]] ^ kTables[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n-- > 0) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFFu]);
    }
    return crc;
}

}  // namespace lyx::link

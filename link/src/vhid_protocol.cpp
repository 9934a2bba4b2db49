#include "lyx/link/vhid_protocol.hpp"

#include <charconv>
#include <cstdio>

namespace lyx::vhid {

std::string formatIdentity(const Identity &identity) {
    char head[64];
    std::snprintf(head, sizeof head, "vid=%04x pid=%04x release=%04x serial=", identity.vendor,
                  identity.product, identity.release);
    return head + identity.serial;
}

namespace {

// Reads "<key>=<hex>" at `pos`, followed by a blank; advances `pos`.
bool readHexField(std::string_view message, std::size_t &pos, std::string_view key,
                  std::uint16_t &value) {
    if (message.substr(pos, key.size()) != key || pos + key.size() >= message.size() ||
        message[pos + key.size()] != '=') {
        return false;
    }
    pos += key.size() + 1;
    const char *begin = message.data() + pos;
    const char *end = message.data() + message.size();
    auto [next, ec] = std::from_chars(begin, end, value, 16);
    if (ec != std::errc{} || next == begin || next == end || *next != ' ') return false;
    pos += static_cast<std::size_t>(next - begin) + 1;
    return true;
}

}  // namespace

std::optional<Identity> parseIdentity(std::string_view message) {
    Identity identity;
    std::size_t pos = 0;
    if (!readHexField(message, pos, "vid", identity.vendor) ||
        !readHexField(message, pos, "pid", identity.product) ||
        !readHexField(message, pos, "release", identity.release)) {
        return std::nullopt;
    }
    constexpr std::string_view kSerial = "serial=";
    if (message.substr(pos, kSerial.size()) != kSerial) return std::nullopt;
    identity.serial = std::string(message.substr(pos + kSerial.size()));
    return identity;
}

std::wstring utf8ToWide(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        int extra = c < 0x80           ? 0
                    : (c >> 5) == 0x6  ? 1
                    : (c >> 4) == 0xE  ? 2
                    : (c >> 3) == 0x1E ? 3
                                       : -1;
        bool truncated = extra > 0 && i + static_cast<std::size_t>(extra) >= text.size();
        if (extra < 0 || truncated) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        std::uint32_t code = extra == 0 ? c : c & (0x3Fu >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            auto d = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80) ok = false;
            code = (code << 6) | (d & 0x3Fu);
        }
        out.push_back(ok ? static_cast<wchar_t>(code) : wchar_t{0xFFFD});
        i += ok ? static_cast<std::size_t>(extra) + 1 : 1;
    }
    return out;
}

bool isDeviceSocketName(std::string_view name) {
    return name.size() > kSocketSuffix.size() &&
           name.substr(name.size() - kSocketSuffix.size()) == kSocketSuffix;
}

}  // namespace lyx::vhid

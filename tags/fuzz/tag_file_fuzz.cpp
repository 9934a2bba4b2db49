// libFuzzer target for the tag file's parser: arbitrary bytes as a tag file. A file that
// reads must keep its promises (tags in range, names and units without control characters
// and within their lengths, timeouts within their range); a refused one must name a line of
// the text. Out-of-bounds reads are the sanitizer's.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lyx/tags/tag_file.hpp"

namespace {

bool clean(std::string_view s, std::size_t longest) {
    return s.size() <= longest && std::none_of(s.begin(), s.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u < 0x20 || u == 0x7F;
           });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    try {
        const auto names = lyx::tags::parseTagFile(text, "fuzz.ini");
        for (const auto &[tag, info] : names) {
            if (tag < 0 || tag > 65534 || !clean(info.name, 100) || !clean(info.unit, 32))
                std::abort();
            if (info.timeout && (info.timeout->count() < 100 || info.timeout->count() > 604800000))
                std::abort();
            if (info.module && (*info.module < 0 || *info.module > 0xFFFFFE)) std::abort();
        }
    } catch (const lyx::tags::TagFileError &e) {
        const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        if (e.line() < 0 || e.line() > lines || e.problem().empty()) std::abort();
    }
    return 0;
}

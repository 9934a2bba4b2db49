// Byte strings: a 32-bit length, the bytes, two terminating zero bytes.

#include <cstdlib>
#include <cstring>

#include "LyxPlatform.h"

namespace {
constexpr std::size_t kHeader = sizeof(uint32_t);
constexpr std::size_t kTrailer = 2;
}  // namespace

extern "C" LyxBStr SysAllocStringByteLen(const void *bytes, uint32_t length) {
    auto *block = static_cast<uint8_t *>(std::malloc(kHeader + std::size_t{length} + kTrailer));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &length, kHeader);
    uint8_t *content = block + kHeader;
    if (bytes != nullptr && length != 0) {
        std::memcpy(content, bytes, length);
    } else {
        std::memset(content, 0, length);
    }
    content[length] = 0;
    content[length + 1] = 0;
    return content;
}

extern "C" uint32_t SysStringByteLen(LyxBStr s) {
    if (s == nullptr) return 0;
    uint32_t length;
    std::memcpy(&length, s - kHeader, kHeader);
    return length;
}

extern "C" void SysFreeString(LyxBStr s) {
    if (s != nullptr) std::free(s - kHeader);
}

// DataProvider: decoding the block of a store-and-forward module: ten signed
// 32-bit readings and a 16-bit timestamp, high byte first, one byte per
// character.

#include <cmath>

#include "data_provider.hpp"
#include "encode_decode.hpp"

namespace lyx::dataprovider {

namespace {
constexpr int kReadings = 10;
constexpr std::size_t kTimestampOffset = 40;

// Up to `count` characters from `offset`; fewer (or none) where the block is short.
std::string_view slice(std::string_view data, std::size_t offset, std::size_t count) {
    return offset < data.size() ? data.substr(offset, count) : std::string_view();
}
}  // namespace

void DataProvider::DecodeRLX(std::string &Data, std::int32_t &Timestamp,
                             platform::FloatArray &Values) {
    // An empty array is given the indexes 1 to 10; any other array must have
    // them all, rather than being written past its bounds.
    if (Values.items.empty()) {
        Values.lowerBound = 1;
        Values.items.assign(kReadings, 0.0f);
    } else if (!Values.contains(1) || !Values.contains(kReadings)) {
        throw platform::AutomationError(platform::errors::kSubscriptOutOfRange,
                                        "DecodeRLX: Values must have the indexes 1 to 10");
    }
    for (int i = 1; i <= kReadings; ++i) {
        Values.at(i) =
            EncodeDecode::BytesToSingle(slice(Data, 4 * static_cast<std::size_t>(i - 1), 4));
    }
    std::string stamp(2, '\0');
    stamp += slice(Data, kTimestampOffset, 2);
    Timestamp = static_cast<std::int32_t>(std::nearbyint(EncodeDecode::BytesToSingle(stamp)));
}

}  // namespace lyx::dataprovider

// The last-value store of a DataProvider object: nine tables indexed directly
// by data tag (0 to 65535), so that a packet is stored and read back without
// searching. All entries are zero or empty when the store is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lyx::dataprovider {

inline constexpr std::size_t kTagCount = 65536;

template <class T>
class TagTable {
  public:
    T &operator[](std::uint16_t tag) { return items_[tag]; }
    const T &operator[](std::uint16_t tag) const { return items_[tag]; }

  private:
    std::unique_ptr<T[]> items_{new T[kTagCount]()};
};

// A tag's value text: nothing allocated until the tag first has a value, and
// the text's storage reused by later values.
class ValueText {
  public:
    std::string_view view() const { return text_ ? std::string_view(*text_) : std::string_view(); }
    void assign(std::string_view text) {
        if (!text_) {
            if (text.empty()) return;
            text_ = std::make_unique<std::string>();
        }
        text_->assign(text);
    }

  private:
    std::unique_ptr<std::string> text_;
};

struct LastValueStore {
    TagTable<ValueText> mValue;
    TagTable<std::uint8_t> mBaseStation;
    TagTable<std::uint8_t> mStatus;
    TagTable<std::int16_t> mRSSI;
    TagTable<std::int16_t> mCV;
    TagTable<bool> mBattLow;
    TagTable<bool> mError;
    TagTable<double> mArrival;        // tick count in milliseconds
    TagTable<double> mStayAwakeSent;  // tick count in milliseconds

    // Empties tags 1 to 65535; tag 0 and mBaseStation keep their content.
    void clearTags() {
        for (std::size_t tag = 1; tag < kTagCount; ++tag) {
            const auto t = static_cast<std::uint16_t>(tag);
            mValue[t].assign({});
            mStatus[t] = 0;
            mRSSI[t] = 0;
            mCV[t] = 0;
            mBattLow[t] = false;
            mError[t] = false;
            mArrival[t] = 0;
            mStayAwakeSent[t] = 0;
        }
    }
};

}  // namespace lyx::dataprovider

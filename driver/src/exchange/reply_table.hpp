// Which reply frames a command waits for.
#pragma once

#include <cstdint>
#include <span>

#include "lyx/link/frame.hpp"

namespace lyx::drv {

struct ReplyRule {
    link::Bytes codes;    // type codes accepted as the reply; empty: nothing awaited
    link::Bytes address;  // payload bytes 1..3 the reply must repeat; empty: any
    bool matchAddress = false;
};

// The rule for a command payload, by its first byte compared as a whole byte.
ReplyRule replyRuleFor(std::span<const std::uint8_t> payload);

}  // namespace lyx::drv

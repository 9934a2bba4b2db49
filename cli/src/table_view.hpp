// The live table of `lyx table`: one line per tag heard, its last reading, age, packets per
// second and link figures, rendered as text from the shared table of tags.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lyx/tags/tag_table.hpp"
#include "packet.hpp"

namespace lyx::cli {

// The reading the table of tags keeps of a packet.
tags::Reading readingOf(const Packet &p);

// Names tags from --name words "TAG=NAME"; raises UsageError for a word of another form.
void nameTags(tags::TagTable &table, const std::vector<std::string> &words);

// The table as lines of at most `width` characters, a header first; with `ansi`, rows no
// longer heard (stale) are dimmed. Numbers are right-aligned. A narrower width drops the
// least important columns first (status, CV, RSSI, station, flags, packets per second),
// keeping tag, name (when a tag has one), value, age and state.
std::string renderTable(const tags::TagTable &table, tags::TagTable::Clock::time_point now,
                        std::size_t width, bool ansi);

}  // namespace lyx::cli

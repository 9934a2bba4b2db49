// Private profile files: INI files of [sections] with key=value lines.
// Section and key names match without regard to case; a missing or empty
// value reads as the default. Each write is one step: a new file in the same
// folder, written whole and synced, renamed over the old one and the folder
// synced, so a reader never sees half a file and a crash or a full disk leaves
// the old file whole. Writers of one folder take turns (an advisory lock on
// the folder), so two processes writing at once both get their change in. A
// file that is a symbolic link is written through the link: its target is
// replaced and the link stays.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LyxPlatform.h"

namespace lyx::platform {

// The value of `key` in `section`, or `defaultValue` when it is missing or empty.
LYX_PLATFORM_API std::string getPrivateProfileString(std::string_view section, std::string_view key,
                                                     std::string_view defaultValue,
                                                     const std::string &file);

// Sets `key` to `value`; no value removes the key, no key removes the whole
// section. Creates the file and its folder. False when the file cannot be
// written, exists but cannot be read (it is left as it is), or a name or value
// holds a line break (or a name a bracket or "=").
LYX_PLATFORM_API bool writePrivateProfileString(std::string_view section,
                                                std::optional<std::string_view> key,
                                                std::optional<std::string_view> value,
                                                const std::string &file);

using ProfileEntries = std::vector<std::pair<std::string, std::string>>;

// Replaces the whole section with `entries` (in their order), in its old place
// or appended; no entries removes the section. One write, as above. False as
// for writePrivateProfileString.
LYX_PLATFORM_API bool writePrivateProfileSection(std::string_view section,
                                                 const std::optional<ProfileEntries> &entries,
                                                 const std::string &file);

// The section names in file order.
LYX_PLATFORM_API std::vector<std::string> getPrivateProfileSectionNames(const std::string &file);

}  // namespace lyx::platform

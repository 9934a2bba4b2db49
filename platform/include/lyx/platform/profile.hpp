// Private profile files: INI files of [sections] with key=value lines.
// Section and key names match without regard to case; a missing or empty
// value reads as the default. Writes replace the file as a whole (a new file
// renamed over the old), so a reader never sees half a file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
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

// The section names in file order.
LYX_PLATFORM_API std::vector<std::string> getPrivateProfileSectionNames(const std::string &file);

}  // namespace lyx::platform

// The tag file: what a user says of each data tag, in INI form, read by every program that
// shows or forwards the network (lyx monitor, log, table and mqtt, the viewer).
//
//   # Load cell on the crane (comments start with # or ;)
//   [1234]                   the tag, decimal or hexadecimal with 0x
//   name = Crane load
//   unit = kg
//   device_class = weight    for Home Assistant: lower-case letters, digits and _
//   state_class = measurement   measurement, total or total_increasing
//   timeout = 30s            silence after which the module counts as gone (ms, s, min, h)
//   module = 0x0A0B0C        the module's ID, so that it can be woken by itself
//
// Keys are matched without regard to case; a value may be put in double quotes to keep
// blanks at its ends. Anything else (an unknown key, a repeated tag or key, a value out of
// range, text that is not UTF-8) is an error that names the file and the line.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "lyx/tags/tag_table.hpp"

namespace lyx::tags {

/// A tag file that cannot be used. what() reads "FILE:LINE: problem", or "FILE: problem"
/// when the fault is the whole file's (line 0).
class TagFileError : public std::runtime_error {
  public:
    TagFileError(std::string file, int line, std::string problem);
    const std::string &file() const { return file_; }
    int line() const { return line_; }
    const std::string &problem() const { return problem_; }

  private:
    std::string file_;
    int line_;
    std::string problem_;
};

/// What the file says, by tag.
using TagNames = std::map<int, TagInfo>;

/// The largest tag file read, in bytes.
inline constexpr std::size_t kLargestTagFile = 1024 * 1024;

/// Reads the text of a tag file; `file` names it in errors. Raises TagFileError.
TagNames parseTagFile(std::string_view text, const std::string &file);

/// Reads the tag file at `path`. Raises TagFileError when it cannot be read or is malformed.
TagNames readTagFile(const std::string &path);

/// Where the tag file is looked for when none is named:
/// ${XDG_CONFIG_HOME:-~/.config}/lyx/tags.ini. Empty when neither variable gives a folder.
std::string defaultTagFile();

struct LoadedTags {
    std::string path;  ///< the file read; empty when there was none
    TagNames names;
};

/// The file `given` (which must exist), or else the default file if there is one; a missing
/// default file is no error. Raises TagFileError.
LoadedTags loadTagFile(const std::optional<std::string> &given);

/// Gives every tag of `names` its name and unit in `table`.
void describeAll(TagTable &table, const TagNames &names);

}  // namespace lyx::tags

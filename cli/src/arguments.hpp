// Command-line arguments of one subcommand: its options, declared up front, and
// its positional words. Every fault in them is a UsageError, which the program
// reports in one line and ends with exit status 2.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lyx::cli {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string name;      // "--tag"
    std::string argument;  // "T", or empty for a flag
    std::string help;
    bool repeatable = false;
};

class Arguments {
  public:
    // Parses `words` (the words after the subcommand) against `options`;
    // "--name=value" and "--name value" are both accepted, "--" ends the
    // options. Raises UsageError for an unknown option, a missing value or a
    // repeated option that is not repeatable.
    Arguments(const std::vector<std::string> &words, const std::vector<OptionSpec> &options);

    bool has(std::string_view name) const;
    std::optional<std::string> value(std::string_view name) const;
    std::vector<std::string> values(std::string_view name) const;
    const std::vector<std::string> &positional() const { return positional_; }

    // Raises UsageError unless there are from `least` to `most` positional
    // words, `names` describing them ("TAG").
    void expectPositional(std::size_t least, std::size_t most, std::string_view names) const;
    // Raises UsageError unless there is one positional word for each of `names`, in
    // order; the message names only those missing ("missing TYPE and VALUE").
    void expectWords(std::initializer_list<std::string_view> names) const;

  private:
    std::map<std::string, std::vector<std::string>, std::less<>> given_;
    std::vector<std::string> positional_;
};

// Whole numbers, in decimal or with 0x in hexadecimal; `what` names the value in
// the message ("--tag", "TAG").
std::int64_t parseInteger(std::string_view text, std::int64_t least, std::int64_t most,
                          std::string_view what);
double parseNumber(std::string_view text, std::string_view what);
// "500ms", "2s", "10min", "1h", "1d"; a bare number is seconds.
double parseDuration(std::string_view text, std::string_view what);
// "4096", "64k", "10M", "2G" (powers of 1024).
std::uint64_t parseSize(std::string_view text, std::string_view what);
// Hexadecimal bytes, blanks, colons and a leading 0x allowed ("0A 1B", "0a1b").
std::string parseHexBytes(std::string_view text, std::string_view what);

}  // namespace lyx::cli

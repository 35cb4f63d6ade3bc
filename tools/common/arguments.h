// Command lines of the tools: positional arguments and options, written as
// "--name VALUE", "--name=VALUE", "-x VALUE" or "--flag", in any order;
// "--" ends the options. Every mistake is a UsageError that names it.
#ifndef VESMARA_TOOLS_COMMON_ARGUMENTS_H_
#define VESMARA_TOOLS_COMMON_ARGUMENTS_H_

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/command_error.h"

namespace vesmara::tools {

struct OptionRule {
  std::string_view name;        // without the leading "--"
  char short_name = 0;          // 0: none
  bool takes_value = false;     // false: a flag
  bool repeatable = false;      // may be given more than once
};

class ParsedArguments {
 public:
  const std::vector<std::string>& positionals() const { return positionals_; }
  bool has(std::string_view name) const { return values_.contains(std::string(name)); }
  // The value of an option given at most once, if given.
  std::optional<std::string> value(std::string_view name) const;
  // Every value of a repeatable option, in command-line order.
  std::vector<std::string> values(std::string_view name) const;

  // The positional arguments must number from `low` to `high`.
  void requirePositionals(std::size_t low, std::size_t high) const;

 private:
  friend ParsedArguments parseArguments(std::span<char* const>, std::span<const OptionRule>);
  std::vector<std::string> positionals_;
  std::map<std::string, std::vector<std::string>, std::less<>> values_;
};

// Parses `arguments` (the words after the command name). "--help" and "-h"
// are always known flags, stored as "help".
ParsedArguments parseArguments(std::span<char* const> arguments, std::span<const OptionRule> rules);

// parseArguments, except that when the words ask for --help, `help` is
// printed on standard output and the result is empty: the command then
// ends with success.
std::optional<ParsedArguments> parseCommandLine(std::span<char* const> arguments, std::span<const OptionRule> rules,
                                                std::string_view help);

// A whole decimal number from `low` to `high`, for the option `name`.
std::uint64_t parseNumberOption(std::string_view name, std::string_view text, std::uint64_t low, std::uint64_t high);

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_ARGUMENTS_H_

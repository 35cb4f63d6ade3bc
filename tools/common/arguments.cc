#include "common/arguments.h"

#include <charconv>
#include <cstdio>
#include <cstdint>

namespace vesmara::tools {
namespace {

constexpr OptionRule kHelp{.name = "help", .short_name = 'h'};

const OptionRule* findLong(std::span<const OptionRule> rules, std::string_view name) {
  if (name == kHelp.name) return &kHelp;
  for (const OptionRule& rule : rules) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

const OptionRule* findShort(std::span<const OptionRule> rules, char name) {
  if (name == kHelp.short_name) return &kHelp;
  for (const OptionRule& rule : rules) {
    if (rule.short_name != 0 && rule.short_name == name) return &rule;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> ParsedArguments::value(std::string_view name) const {
  const auto found = values_.find(name);
  if (found == values_.end() || found->second.empty()) return std::nullopt;
  return found->second.back();
}

std::vector<std::string> ParsedArguments::values(std::string_view name) const {
  const auto found = values_.find(name);
  return found == values_.end() ? std::vector<std::string>{} : found->second;
}

void ParsedArguments::requirePositionals(std::size_t low, std::size_t high) const {
  if (positionals_.size() < low) throw UsageError("missing argument");
  if (positionals_.size() > high) throw UsageError("unexpected argument '" + positionals_[high] + "'");
}

ParsedArguments parseArguments(std::span<char* const> arguments, std::span<const OptionRule> rules) {
  ParsedArguments parsed;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view word = arguments[i];
    if (options_ended || word == "-" || !word.starts_with('-')) {
      parsed.positionals_.emplace_back(word);
      continue;
    }
    if (word == "--") {
      options_ended = true;
      continue;
    }
    const OptionRule* rule = nullptr;
    std::optional<std::string> inline_value;
    std::string shown(word);
    if (word.starts_with("--")) {
      const std::string_view body = word.substr(2);
      const std::size_t equals = body.find('=');
      rule = findLong(rules, body.substr(0, equals));
      if (equals != std::string_view::npos) {
        inline_value = std::string(body.substr(equals + 1));
        shown = "--" + std::string(body.substr(0, equals));
      }
    } else if (word.size() == 2) {
      rule = findShort(rules, word[1]);
    }
    if (rule == nullptr) throw UsageError("unknown option '" + shown + "'");
    std::string value;
    if (rule->takes_value) {
      if (inline_value) {
        value = *inline_value;
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        throw UsageError("option '" + shown + "' needs a value");
      }
    } else if (inline_value) {
      throw UsageError("option '" + shown + "' takes no value");
    }
    std::vector<std::string>& slot = parsed.values_[std::string(rule->name)];
    if (!slot.empty() && !rule->repeatable && rule != &kHelp) {
      throw UsageError("option '--" + std::string(rule->name) + "' given twice");
    }
    slot.push_back(std::move(value));
  }
  return parsed;
}

std::optional<ParsedArguments> parseCommandLine(std::span<char* const> arguments, std::span<const OptionRule> rules,
                                                std::string_view help) {
  ParsedArguments parsed = parseArguments(arguments, rules);
  if (!parsed.has(kHelp.name)) return parsed;
  std::fwrite(help.data(), 1, help.size(), stdout);
  return std::nullopt;
}

std::uint64_t parseNumberOption(std::string_view name, std::string_view text, std::uint64_t low, std::uint64_t high) {
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || number < low || number > high) {
    throw UsageError("--" + std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high));
  }
  return number;
}

}  // namespace vesmara::tools

#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/option_values.h"
#include "app/synopsis_writer.h"
#include "util/result.h"

namespace boardmill::app {

// What follows an option word on the command line.
enum class ValueKind { kNone, kNumber, kPath, kWord };

// The usage forms an option shows in. Most commands have one; a second form shows a way of
// running the command that its own flag selects.
inline constexpr unsigned kFirstForm = 1;
inline constexpr unsigned kSecondForm = 2;

// One option of a command: its word, what follows it, how it changes the command line and where
// the usage text shows it.
template <typename CommandLine>
struct OptionRule {
  std::string_view name;
  ValueKind value;
  // `value` is null for a flag. False refuses the value.
  bool (*apply)(CommandLine& command_line, const char* value);
  UsagePlace place = UsagePlace::kInline;
  unsigned forms = kFirstForm;
  // What the usage text shows for the value instead of its kind's placeholder: the words a
  // kWord option takes, "none|exact|board".
  std::string_view shown_value = {};
};

// The fixed arguments after the command word, as the usage text shows them.
struct Operands {
  std::string_view usage;
  int count;
};

// All that a command accepts: its operands, then the options of its table in any order, each as
// often as wanted, the last one winning. Both the parser and the command's usage lines come from
// it, so an option is written down once.
template <typename CommandLine>
struct CommandGrammar {
  Operands operands;
  std::size_t continuation_indent;
  std::span<const OptionRule<CommandLine>> options;
};

// The placeholder the usage text shows for a value: "N", "PATH", or nothing for a flag.
std::string_view ValuePlaceholder(ValueKind value);

// The one-line reasons a command line is refused, naming the argument at fault.
util::Error UnknownWord(std::string_view word);
util::Error MissingValue(std::string_view option, ValueKind value);
util::Error MalformedValue(std::string_view option, ValueKind value, std::string_view text);

// Refuses argv when it lacks some of the operands of the command argv[1] names.
util::Result<void> CheckOperands(int argc, char** argv, const Operands& operands);

// The usage line of a command that takes operands only.
std::string Synopsis(std::string_view command, const Operands& operands);

template <typename CommandLine>
const OptionRule<CommandLine>* FindOption(std::span<const OptionRule<CommandLine>> options,
                                          std::string_view word) {
  for (const OptionRule<CommandLine>& rule : options) {
    if (rule.name == word) return &rule;
  }
  return nullptr;
}

// Checks the operands and applies the options after them to `command_line`; the operands
// themselves are the caller's to take. The first refused argument ends the walk.
template <typename CommandLine>
util::Result<void> ParseCommandLine(int argc, char** argv,
                                    const CommandGrammar<CommandLine>& grammar,
                                    CommandLine& command_line) {
  util::Result<void> operands = CheckOperands(argc, argv, grammar.operands);
  if (!operands) return operands;
  for (int i = 2 + grammar.operands.count; i < argc; ++i) {
    const OptionRule<CommandLine>* rule = FindOption(grammar.options, argv[i]);
    if (rule == nullptr) return UnknownWord(argv[i]);
    if (rule->value == ValueKind::kNone) {
      rule->apply(command_line, nullptr);  // a flag has nothing to refuse
      continue;
    }
    if (i + 1 >= argc) return MissingValue(rule->name, rule->value);
    const char* value = argv[++i];
    if (!rule->apply(command_line, value)) return MalformedValue(rule->name, rule->value, value);
  }
  return {};
}

// The usage lines of a command, one group per form, options in table order.
template <typename CommandLine>
std::string Synopsis(std::string_view command, const CommandGrammar<CommandLine>& grammar) {
  std::string text;
  for (const unsigned form : {kFirstForm, kSecondForm}) {
    const auto shown = [form](const OptionRule<CommandLine>& rule) {
      return (rule.forms & form) != 0;
    };
    if (form != kFirstForm && std::none_of(grammar.options.begin(), grammar.options.end(), shown)) {
      continue;
    }
    SynopsisWriter writer(text, command, grammar.operands.usage, grammar.continuation_indent);
    for (const OptionRule<CommandLine>& rule : grammar.options) {
      if (!shown(rule)) continue;
      writer.Add(rule.name,
                 rule.shown_value.empty() ? ValuePlaceholder(rule.value) : rule.shown_value,
                 rule.place);
    }
    writer.End();
  }
  return text;
}

// Appliers for the common options, for a command-line field named by its member pointer.
template <typename>
struct MemberClass;
template <typename Class, typename Field>
struct MemberClass<Field Class::*> {
  using Type = Class;
};
template <auto kField>
using CommandLineOf = typename MemberClass<decltype(kField)>::Type;

// A number, read as the field's type asks (option_values.h).
template <auto kField>
bool SetNumber(CommandLineOf<kField>& command_line, const char* value) {
  return StoreNumber(value, command_line.*kField);
}

// A flag that sets its field to a fixed value.
template <auto kField, auto kValue>
bool SetTo(CommandLineOf<kField>& command_line, const char* /*value*/) {
  command_line.*kField = kValue;
  return true;
}

// Appliers for a field of the run settings that a command line holds as its `settings` member.
// The command line's type is taken from the rule table the applier is put in.
template <auto kSetting, typename CommandLine>
bool SetSettingNumber(CommandLine& command_line, const char* value) {
  return StoreNumber(value, command_line.settings.*kSetting);
}

// A path or other text, kept as typed, even when empty.
template <auto kSetting, typename CommandLine>
bool SetSettingText(CommandLine& command_line, const char* value) {
  command_line.settings.*kSetting = value;
  return true;
}

template <auto kSetting, auto kValue, typename CommandLine>
bool SetSettingTo(CommandLine& command_line, const char* /*value*/) {
  command_line.settings.*kSetting = kValue;
  return true;
}

// --min-free-space-gib: typed in gibibytes, kept in bytes.
template <typename CommandLine>
bool SetFreeSpace(CommandLine& command_line, const char* value) {
  std::uint64_t gibibytes = 0;
  if (!StoreNumber(value, gibibytes)) return false;
  command_line.settings.min_free_space_bytes = GibibytesToBytes(gibibytes);
  return true;
}

}  // namespace boardmill::app

#include "app/command_grammar.h"

#include <array>

namespace boardmill::app {

namespace {

struct ValueText {
  std::string_view placeholder;  // in the usage text
  std::string_view noun;         // in refusals
};

// Indexed by ValueKind.
constexpr std::array<ValueText, 4> kValueTexts = {{
    {"", ""},
    {"N", "a number"},
    {"PATH", "a path"},
    {"WORD", "one of its words"},
}};

const ValueText& TextOf(ValueKind value) { return kValueTexts[static_cast<std::size_t>(value)]; }

std::string Joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text.append(part);
  return text;
}

}  // namespace

std::string_view ValuePlaceholder(ValueKind value) { return TextOf(value).placeholder; }

util::Error UnknownWord(std::string_view word) {
  if (word.starts_with("-")) return util::Fail(Joined({"Unknown option: ", word}));
  return util::Fail(Joined({"Unexpected argument: ", word}));
}

util::Error MissingValue(std::string_view option, ValueKind value) {
  return util::Fail(Joined({option, " needs ", TextOf(value).noun, "."}));
}

util::Error MalformedValue(std::string_view option, ValueKind value, std::string_view text) {
  return util::Fail(Joined({option, " needs ", TextOf(value).noun, ", not \"", text, "\"."}));
}

util::Result<void> CheckOperands(int argc, char** argv, const Operands& operands) {
  if (argc >= 2 + operands.count) return {};
  return util::Fail(Joined({argv[1], " needs ", operands.usage, "."}));
}

std::string Synopsis(std::string_view command, const Operands& operands) {
  std::string text;
  SynopsisWriter(text, command, operands.usage, 0).End();
  return text;
}

}  // namespace boardmill::app

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace boardmill::app {

// How an option shows in the usage text: in brackets on the current line, in brackets at the
// start of a new line, or bare (a word the form of the command requires).
enum class UsagePlace { kInline, kNewLine, kBare };

// Writes the usage lines of one form of a command: "  boardmill <command> <operands>", then each
// option in turn, continuation lines indented to the command's own column.
class SynopsisWriter {
 public:
  SynopsisWriter(std::string& text, std::string_view command, std::string_view operands,
                 std::size_t continuation_indent);
  // `value` is the value's placeholder ("N", "PATH"), empty for a flag.
  void Add(std::string_view option, std::string_view value, UsagePlace place);
  // Ends the form's last line.
  void End();

 private:
  std::string& text_;
  std::size_t continuation_indent_;
};

}  // namespace boardmill::app

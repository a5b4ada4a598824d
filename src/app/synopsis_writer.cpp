#include "app/synopsis_writer.h"

namespace boardmill::app {

SynopsisWriter::SynopsisWriter(std::string& text, std::string_view command,
                               std::string_view operands, std::size_t continuation_indent)
    : text_(text), continuation_indent_(continuation_indent) {
  text_.append("  boardmill ").append(command);
  if (!operands.empty()) text_.append(" ").append(operands);
}

void SynopsisWriter::Add(std::string_view option, std::string_view value, UsagePlace place) {
  if (place == UsagePlace::kNewLine) {
    text_.append("\n").append(continuation_indent_, ' ');
  } else {
    text_.append(" ");
  }
  const bool bracketed = place != UsagePlace::kBare;
  if (bracketed) text_.append("[");
  text_.append(option);
  if (!value.empty()) text_.append(" ").append(value);
  if (bracketed) text_.append("]");
}

void SynopsisWriter::End() { text_.append("\n"); }

}  // namespace boardmill::app

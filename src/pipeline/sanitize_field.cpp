#include "pipeline/sanitize_field.h"

namespace boardmill::pipeline {

namespace {

char SanitizedChar(char c) { return (c == '\t' || c == '\n' || c == '\r') ? ' ' : c; }

}  // namespace

void AppendSanitizedField(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  out.append(text);
  for (std::size_t i = start; i < out.size(); ++i) out[i] = SanitizedChar(out[i]);
}

std::string SanitizeField(std::string_view text) {
  std::string sanitized;
  AppendSanitizedField(sanitized, text);
  return sanitized;
}

}  // namespace boardmill::pipeline

#pragma once

#include <string>
#include <string_view>

namespace boardmill::pipeline {

// Makes free text safe for one column of a tab-separated file: every tab, line feed and carriage
// return becomes a space. Nothing else is touched and the length never changes.
std::string SanitizeField(std::string_view text);

// The same, appended to `out`, for writers that build a whole row in a reused buffer.
void AppendSanitizedField(std::string& out, std::string_view text);

}  // namespace boardmill::pipeline

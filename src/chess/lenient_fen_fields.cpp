#include "chess/lenient_fen_fields.h"

namespace boardmill::chess {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

bool IsTrailingFiller(char c) { return IsSeparator(c) || c == '\0'; }

bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view WithoutTrailingFiller(std::string_view line) {
  while (!line.empty() && IsTrailingFiller(line.back())) line.remove_suffix(1);
  return line;
}

// Walks the fields of a line, and then the tokens of its operations.
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view line) : line_(line) {}

  // The next run of bytes that are neither space nor tab; empty at the end of the line.
  std::string_view NextField() {
    SkipSeparators();
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !IsSeparator(line_[pos_])) ++pos_;
    return line_.substr(start, pos_ - start);
  }

  // Like NextField, but a ';' ends the field too; the text after the ';' is read next.
  std::string_view NextFieldUpToSemicolon() {
    const std::string_view field = NextField();
    const std::size_t semicolon = field.find(';');
    ended_at_semicolon_ = semicolon != std::string_view::npos;
    if (!ended_at_semicolon_) return field;
    pos_ = static_cast<std::size_t>(field.data() - line_.data()) + semicolon + 1;
    return field.substr(0, semicolon);
  }

  // Whether the field last taken by NextFieldUpToSemicolon ended at a ';'.
  bool EndedAtSemicolon() const { return ended_at_semicolon_; }

  // Goes back to the start of `field`, a field this cursor gave out.
  void Unread(std::string_view field) {
    pos_ = static_cast<std::size_t>(field.data() - line_.data());
  }

  // The next token of the operations: a ';' alone, or a run of bytes other than space, tab and
  // ';' in which a double-quoted span, whatever it holds, counts as part of the token. Empty at
  // the end of the line.
  std::string_view NextToken() {
    SkipSeparators();
    const std::size_t start = pos_;
    if (pos_ < line_.size() && line_[pos_] == ';') {
      ++pos_;
    } else {
      while (pos_ < line_.size() && !IsSeparator(line_[pos_]) && line_[pos_] != ';') {
        if (line_[pos_] == '"') SkipQuotedSpan();
        ++pos_;
      }
    }
    return line_.substr(start, pos_ - start);
  }

 private:
  void SkipSeparators() {
    while (pos_ < line_.size() && IsSeparator(line_[pos_])) ++pos_;
  }

  // From an opening quote to its closing quote, or to the last byte of an unclosed span.
  void SkipQuotedSpan() {
    const std::size_t closing = line_.find('"', pos_ + 1);
    pos_ = closing == std::string_view::npos ? line_.size() - 1 : closing;
  }

  std::string_view line_;
  std::size_t pos_ = 0;
  bool ended_at_semicolon_ = false;
};

// The clocks right after the en-passant field: two numbers, one, or none.
void ReadClockFields(FieldCursor& cursor, FenFields& fields) {
  const std::string_view halfmove = cursor.NextFieldUpToSemicolon();
  if (!IsNumber(halfmove)) {
    cursor.Unread(halfmove);
    return;
  }
  fields.halfmove_clock = halfmove;
  if (cursor.EndedAtSemicolon()) return;
  const std::string_view fullmove = cursor.NextFieldUpToSemicolon();
  if (!IsNumber(fullmove)) {
    cursor.Unread(fullmove);
    return;
  }
  fields.fullmove_number = fullmove;
}

// `hmvc N` and `fmvn N` anywhere in the operations set the clocks; the rest is left unread.
void ReadClockOperations(FieldCursor& cursor, FenFields& fields) {
  std::string_view* clock = nullptr;  // the clock whose opcode the last token was
  for (std::string_view token = cursor.NextToken(); !token.empty(); token = cursor.NextToken()) {
    if (clock != nullptr && IsNumber(token)) *clock = token;
    clock = token == "hmvc"   ? &fields.halfmove_clock
            : token == "fmvn" ? &fields.fullmove_number
                              : nullptr;
  }
}

bool IsZero(std::string_view number) { return number.find_first_not_of('0') == number.npos; }

}  // namespace

std::optional<FenFields> SplitLenientFenFields(std::string_view line) {
  FieldCursor cursor(WithoutTrailingFiller(line));
  FenFields fields;
  fields.board = cursor.NextField();
  if (fields.board.empty()) return std::nullopt;
  for (std::string_view* field : {&fields.active_color, &fields.castling}) {
    const std::string_view text = cursor.NextField();
    if (text.empty()) return fields;
    *field = text;
  }
  const std::string_view en_passant = cursor.NextFieldUpToSemicolon();
  if (en_passant.empty() && !cursor.EndedAtSemicolon()) return fields;
  fields.en_passant = en_passant;
  ReadClockFields(cursor, fields);
  ReadClockOperations(cursor, fields);
  if (IsZero(fields.fullmove_number)) fields.fullmove_number = "1";
  return fields;
}

}  // namespace boardmill::chess

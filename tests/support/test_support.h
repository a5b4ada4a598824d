#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace boardmill::testing {

// Whether the compiler reports the feature, where it can say (clang; gcc from version 14).
#if defined(__has_feature)
#define BOARDMILL_HAS_FEATURE(feature) __has_feature(feature)
#else
#define BOARDMILL_HAS_FEATURE(feature) 0
#endif

// True in a ThreadSanitizer build, whose every thread, allocation and file costs many times more.
inline constexpr bool kThreadSanitizerBuild =
#if defined(__SANITIZE_THREAD__) || BOARDMILL_HAS_FEATURE(thread_sanitizer)
    true;
#else
    false;
#endif

// True in an AddressSanitizer build, whose shadow memory and quarantine make a process's resident
// size say nothing about the program's own memory.
inline constexpr bool kAddressSanitizerBuild =
#if defined(__SANITIZE_ADDRESS__) || BOARDMILL_HAS_FEATURE(address_sanitizer)
    true;
#else
    false;
#endif

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Compresses `content` as one Zstandard frame into `path` (parents created).
void WriteZstdFile(const std::filesystem::path& path, const std::string& content, int level = 3);
// Decompresses a file of one or more frames; fails the current test on a decoding error.
std::string ReadZstdFile(const std::filesystem::path& path);
// The Zstandard frames `bytes` holds back to back; 0 when they are not whole frames.
std::uint64_t ZstdFrameCount(const std::string& bytes);
void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);
std::vector<std::string> ReadLines(const std::filesystem::path& path);

// prefix + number + suffix, built by appending (GCC 12 misreads `"literal" + std::to_string(n)`
// at -O3 as an overlapping copy).
std::string NumberedName(std::string_view prefix, std::uint64_t number, std::string_view suffix);

// One rank of a FEN board from its eight squares, files a to h: a piece's letter, or ' ' for an
// empty square; runs of empty squares become their count.
std::string FenRank(std::string_view squares);

// Seven valid positions of different kinds: start, castling rights, en passant, bare kings.
inline const std::vector<std::string> kFens = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3",
    "8/8/8/8/8/8/8/K6k w - - 0 1",
    "r6r/8/8/8/8/8/8/K6k b - - 5 40",
    "1n4n1/8/3k4/8/8/3K4/8/8 w - - 0 70",
    "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2",
    "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
};

// `text` cut at every `separator`; n separators give n + 1 fields.
std::vector<std::string> Split(const std::string& text, char separator);

// The lines a reader delivers from `text`: split at line feeds, one carriage return before the
// line feed dropped, empty lines skipped, an unterminated last line kept.
std::vector<std::string> DeliveredLines(const std::string& text);

// Repository test data (tests/data).
std::filesystem::path TestDataPath(const std::string& name);

struct ProgramRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Expects a run to have ended with exactly this exit code, standard output and standard error.
void ExpectRun(const ProgramRun& run, int exit_code, const std::string& out,
               const std::string& err);

// `argument` in single quotes for /bin/sh, quotes inside it escaped.
std::string QuoteForShell(const std::string& argument);

// Runs the built boardmill binary with `arguments` and captures both output streams.
ProgramRun RunBoardmill(const std::vector<std::string>& arguments);
// Runs any command through /bin/sh -c and captures both output streams.
ProgramRun RunShell(const std::string& command);

}  // namespace boardmill::testing

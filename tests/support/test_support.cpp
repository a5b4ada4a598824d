#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace boardmill::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device device;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    path_ = base / ("boardmill-test-" + std::to_string(device()));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void WriteZstdFile(const fs::path& path, const std::string& content, int level) {
  std::string compressed(ZSTD_compressBound(content.size()), '\0');
  const std::size_t size =
      ZSTD_compress(compressed.data(), compressed.size(), content.data(), content.size(), level);
  ASSERT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
  compressed.resize(size);
  WriteFile(path, compressed);
}

std::string ReadZstdFile(const fs::path& path) {
  const std::string compressed = ReadFile(path);
  std::string content;
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::string buffer(1 << 20, '\0');
  ZSTD_inBuffer input{compressed.data(), compressed.size(), 0};
  std::size_t last = 0;
  while (input.pos < input.size) {
    ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
    last = ZSTD_decompressStream(context, &output, &input);
    if (ZSTD_isError(last)) break;
    content.append(buffer.data(), output.pos);
  }
  ZSTD_freeDCtx(context);
  EXPECT_FALSE(ZSTD_isError(last)) << path << ": " << ZSTD_getErrorName(last);
  EXPECT_EQ(last, 0U) << path << ": truncated frame";
  return content;
}

std::uint64_t ZstdFrameCount(const std::string& bytes) {
  std::uint64_t frames = 0;
  for (std::size_t offset = 0; offset < bytes.size(); ++frames) {
    const std::size_t size =
        ZSTD_findFrameCompressedSize(bytes.data() + offset, bytes.size() - offset);
    if (ZSTD_isError(size)) return 0;
    offset += size;
  }
  return frames;
}

std::string NumberedName(std::string_view prefix, std::uint64_t number, std::string_view suffix) {
  std::string name(prefix);
  name += std::to_string(number);
  name += suffix;
  return name;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    fields.push_back(text.substr(start, end - start));
  }
  fields.push_back(text.substr(start));
  return fields;
}

std::vector<std::string> DeliveredLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    // A line beyond 64 KiB is delivered as its first 64 KiB + 1 bytes, carriage return or not.
    if (line.size() > 65537) {
      line.resize(65537);
    } else if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

fs::path TestDataPath(const std::string& name) { return fs::path(BOARDMILL_TEST_DATA_DIR) / name; }

std::string QuoteForShell(const std::string& argument) {
  std::string quoted = "'";
  for (const char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

ProgramRun RunShell(const std::string& command) {
  TempDir capture;
  const fs::path out = capture / "out";
  const fs::path err = capture / "err";
  const std::string full = "(" + command + ") >" + QuoteForShell(out.string()) + " 2>" +
                           QuoteForShell(err.string()) + " </dev/null";
  const int status = std::system(full.c_str());
  ProgramRun run;
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

void ExpectRun(const ProgramRun& run, int exit_code, const std::string& out,
               const std::string& err) {
  EXPECT_EQ(run.exit_code, exit_code);
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, err);
}

ProgramRun RunBoardmill(const std::vector<std::string>& arguments) {
  std::string command = QuoteForShell(BOARDMILL_BINARY);
  for (const std::string& argument : arguments) {
    command += ' ';
    command += QuoteForShell(argument);
  }
  return RunShell(command);
}

}  // namespace boardmill::testing

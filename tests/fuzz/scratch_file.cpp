#include "fuzz/scratch_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>

namespace boardmill::testing {
namespace {

std::filesystem::path ScratchDirectory() {
  std::error_code error;
  if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

}  // namespace

ScratchFile::ScratchFile(std::string_view name)
    : path_(ScratchDirectory() /
            ("boardmill-fuzz-" + std::to_string(::getpid()) + "-" + std::string(name))) {}

ScratchFile::~ScratchFile() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void ScratchFile::Write(std::string_view content) const {
  const auto close = [](std::FILE* file) { std::fclose(file); };
  const std::unique_ptr<std::FILE, decltype(close)> file(std::fopen(path_.c_str(), "wb"), close);
  if (!file || std::fwrite(content.data(), 1, content.size(), file.get()) != content.size() ||
      std::fflush(file.get()) != 0) {
    std::fprintf(stderr, "cannot write the scratch file %s\n", path_.c_str());
    std::abort();
  }
}

}  // namespace boardmill::testing

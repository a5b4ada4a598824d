#include "io/input_discovery.h"

#include <algorithm>
#include <system_error>

namespace boardmill::io {

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& name, const std::string& suffix) {
  return name.size() >= suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A dangling link, a link loop, a FIFO or a directory named like an input would otherwise drop
// out of the listing unseen, and its positions with it. A regular file that cannot be opened
// fails later, when it is read, with the reader's message.
util::Result<void> CheckInputEntry(const fs::path& path) {
  std::error_code error;
  if (fs::is_regular_file(fs::status(path, error)) && !error) return {};
  return util::Fail("Input entry is not a readable regular file: " + path.string());
}

}  // namespace

util::Result<std::vector<fs::path>> ListInputFiles(const fs::path& directory,
                                                   const fs::path& suffix) {
  std::error_code error;
  const fs::file_status status = fs::status(directory, error);
  if (error || !fs::exists(status)) {
    return util::Fail("Input directory does not exist: " + directory.string());
  }
  if (!fs::is_directory(status)) {
    return util::Fail("Input path is not a directory: " + directory.string());
  }

  std::vector<fs::path> files;
  const std::string wanted_suffix = suffix.string();
  fs::directory_iterator it(directory, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    if (!EndsWith(it->path().filename().string(), wanted_suffix)) continue;
    fs::path file = directory / it->path().filename();
    util::Result<void> usable = CheckInputEntry(file);
    if (!usable) return std::move(usable).TakeError();
    files.push_back(std::move(file));
  }
  if (error) return util::Fail("Failed to enumerate directory: " + error.message());
  std::sort(files.begin(), files.end());
  return files;
}

void KeepFirstFiles(std::vector<fs::path>& files, std::uint64_t max_files) {
  if (max_files != 0 && max_files < files.size()) files.resize(max_files);
}

util::Result<std::vector<fs::path>> ListFenFiles(const fs::path& directory,
                                                 std::uint64_t max_files) {
  util::Result<std::vector<fs::path>> files = ListInputFiles(directory, kInputSuffix);
  if (files) KeepFirstFiles(*files, max_files);
  return files;
}

}  // namespace boardmill::io

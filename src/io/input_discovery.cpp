#include "io/input_discovery.h"

#include <algorithm>
#include <optional>
#include <string>
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

util::Result<void> CheckInputDirectory(const fs::path& directory) {
  std::error_code error;
  const fs::file_status status = fs::status(directory, error);
  if (error || !fs::exists(status)) {
    return util::Fail("Input directory does not exist: " + directory.string());
  }
  if (!fs::is_directory(status)) {
    return util::Fail("Input path is not a directory: " + directory.string());
  }
  return {};
}

// The regular files (links followed) whose names `wanted` accepts, directly inside `directory`
// or, with `recursive`, anywhere below it except through a link to a directory. Sorted bytewise
// by their path relative to `directory`; each path is `directory` as given joined with that.
template <typename WantedName>
util::Result<std::vector<fs::path>> ListFiles(const fs::path& directory, bool recursive,
                                              WantedName wanted) {
  if (util::Result<void> checked = CheckInputDirectory(directory); !checked) {
    return std::move(checked).TakeError();
  }
  std::vector<fs::path> files;
  std::optional<std::string> refused;
  const auto visit = [&](const fs::directory_entry& entry) {
    if (refused || !wanted(entry.path().filename().string())) return;
    util::Result<void> usable = CheckInputEntry(entry.path());
    if (usable) {
      files.push_back(entry.path());
    } else {
      refused = usable.error();
    }
  };
  std::error_code error;
  if (recursive) {
    fs::recursive_directory_iterator it(directory, fs::directory_options::none, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) visit(*it);
  } else {
    fs::directory_iterator it(directory, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) visit(*it);
  }
  if (refused) return util::Fail(*refused);
  if (error) return util::Fail("Failed to enumerate directory: " + error.message());

  // Every path starts with `directory` and a separator; what follows is the relative path.
  const std::size_t prefix = (directory / "").native().size();
  std::sort(files.begin(), files.end(), [prefix](const fs::path& a, const fs::path& b) {
    return a.native().compare(prefix, std::string::npos, b.native(), prefix, std::string::npos) < 0;
  });
  return files;
}

}  // namespace

util::Result<std::vector<fs::path>> ListInputFiles(const fs::path& directory,
                                                   const fs::path& suffix) {
  const std::string wanted_suffix = suffix.string();
  return ListFiles(directory, false,
                   [&](const std::string& name) { return EndsWith(name, wanted_suffix); });
}

util::Result<std::vector<fs::path>> ListInputTree(const fs::path& directory,
                                                  const InputDiscovery& discovery) {
  return ListFiles(directory, discovery.recursive, [&](const std::string& name) {
    return EndsWith(name, kInputSuffix) ||
           (discovery.include_epd && EndsWith(name, kEpdInputSuffix));
  });
}

void KeepFirstFiles(std::vector<fs::path>& files, std::uint64_t max_files) {
  if (max_files != 0 && max_files < files.size()) files.resize(max_files);
}

util::Result<std::vector<fs::path>> ListFenFiles(const fs::path& directory, std::uint64_t max_files,
                                                 const InputDiscovery& discovery) {
  util::Result<std::vector<fs::path>> files = discovery.recursive || discovery.include_epd
                                                  ? ListInputTree(directory, discovery)
                                                  : ListInputFiles(directory, kInputSuffix);
  if (files) KeepFirstFiles(*files, max_files);
  return files;
}

std::string RelativeInputPath(const fs::path& file, const fs::path& directory) {
  // A listed path is `directory` and a separator, then the relative path.
  const std::string& path = file.native();
  const std::string prefix = (directory / "").native();
  if (!path.starts_with(prefix)) return file.filename().string();
  return path.substr(prefix.size());
}

}  // namespace boardmill::io

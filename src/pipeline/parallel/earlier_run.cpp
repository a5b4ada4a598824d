#include "pipeline/parallel/earlier_run.h"

#include <algorithm>
#include <system_error>

#include "io/input_discovery.h"
#include "pipeline/parallel/fragment_file.h"
#include "pipeline/sanitize_field.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

// What the fragments root held before a task became a group of files: a directory per file.
constexpr char kEarlierLayoutPrefix[] = "file-";

// The last components of `path` (separated by '/'), as many as `relative` has.
std::string_view TrailingComponents(std::string_view path, std::string_view relative) {
  std::size_t start = path.size();
  for (std::size_t left = std::count(relative.begin(), relative.end(), '/') + 1; left > 0; --left) {
    const std::size_t separator = path.rfind('/', start == 0 ? 0 : start - 1);
    if (separator == std::string_view::npos || start == 0) return path;
    start = separator;
  }
  return path.substr(start + 1);
}

}  // namespace

util::Result<void> CheckResumedFileNames(const std::map<std::uint64_t, std::string>& completed,
                                         const std::vector<fs::path>& files,
                                         const fs::path& input_directory,
                                         const fs::path& manifest) {
  for (const auto& [index, recorded_path] : completed) {
    if (index >= files.size()) continue;
    const std::string current_name =
        SanitizeField(io::RelativeInputPath(files[index], input_directory));
    const std::string_view recorded_name = TrailingComponents(recorded_path, current_name);
    if (current_name != recorded_name) {
      std::string message = "Cannot resume: " + manifest.string();
      message += " records file index " + std::to_string(index) + " as ";
      message += recorded_name;
      message += ", but the input file at that index is now " + current_name + ".";
      return util::Fail(std::move(message));
    }
  }
  return {};
}

util::Result<std::vector<FragmentSource>> FindEarlierFragments(const fs::path& fragments_root,
                                                               const std::vector<fs::path>& files,
                                                               const fs::path& input_directory) {
  std::vector<FragmentSource> found;
  std::error_code error;
  fs::directory_iterator entry(fragments_root, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const fs::path& path = entry->path();
    const std::string name = path.filename().string();
    if (name.starts_with(kEarlierLayoutPrefix)) {
      return util::Fail("Cannot resume: " + fragments_root.string() +
                        " holds fragments of an earlier version of boardmill; convert again "
                        "without --resume.");
    }
    if (name.ends_with(util::kPartialSuffix)) {
      std::error_code ignored;
      fs::remove(path, ignored);
      continue;
    }
    if (!name.ends_with(kFragmentSuffix)) continue;
    util::Result<FragmentIndex> index = ReadFragmentIndex(path);
    if (!index) return std::move(index).TakeError();
    found.push_back({path, std::move(*index)});
  }
  if (error && error != std::errc::no_such_file_or_directory) {
    return util::Fail("Failed to list fragments in " + fragments_root.string() + ": " +
                      error.message());
  }
  std::sort(found.begin(), found.end(),
            [](const FragmentSource& left, const FragmentSource& right) {
              return left.index.first_file < right.index.first_file;
            });
  std::uint64_t next_free = 0;
  for (const FragmentSource& fragment : found) {
    for (const FileProcessingSummary& file : fragment.index.files) {
      const std::uint64_t index = file.file_index;
      if (index < next_free || index >= files.size() ||
          file.input_path != io::RelativeInputPath(files[index], input_directory)) {
        return util::Fail("Cannot resume: fragment " + fragment.path.string() +
                          " does not belong to the input files now listed.");
      }
      next_free = index + 1;
    }
  }
  return found;
}

}  // namespace boardmill::pipeline

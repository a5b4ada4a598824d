#include "io/output_path_checks.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "util/partial_file.h"

namespace boardmill::io {

namespace {

namespace fs = std::filesystem;

// The absolute path with every link of its existing part resolved.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  const fs::path resolved = fs::weakly_canonical(absolute, error);
  return error ? absolute : resolved;
}

// True when `path` is `directory` or lies below it; both resolved.
bool IsWithin(const fs::path& path, const fs::path& directory) {
  const fs::path relative = path.lexically_relative(directory);
  return !relative.empty() && *relative.begin() != "..";
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsSameFile(const fs::path& a, const fs::path& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         IsSameFile(first, second);
}

// The same file as an input, whether reached through a link, another hard link or the same
// path; a path where nothing exists yet is none. The chosen path is looked up once.
bool IsInputFile(const fs::path& path, const OutputPathLayout& layout) {
  struct stat chosen {};
  if (::stat(path.c_str(), &chosen) != 0) return false;
  return std::any_of(layout.input_files.begin(), layout.input_files.end(),
                     [&](const fs::path& input) {
                       struct stat status {};
                       return ::stat(input.c_str(), &status) == 0 && IsSameFile(chosen, status);
                     });
}

bool IsOwnName(const std::string& name, const std::vector<std::string>& own_names) {
  return std::any_of(own_names.begin(), own_names.end(), [&](const std::string& own) {
    return name == own || name == own + util::kPartialSuffix;
  });
}

// True when `resolved` is, or lies below, an entry the command writes in the output directory,
// other than the chosen output's own default place.
bool IsOwnOutput(const fs::path& resolved, const ChosenOutput& chosen, const fs::path& output,
                 const std::vector<std::string>& own_names) {
  if (!IsWithin(resolved, output)) return false;
  const fs::path relative = resolved.lexically_relative(output);
  const std::string first = relative.begin()->string();
  if (relative == fs::path(chosen.own_name)) return false;
  return IsOwnName(first, own_names);
}

util::Result<void> Refuse(const ChosenOutput& chosen, const std::string& reason) {
  return util::Fail(std::string(chosen.option) + " " + reason + ": " + chosen.path.string());
}

util::Result<void> CheckOne(const ChosenOutput& chosen, const OutputPathLayout& layout) {
  const fs::path resolved = Resolved(chosen.path);
  if (IsInputFile(chosen.path, layout)) return Refuse(chosen, "must not name an input file");
  if (IsWithin(resolved, Resolved(layout.input_directory))) {
    return Refuse(chosen, "must not lie inside the input directory");
  }
  if (IsOwnOutput(resolved, chosen, Resolved(layout.output_directory), layout.own_names)) {
    return Refuse(chosen, "must not name a file the run writes in the output directory");
  }
  return {};
}

util::Result<void> CheckPair(const ChosenOutput& first, const ChosenOutput& second) {
  const fs::path a = Resolved(first.path);
  const fs::path b = Resolved(second.path);
  if (!IsWithin(a, b) && !IsWithin(b, a) && !IsSameFile(a, b)) return {};
  return Refuse(first,
                "must not name or lie inside the same place as " + std::string(second.option));
}

}  // namespace

util::Result<void> CheckOutputPaths(const OutputPathLayout& layout) {
  for (auto chosen = layout.chosen.begin(); chosen != layout.chosen.end(); ++chosen) {
    if (chosen->path.empty()) continue;
    util::Result<void> checked = CheckOne(*chosen, layout);
    for (auto other = chosen + 1; checked && other != layout.chosen.end(); ++other) {
      if (!other->path.empty()) checked = CheckPair(*chosen, *other);
    }
    if (!checked) return checked;
  }
  return {};
}

}  // namespace boardmill::io

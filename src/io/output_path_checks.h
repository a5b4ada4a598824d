#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace boardmill::io {

// A path the user chose for something a command writes, and the option that named it.
struct ChosenOutput {
  std::string_view option;     // "--reject-log"
  std::filesystem::path path;  // empty when the option was not given
  std::string_view own_name;   // its default name in the output directory, where it may be
};

// What a command reads and writes, for checking the paths a user chose before anything is
// written: a reject log or manifest sent onto an input file or onto another of the command's
// outputs would destroy it while the command reports success.
struct OutputPathLayout {
  std::filesystem::path input_directory;
  std::span<const std::filesystem::path> input_files;
  std::filesystem::path output_directory;
  // The entries the command writes directly in the output directory; a chosen path is refused in
  // one of them, in the ".partial" side file of one, or below one (a directory such as
  // _scratch).
  std::vector<std::string> own_names;
  std::vector<ChosenOutput> chosen;
};

// Refuses, with one line naming the option and the path, a chosen path that is an input file
// (the same file, or the same path once links are resolved), lies inside the input directory,
// is one of the command's own outputs, or is or lies inside another chosen path.
util::Result<void> CheckOutputPaths(const OutputPathLayout& layout);

}  // namespace boardmill::io

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/partial_file.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The reject rows of one parallel task, in the order of its files and lines, kept beside its
// fragment until the run copies every task's rows into rejects.tsv in file order. A resumed run
// thereby logs the rejects of files converted before the interruption, and a task converted
// again replaces its rows instead of adding them twice. Written under a ".partial" name and
// renamed when complete, like the fragment.
class RejectPartWriter {
 public:
  util::Result<void> Open(const std::filesystem::path& path);
  util::Result<void> Append(const std::filesystem::path& input_path, std::uint64_t line_number,
                            std::string_view error, std::string_view text);
  util::Result<void> Commit();

  std::uint64_t rows() const { return rows_; }

 private:
  util::Error WriteFailure() const;

  std::filesystem::path path_;
  util::PartialFile file_;
  std::string row_;  // reused for every row
  std::uint64_t rows_ = 0;
};

}  // namespace boardmill::pipeline

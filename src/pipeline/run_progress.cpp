#include "pipeline/run_progress.h"

#include <system_error>

namespace boardmill::pipeline {

void RunProgress::SetInput(std::span<const std::filesystem::path> files) {
  std::uint64_t bytes = 0;
  for (const std::filesystem::path& file : files) {
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(file, unknown);
    if (!unknown) bytes += size;
  }
  input_bytes_total.store(bytes, kRelaxed);
  files_total.store(files.size(), kRelaxed);
}

}  // namespace boardmill::pipeline

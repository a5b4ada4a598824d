#include "app/scan_command.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "io/input_discovery.h"

namespace boardmill::app {

namespace fs = std::filesystem;

int RunScan(const std::string& directory) {
  const util::Result<std::vector<fs::path>> files = io::ListInputFiles(directory, io::kInputSuffix);
  if (!files) {
    std::fprintf(stderr, "%s\n", files.error().c_str());
    return 1;
  }
  std::printf("Found %zu .fen.zst files\n", files->size());
  for (const fs::path& file : *files) std::printf("%s\n", file.string().c_str());
  return 0;
}

}  // namespace boardmill::app

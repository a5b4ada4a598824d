#pragma once

#include <filesystem>
#include <string_view>

namespace boardmill::testing {

// One file for the whole fuzzing process, rewritten for every input, for code under test that
// only reads paths. It lives in /dev/shm when there is one (so rewriting it costs no disk I/O)
// and is removed when the process ends normally.
class ScratchFile {
 public:
  explicit ScratchFile(std::string_view name);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Replaces the file's content; aborts the run when it cannot, since every check would then
  // test the wrong bytes.
  void Write(std::string_view content) const;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace boardmill::testing

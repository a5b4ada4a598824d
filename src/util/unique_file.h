#pragma once

#include <cstdio>
#include <memory>

namespace boardmill::util {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Owns a C stream and closes it on every exit path. Writers that must know whether the close
// succeeded release the stream and call fclose themselves.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace boardmill::util

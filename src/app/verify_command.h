#pragma once

namespace boardmill::app {

// verify-shards <output_dir> [--shards N]...: verifies the shards and prints the two counts.
int RunVerifyShardsCommand(int argc, char** argv);

}  // namespace boardmill::app

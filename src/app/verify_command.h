#pragma once

namespace boardmill::app {

// verify-shards <output_dir> [--shards N]... [--quick]: verifies the shards (against the shard
// index when there is one; with --quick only against it) and prints the two counts.
int RunVerifyShardsCommand(int argc, char** argv);

}  // namespace boardmill::app

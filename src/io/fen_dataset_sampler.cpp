#include "io/fen_dataset_sampler.h"

#include <cstdio>
#include <set>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "compression/compression_level.h"
#include "compression/zstd_line_reader.h"
#include "compression/zstd_stream_writer.h"
#include "io/create_directories.h"
#include "io/input_discovery.h"
#include "io/output_path_checks.h"
#include "io/run_locks.h"
#include "util/bounds.h"
#include "util/file_sync.h"
#include "util/output_file.h"
#include "util/stopwatch.h"

namespace boardmill::io {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTextBufferReserve = (1 << 20) + (64 << 10);
constexpr std::size_t kTextFlushThreshold = (1 << 20) - 1;

constexpr char kSampleManifestFileName[] = "sample-manifest.tsv";

// The sample files bear the names of their inputs, beside the lock and the manifest.
OutputPathLayout OutputLayout(const FenDatasetSamplerSettings& settings,
                              const std::vector<fs::path>& files) {
  OutputPathLayout layout;
  layout.input_directory = settings.input_directory;
  layout.input_files = files;
  layout.output_directory = settings.output_directory;
  layout.own_names = {kLockFileName};
  for (const fs::path& file : files) layout.own_names.push_back(file.filename().string());
  layout.chosen = {{"--manifest", settings.manifest_path, kSampleManifestFileName}};
  return layout;
}

struct SampledFile {
  std::uint64_t copied_lines = 0;
  compression::ZstdLineReadSummary read;
  std::uint64_t compressed_output_bytes = 0;
};

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

util::Result<SampledFile> SampleFile(const fs::path& input, const fs::path& output,
                                     const FenDatasetSamplerSettings& settings) {
  // Opening the sample truncates it: were it the input itself (output directory = input
  // directory, or a link), the input would be lost and an empty sample reported as a success.
  std::error_code not_comparable;
  if (fs::equivalent(input, output, not_comparable)) {
    return util::Fail("Sample output would overwrite its input file: " + output.string());
  }
  compression::ZstdStreamWriter stream(output, settings.compression_level);
  util::Result<std::uint64_t> opened = stream.Open();
  if (!opened) return std::move(opened).TakeError();

  SampledFile sampled;
  std::string text;
  text.reserve(kTextBufferReserve);
  util::Result<compression::ZstdLineReadSummary> read = compression::VisitZstdLineBatches(
      input, settings.line_batch_size,
      [&](std::span<const compression::ZstdLineBatchEntry> batch) -> util::Result<bool> {
        for (const compression::ZstdLineBatchEntry& entry : batch) {
          if (sampled.copied_lines >= settings.max_lines_per_file) return false;
          text.append(entry.text).push_back('\n');
          ++sampled.copied_lines;
          if (text.size() > kTextFlushThreshold) {
            util::Result<std::uint64_t> written = stream.Write(AsBytes(text));
            if (!written) return std::move(written).TakeError();
            text.clear();
          }
        }
        return true;
      });
  if (!read) return std::move(read).TakeError();
  sampled.read = *read;

  if (!text.empty()) {
    util::Result<std::uint64_t> written = stream.Write(AsBytes(text));
    if (!written) return std::move(written).TakeError();
  }
  util::Result<std::uint64_t> finished = stream.Finish();
  if (!finished) return std::move(finished).TakeError();
  sampled.compressed_output_bytes = *finished;
  return sampled;
}

}  // namespace

util::Result<FenDatasetSampleSummary> FenDatasetSampler::Run() const {
  if (settings_.max_lines_per_file == 0) {
    return util::Fail("Sample generation requires --max-lines-per-file > 0.");
  }
  if (!compression::IsSupportedCompressionLevel(settings_.compression_level)) {
    return util::Fail("Sample generation compression level is outside the supported Zstd range.");
  }
  util::Result<void> batch_limit = util::CheckAtMost("Line batch size", settings_.line_batch_size,
                                                     compression::kMaxLineBatchSize);
  if (!batch_limit) return std::move(batch_limit).TakeError();
  const util::Stopwatch run_clock;

  util::Result<std::vector<fs::path>> files =
      ListFenFiles(settings_.input_directory, settings_.max_input_files, settings_.discovery);
  if (!files) return std::move(files).TakeError();

  SampleProgress* const progress = settings_.progress;
  if (progress != nullptr) progress->files_total.store(files->size(), std::memory_order_relaxed);
  FenDatasetSampleSummary summary;
  summary.input_file_count = files->size();
  summary.manifest_path = settings_.manifest_path.empty()
                              ? settings_.output_directory / kSampleManifestFileName
                              : settings_.manifest_path;
  util::Result<void> paths = CheckOutputPaths(OutputLayout(settings_, *files));
  if (!paths) return std::move(paths).TakeError();
  RunLocks locks;
  util::Result<void> locked = locks.LockOutputDirectory(settings_.output_directory);
  if (locked && locks.IsOutsideOutput(summary.manifest_path)) {
    locked = locks.LockFile(summary.manifest_path, "sample manifest");
  }
  if (!locked) return std::move(locked).TakeError();
  const util::UniqueFile manifest = util::CreateOutputFile(summary.manifest_path, "w");
  if (!manifest) {
    return util::Fail("Failed to open sample manifest: " + summary.manifest_path.string());
  }
  std::fputs(
      "input_path\toutput_path\tcopied_lines\tcompressed_input_bytes\t"
      "decompressed_input_bytes\tcompressed_output_bytes\n",
      manifest.get());

  // Where the samples' names are, to be synced with the manifest's.
  std::set<fs::path> sample_directories = {settings_.output_directory};
  for (const fs::path& input : *files) {
    const fs::path output =
        settings_.output_directory / RelativeInputPath(input, settings_.input_directory);
    sample_directories.insert(output.parent_path());
    // A tree's sample keeps the tree: the file's subdirectory is made in the output.
    util::Result<void> room =
        CreateDirectories(output.parent_path(), "Failed to create output directory: ");
    if (!room) return std::move(room).TakeError();
    util::Result<SampledFile> sampled = SampleFile(input, output, settings_);
    if (!sampled) return std::move(sampled).TakeError();
    ++summary.output_file_count;
    summary.copied_lines += sampled->copied_lines;
    summary.compressed_input_bytes += sampled->read.compressed_bytes;
    summary.decompressed_input_bytes += sampled->read.decompressed_bytes;
    summary.compressed_output_bytes += sampled->compressed_output_bytes;
    const std::string row = input.string() + '\t' + output.string() + '\t' +
                            std::to_string(sampled->copied_lines) + '\t' +
                            std::to_string(sampled->read.compressed_bytes) + '\t' +
                            std::to_string(sampled->read.decompressed_bytes) + '\t' +
                            std::to_string(sampled->compressed_output_bytes) + '\n';
    std::fputs(row.c_str(), manifest.get());
    if (progress != nullptr) {
      progress->copied_lines.fetch_add(sampled->copied_lines, std::memory_order_relaxed);
      progress->files_done.fetch_add(1, std::memory_order_relaxed);
    }
  }
  // A manifest that silently lost rows (a full disk) must not pass for a finished sample.
  if (std::fflush(manifest.get()) != 0 || std::ferror(manifest.get()) != 0) {
    return util::Fail("Failed to write sample manifest: " + summary.manifest_path.string());
  }
  // The samples synced as each ended; the manifest and every name follow them to the disk.
  util::Result<void> synced = util::SyncFile(manifest.get(), summary.manifest_path);
  sample_directories.insert(summary.manifest_path.parent_path());
  for (auto directory = sample_directories.begin(); synced && directory != sample_directories.end();
       ++directory) {
    synced = util::SyncDirectory(*directory);
  }
  if (!synced) return std::move(synced).TakeError();
  summary.elapsed_seconds = run_clock.ElapsedSeconds();
  return summary;
}

}  // namespace boardmill::io

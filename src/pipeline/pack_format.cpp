#include "pipeline/pack_format.h"

#include "compress/bzip2_parallel.h"
#include "compress/md5.h"
#include "compress/streams.h"

#include <cstring>
#include <memory>
#include <new>

namespace zelvo {

namespace {

constexpr std::uint64_t kProgressBytes = 1u << 16; // payload bytes between two progress reports

// A table the section can be written from: generated tiles, consistent counts, and offsets that
// all point at a whole tile inside the tile data.
bool tableIsComplete(const HiResTileTable& table) {
  if (!table.tempFile.isOpen() || table.scale < 1 || table.scale > 4) return false;
  if (table.tileBytes != 256u * table.scale * table.scale) return false;
  if (table.entryCount == 0 || !table.entryOffsets) return false;
  std::uint64_t sum = 0;
  for (std::uint32_t count : table.groupCounts) sum += count;
  if (sum != table.entryCount) return false;
  const std::uint64_t dataBytes = std::uint64_t(table.tileCount) * table.tileBytes;
  for (std::uint32_t i = 0; i < table.entryCount; ++i) {
    const std::uint32_t offset = table.entryOffsets[i];
    if (offset % table.tileBytes != 0 || offset >= dataBytes) return false;
  }
  return true;
}

} // namespace

bool WriteHiResSection(HiResTileTable& table, File& output, ProgressSink* progress, ThreadPool* pool) {
  if (!tableIsComplete(table)) return false;

  HiResSectionHeader header{};
  std::memcpy(header.magic, kHiResMagic, sizeof header.magic);
  header.flags = kHiResFlagDigest;
  header.tileCount = table.tileCount;
  header.entryCount = table.entryCount;
  std::memcpy(header.groupCounts, table.groupCounts, sizeof header.groupCounts);
  header.scale = table.scale & 0xFFu;
  header.compression = kMethodBZip2;
  if (!output.writeAll(&header, sizeof header)) return false;

  std::uint64_t digestPosition = 0;
  if (!output.position(digestPosition)) return false;
  if (!table.tempFile.seek(0)) return false;
  const std::uint8_t placeholder[16] = {};
  if (!output.writeAll(placeholder, sizeof placeholder)) return false;

  std::unique_ptr<ICompressor> compressor(new (std::nothrow) ParallelBZip2Compressor(pool));
  if (!compressor) return false;
  std::unique_ptr<std::uint8_t[]> tile(new (std::nothrow) std::uint8_t[table.tileBytes]);
  if (!tile) return false;
  Md5 digest;

  const std::uint64_t tableBytes = std::uint64_t(table.entryCount) * 4;
  const std::uint64_t payloadBytes = std::uint64_t(table.tileCount) * table.tileBytes + tableBytes;
  std::uint64_t done = 0;
  std::uint64_t reported = 0;
  for (std::uint32_t t = 0; t < table.tileCount; ++t) {
    if (!table.tempFile.readExact(tile.get(), table.tileBytes)) return false;
    digest.update(tile.get(), table.tileBytes);
    if (!compressor->Write(output, tile.get(), table.tileBytes)) return false;
    done += table.tileBytes;
    if (done - reported >= kProgressBytes) {
      reportProgress(progress, ProgressStage::CompressingHiRes, done, payloadBytes);
      reported = done;
      if (cancelRequested(progress)) return false;
    }
  }
  tile.reset();

  // The entry table as held in memory: little-endian 32-bit offsets.
  const void* offsets = table.entryOffsets.get();
  digest.update(offsets, std::size_t(tableBytes));
  if (!compressor->Write(output, offsets, std::size_t(tableBytes))) return false;
  const bool finished = compressor->Finish(output);
  compressor.reset();
  if (!finished) return false;
  reportProgress(progress, ProgressStage::CompressingHiRes, payloadBytes, payloadBytes);

  const Md5Digest sum = digest.final();
  std::uint64_t end = 0;
  if (!output.position(end)) return false;
  if (!output.seek(digestPosition) || !output.writeAll(sum.data(), sum.size())) return false;
  return output.seek(end);
}

} // namespace zelvo

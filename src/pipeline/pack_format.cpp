#include "pipeline/pack_format.h"

#include "compress/bzip2_parallel.h"
#include "compress/md5.h"
#include "compress/rom_loader.h"
#include "compress/rom_rules.h"
#include "compress/section_reader.h"
#include "compress/streams.h"
#include "pipeline/build_cache.h"
#include "platform/byte_io.h"
#include "platform/thread_pool.h"
#include "tiles/header_blocks.h"
#include "tiles/tiles_file.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace zelvo {

namespace {

// The bytes of a run: whole tiles that fit in the first-stage form of one block.
constexpr std::uint32_t kRunCapacity = kBZip2BlockSize100k * 100000u - 19u;

// A table the section can be written from: generated tiles, consistent counts, and offsets that
// all point at a whole tile inside the tile data.
bool tableIsComplete(const HiResTileTable& table) {
  if (!table.tempFile.isOpen() || table.scale < kMinTileScale || table.scale > kMaxTileScale) return false;
  if (table.tileBytes != hiResTileBytes(table.scale)) return false;
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

// Reads exactly `size` bytes at `offset`, or says why not.
Status readAt(File& file, void* buffer, std::size_t size, std::uint64_t offset, const std::string& path,
              const char* what) {
  const Result<std::uint64_t> fileSize = file.size();
  if (!fileSize) return fileSize.error();
  if (offset + size > *fileSize)
    return makeError(ErrorCause::Truncated, path, std::string("the file ends inside ") + what);
  if (Status s = file.readAt(buffer, size, offset); !s) return s;
  return file.seek(offset + size);
}

} // namespace

Result<PackLayout> readPackLayout(File& file, const std::string& path) {
  PackLayout layout;
  PackHeader& header = layout.header;
  if (Status s = readAt(file, &header, sizeof header, 0, path, "the pack header"); !s) return s.error();
  if (std::memcmp(header.magic, kPackMagic, sizeof kPackMagic) != 0)
    return makeError(ErrorCause::BadFormat, path, "not a pack (no MSHIROM magic)");
  const Result<std::uint64_t> fileSize = file.size();
  if (!fileSize) return fileSize.error();
  layout.fileSize = *fileSize;
  struct Section {
    const char* name;
    std::uint32_t size;
    std::uint64_t* start;
  } sections[] = {{"ROM", header.romSectionSize, &layout.romStart},
                  {"tiles", header.tilesSectionSize, &layout.tilesStart},
                  {"hi-res", header.hiResSectionSize, &layout.hiResStart}};
  std::uint64_t at = sizeof header;
  for (const Section& section : sections) {
    *section.start = at;
    const std::uint64_t left = layout.fileSize > at ? layout.fileSize - at : 0;
    if (section.size > left)
      return makeError(ErrorCause::Truncated, path,
                       std::string("the ") + section.name + " section claims " + sizeText(section.size) +
                           " but only " + sizeText(left) + " follow its start");
    at += section.size;
  }
  layout.end = at;
  return layout;
}

Result<RomSectionHead> readRomSectionHead(File& file, const PackLayout& layout, const std::string& path) {
  RomSectionHead head{};
  if (layout.header.romSectionSize < sizeof head)
    return makeError(ErrorCause::Truncated, path, "the ROM section is shorter than its head");
  if (Status s = readAt(file, &head, sizeof head, layout.romStart, path, "the ROM section"); !s)
    return s.error();
  if (head.romSize > kRomMaxSize)
    return makeError(ErrorCause::LimitExceeded, path,
                     "the ROM section claims a ROM of " + sizeText(head.romSize) + "; a ROM holds at most " +
                         std::to_string(kRomMaxSize) + " bytes");
  if (Status fits =
          checkExpansion(head.compression, layout.header.romSectionSize - sizeof head, head.romSize, path);
      !fits)
    return fits.error();
  return head;
}

Result<HiResSectionHead> readHiResSectionHead(File& file, const PackLayout& layout, const std::string& path) {
  HiResSectionHead head;
  HiResSectionHeader& header = head.header;
  if (layout.header.hiResSectionSize < kHiResStreamOffset)
    return makeError(ErrorCause::Truncated, path, "the hi-res section is shorter than its header and digest");
  if (Status s = readAt(file, &header, sizeof header, layout.hiResStart, path, "the hi-res section"); !s)
    return s.error();
  if (Status s = readAt(file, head.digest.data(), head.digest.size(), layout.hiResStart + kHiResDigestOffset,
                        path, "the hi-res section");
      !s)
    return s.error();
  auto bad = [&](ErrorCause cause, const std::string& detail) { return makeError(cause, path, detail); };
  if (std::memcmp(header.magic, kHiResMagic, sizeof kHiResMagic) != 0)
    return bad(ErrorCause::BadFormat, "the hi-res section has no MSHITIL magic");
  if (const std::uint32_t undefined = header.flags & ~kHiResFlagDigest)
    return undefinedFlags(undefined, path, " in the hi-res section");
  if (!(header.flags & kHiResFlagDigest))
    return bad(ErrorCause::Unsupported, "the hi-res section has no digest");
  if (header.scale < kMinTileScale || header.scale > kMaxTileScale)
    return bad(ErrorCause::BadFormat, "the hi-res scale " + std::to_string(header.scale) + " is not 1 to 4");
  std::uint64_t entries = 0;
  for (std::uint32_t c : header.groupCounts) entries += c;
  if (entries != header.entryCount)
    return bad(ErrorCause::BadFormat, "the hi-res entry count " + std::to_string(header.entryCount) +
                                          " is not the sum of its group counts, " + std::to_string(entries));
  if (header.entryCount > kMaxTileEntries)
    return bad(ErrorCause::LimitExceeded, std::to_string(header.entryCount) +
                                              " hi-res tile entries; at most " +
                                              std::to_string(kMaxTileEntries) + " are read");
  if (header.tileCount > header.entryCount)
    return bad(ErrorCause::BadFormat, std::to_string(header.tileCount) + " hi-res tiles for " +
                                          std::to_string(header.entryCount) + " tile entries");
  head.payloadSize = hiResPayloadSize(header.tileCount, header.scale, header.entryCount);
  const std::uint64_t streamBytes = layout.header.hiResSectionSize - kHiResStreamOffset;
  if (Status fits = checkExpansion(header.compression, streamBytes, head.payloadSize, path); !fits)
    return fits.error();
  return head;
}

Status checkHiResCounts(const HiResSectionHeader& header, const TileSet& tiles, const std::string& path) {
  for (int g = 0; g < kGroupCount; ++g)
    if (header.groupCounts[g] != tiles.groups[g].count)
      return makeError(ErrorCause::BadFormat, path,
                       "the hi-res section counts " + std::to_string(header.groupCounts[g]) +
                           " entries in group " + std::to_string(g) + ", the tiles section " +
                           std::to_string(tiles.groups[g].count));
  return {};
}

std::uint32_t hiResTilesPerRun(std::uint32_t tileBytes) {
  return tileBytes ? std::max<std::uint32_t>(1, kRunCapacity / tileBytes) : 1;
}

namespace {

// One run of the payload compressed: its blocks, made now or taken from the cache.
struct CompressedRun {
  std::vector<BZip2CompressedBlock> blocks;
  bool fromCache = false;
};

// A run as the cache keeps it: the count of blocks, then for each its bit end, CRC, and stream.
std::vector<std::uint8_t> runEntry(const std::vector<BZip2CompressedBlock>& blocks) {
  std::size_t size = 4;
  for (const BZip2CompressedBlock& b : blocks) size += 16 + b.stream.size();
  std::vector<std::uint8_t> out(size);
  ByteWriter w(out.data(), out.size());
  w.u32(std::uint32_t(blocks.size()));
  for (const BZip2CompressedBlock& b : blocks) {
    w.u64(b.bitEnd);
    w.u32(b.crc);
    w.u32(std::uint32_t(b.stream.size()));
    w.bytes(b.stream.data(), b.stream.size());
  }
  return out;
}

bool readRunEntry(const std::uint8_t* data, std::size_t size, std::vector<BZip2CompressedBlock>& blocks) {
  ByteReader r(data, size);
  std::uint32_t count = 0;
  if (!r.u32(count) || count == 0 || count > 8) return false;
  blocks.resize(count);
  for (BZip2CompressedBlock& b : blocks) {
    std::uint32_t length = 0;
    if (!r.u64(b.bitEnd) || !r.u32(b.crc) || !r.u32(length) || length > r.remaining()) return false;
    b.stream.resize(length);
    if (!r.bytes(b.stream.data(), length) || b.bitEnd < 32 || b.bitEnd > std::uint64_t(length) * 8)
      return false;
    b.ok = true;
  }
  return r.remaining() == 0;
}

// The bytes of one run, read from the store without being cleared first.
struct RunBytes {
  std::shared_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
};

// The payload's MD5, taken on a thread of its own as the runs are read, so that the reading,
// the splicing and the digest go on side by side.
class PayloadDigest {
public:
  PayloadDigest() : thread_([this] { work(); }) {}
  ~PayloadDigest() { finish(); }
  PayloadDigest(const PayloadDigest&) = delete;
  PayloadDigest& operator=(const PayloadDigest&) = delete;

  // Waits while a few runs are still waiting, so that memory stays bounded.
  void add(RunBytes bytes) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return waiting_.size() < kWaiting; });
    waiting_.push_back(std::move(bytes));
    ready_.notify_one();
  }
  // Waits for the runs added so far.
  Md5Digest finish() {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
      ready_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
    return sum_;
  }

private:
  void work() {
    for (;;) {
      RunBytes bytes;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return ending_ || !waiting_.empty(); });
        if (waiting_.empty()) break;
        bytes = std::move(waiting_.front());
        waiting_.pop_front();
        room_.notify_one();
      }
      md5_.update(bytes.data.get(), bytes.size);
    }
    sum_ = md5_.final();
  }

  static constexpr std::size_t kWaiting = 8;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<RunBytes> waiting_;
  bool ending_ = false;
  Md5 md5_;
  Md5Digest sum_{};
  std::thread thread_; // last: started once the rest is ready
};

CompressedRun compressRun(const RunBytes& bytes, BZip2Encoder encoder, BuildCache* cache) {
  CompressedRun run;
  ContentDigest key{};
  if (cache) {
    key = BuildCache::keyHasher(BuildCache::Kind::HiResRun)
              .update(std::uint64_t(encoder))
              .update(std::uint64_t(kBZip2BlockSize100k))
              .update(bytes.data.get(), bytes.size)
              .final();
    if (auto entry = cache->get(BuildCache::Kind::HiResRun, key)) {
      if (readRunEntry(entry->data(), entry->size(), run.blocks)) {
        run.fromCache = true;
        return run;
      }
      cache->discard(BuildCache::Kind::HiResRun, key); // whole, but not a run
      run.blocks.clear();
    }
  }
  run.blocks = compressBZip2Run(bytes.data.get(), bytes.size, kBZip2BlockSize100k, encoder);
  const bool ok = std::all_of(run.blocks.begin(), run.blocks.end(), [](const auto& b) { return b.ok; });
  if (cache && ok) {
    const std::vector<std::uint8_t> entry = runEntry(run.blocks);
    cache->put(BuildCache::Kind::HiResRun, key, entry.data(), entry.size());
  }
  return run;
}

// The section header and a placeholder for the payload digest; gives where the digest goes.
Result<std::uint64_t> writeHiResHead(const HiResTileTable& table, File& output) {
  HiResSectionHeader header{};
  std::memcpy(header.magic, kHiResMagic, sizeof header.magic);
  header.flags = kHiResFlagDigest;
  header.tileCount = table.tileCount;
  header.entryCount = table.entryCount;
  std::memcpy(header.groupCounts, table.groupCounts, sizeof header.groupCounts);
  header.scale = table.scale & 0xFFu;
  header.compression = kMethodBZip2;
  if (Status s = output.writeAll(&header, sizeof header); !s) return s.error();
  Result<std::uint64_t> digestPosition = output.position();
  if (!digestPosition) return digestPosition;
  const std::uint8_t placeholder[16] = {};
  if (Status s = output.writeAll(placeholder, sizeof placeholder); !s) return s.error();
  return digestPosition;
}

// The payload in runs: each is compressed a few ahead on the workers (or taken from the cache),
// and the runs are spliced into one bzip2 stream in order, while their MD5 is taken.
class RunWriter {
public:
  RunWriter(File& output, ThreadPool* pool, BZip2Encoder encoder, BuildCache* cache, HiResWriteStats& done)
      : output_(output), runs_(pool, pool ? 2 * std::size_t(pool->size()) : 1), encoder_(encoder),
        cache_(cache), done_(done) {}

  // Room for a run of `size` bytes, or null when memory is short.
  static RunBytes allocate(std::size_t size) {
    return RunBytes{std::shared_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]), size};
  }

  Status add(RunBytes bytes) {
    digest_.add(bytes);
    while (runs_.full())
      if (Status spliced = spliceOldest(); !spliced) return spliced;
    runs_.push([bytes = std::move(bytes), encoder = encoder_, cache = cache_] {
      return compressRun(bytes, encoder, cache);
    });
    return {};
  }

  // Splices what is still being compressed and ends the stream; gives the payload's MD5.
  Result<Md5Digest> finish() {
    while (!runs_.empty())
      if (Status spliced = spliceOldest(); !spliced) return spliced.error();
    if (Status s = splicer_.finish(output_); !s) return s.error();
    return digest_.finish();
  }

private:
  Status spliceOldest() {
    const CompressedRun run = runs_.pop();
    for (const BZip2CompressedBlock& block : run.blocks) {
      if (!block.ok)
        return makeError(ErrorCause::OutOfMemory, {}, "libbz2 could not compress the hi-res tiles");
      if (block.readBackFailed) ++done_.readBackFailed;
      if (Status s = splicer_.add(output_, block); !s) return s;
    }
    ++done_.runs;
    if (run.fromCache) ++done_.fromCache;
    return {};
  }

  File& output_;
  PayloadDigest digest_;
  OrderedTasks<CompressedRun> runs_;
  BZip2Splicer splicer_{kBZip2BlockSize100k};
  BZip2Encoder encoder_;
  BuildCache* cache_;
  HiResWriteStats& done_;
};

Error noMemoryForRuns() {
  return makeError(ErrorCause::OutOfMemory, {}, "no memory to compress the hi-res tiles");
}

// The tiles, read from the store in runs.
Status addTiles(HiResTileTable& table, RunWriter& writer, ProgressSink* progress,
                std::uint64_t payloadBytes) {
  const std::uint32_t tilesPerRun = hiResTilesPerRun(table.tileBytes);
  std::uint64_t added = 0;
  for (std::uint32_t t = 0; t < table.tileCount;) {
    if (cancelRequested(progress)) return cancelledError();
    const std::uint32_t count = std::min(tilesPerRun, table.tileCount - t);
    RunBytes bytes = RunWriter::allocate(std::size_t(count) * table.tileBytes);
    if (!bytes.data) return noMemoryForRuns();
    if (Status s = table.tempFile.readAt(bytes.data.get(), bytes.size, std::uint64_t(t) * table.tileBytes);
        !s)
      return s;
    added += bytes.size;
    if (Status s = writer.add(std::move(bytes)); !s) return s;
    t += count;
    reportProgress(progress, ProgressStage::CompressingHiRes, added, payloadBytes);
  }
  return {};
}

// The entry table as held in memory (little-endian 32-bit offsets), in runs of the same size.
Status addEntryTable(const HiResTileTable& table, RunWriter& writer) {
  const auto* offsets = reinterpret_cast<const std::uint8_t*>(table.entryOffsets.get());
  const std::uint64_t tableBytes = std::uint64_t(table.entryCount) * 4;
  const std::size_t runBytes = std::size_t(hiResTilesPerRun(table.tileBytes)) * table.tileBytes;
  for (std::uint64_t at = 0; at < tableBytes;) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(runBytes, tableBytes - at));
    RunBytes bytes = RunWriter::allocate(n);
    if (!bytes.data) return noMemoryForRuns();
    std::memcpy(bytes.data.get(), offsets + at, n);
    if (Status s = writer.add(std::move(bytes)); !s) return s;
    at += n;
  }
  return {};
}

// Puts the payload's digest in its place and leaves the file at its end.
Status patchDigest(File& output, std::uint64_t digestPosition, const Md5Digest& sum) {
  const Result<std::uint64_t> end = output.position();
  if (!end) return end.error();
  if (Status s = output.seek(digestPosition); !s) return s;
  if (Status s = output.writeAll(sum.data(), sum.size()); !s) return s;
  return output.seek(*end);
}

} // namespace

Status writeHiResSection(HiResTileTable& table, File& output, ProgressSink* progress, ThreadPool* pool,
                         Md5Digest* payloadDigest, BZip2Encoder encoder, BuildCache* cache,
                         HiResWriteStats* stats) {
  if (!tableIsComplete(table))
    return makeError(ErrorCause::InvalidArgument, {}, "the hi-res tiles are not complete");
  HiResWriteStats ownStats;
  HiResWriteStats& done = stats ? *stats : ownStats;
  done = {};

  const Result<std::uint64_t> digestPosition = writeHiResHead(table, output);
  if (!digestPosition) return digestPosition.error();
  const std::uint64_t payloadBytes = hiResPayloadSize(table.tileCount, table.scale, table.entryCount);
  RunWriter writer(output, pool, encoder, cache, done);
  if (Status s = addTiles(table, writer, progress, payloadBytes); !s) return s;
  if (Status s = addEntryTable(table, writer); !s) return s;
  const Result<Md5Digest> sum = writer.finish();
  if (!sum) return sum.error();
  reportProgress(progress, ProgressStage::CompressingHiRes, payloadBytes, payloadBytes);
  if (Status s = patchDigest(output, *digestPosition, *sum); !s) return s;
  if (payloadDigest) *payloadDigest = *sum;
  return {};
}

} // namespace zelvo

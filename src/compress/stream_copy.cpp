// The gzip and bzip2 copies of the original ROM loader and the copy of one zip entry: unpacked data
// go piece by piece into a scratch file. gzip and bzip2 files are decoded with zlib's inflate and
// libbz2's stream decoder over the open file through the stream classes' pumping, so that a stream
// cut short anywhere, or damaged (their own CRCs included), is noticed.
#include "compress/codec_error.h"
#include "compress/codec_steps.h"
#include "compress/rom_unpack.h"
#include "platform/fs.h"
#include "platform/temp_files.h"

#include <algorithm>
#include <bzlib.h>
#include <cstring>
#include <memory>
#include <new>
#include <zlib.h>

namespace zelvo {

namespace rom {

namespace {

constexpr std::size_t kPieceSize = kStagingBufferSize;
constexpr std::size_t kNextStreamLook = 10; // enough to tell the magic of a stream that follows

// A whole gzip or bzip2 file, decoded piece by piece. Streams that follow one another in the file
// (gzip members, bzip2 streams) are decoded in turn; other bytes after the last one are ignored.
class StreamSource {
public:
  explicit StreamSource(File& file) : file_(file) {}
  virtual ~StreamSource() = default;
  StreamSource(const StreamSource&) = delete;
  StreamSource& operator=(const StreamSource&) = delete;

  bool start() { return file_.seek(0).ok() && begin(); }

  // Up to `size` bytes into `buffer`; `got` 0 once the data have ended. The error of a damaged or
  // truncated stream or a failed read.
  Status read(std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size && !ended_) {
      std::size_t produced = 0;
      const Result<pump::Step> step = decompress(buffer + got, size - got, produced);
      got += produced;
      if (!step) return step.error();
      if (*step == pump::Step::End) {
        if (!nextStreamFollows())
          ended_ = true;
        else if (Status restarted = restart(); !restarted)
          return restarted;
      }
    }
    return {};
  }

protected:
  virtual bool begin() = 0;
  virtual Status restart() = 0;
  virtual Result<pump::Step> decompress(std::uint8_t* out, std::size_t size, std::size_t& produced) = 0;
  // Whether `head` (`length` bytes) begins another stream.
  virtual bool isNextStream(const std::uint8_t* head, std::size_t length) const = 0;

  File& file_;

private:
  // The file stands right after a finished stream: does another one begin there?
  bool nextStreamFollows() {
    std::uint8_t head[kNextStreamLook];
    const Result<std::size_t> got = file_.read(head, sizeof head);
    if (!got || !file_.seekBy(-std::int64_t(*got))) return false;
    return isNextStream(head, *got);
  }

  bool ended_ = false;
};

class GzipSource final : public StreamSource {
public:
  using StreamSource::StreamSource;
  ~GzipSource() override {
    if (started_) inflateEnd(&block_->stream);
  }

private:
  using Block = pump::StagedStream<z_stream, Bytef>;

  // windowBits 15 + 16: a gzip wrapper with its CRC-32 and length checked at the end.
  bool begin() override {
    block_.reset(new (std::nothrow) Block{});
    return block_ && (started_ = inflateInit2(&block_->stream, 15 + 16) == Z_OK);
  }
  Status restart() override {
    if (const int result = inflateReset(&block_->stream); result != Z_OK)
      return zlibError(result, block_->stream.msg, CodecSide::Decompressing);
    return {};
  }
  Result<pump::Step> decompress(std::uint8_t* out, std::size_t size, std::size_t& produced) override {
    z_stream& s = block_->stream;
    int result = Z_OK;
    return pump::decompressSome(file_, s, block_->staging, out, size, produced,
                                [&] { return pump::inflateStep(s, result); });
  }
  bool isNextStream(const std::uint8_t* head, std::size_t length) const override {
    return hasGzipMagic(head, length);
  }

  std::unique_ptr<Block> block_;
  bool started_ = false;
};

class Bzip2Source final : public StreamSource {
public:
  using StreamSource::StreamSource;
  ~Bzip2Source() override {
    if (started_) BZ2_bzDecompressEnd(&block_->stream);
  }

private:
  using Block = pump::StagedStream<bz_stream, char>;

  bool begin() override {
    block_.reset(new (std::nothrow) Block{});
    return block_ && init();
  }
  bool init() { return started_ = BZ2_bzDecompressInit(&block_->stream, 0, 0) == BZ_OK; }
  Status restart() override {
    BZ2_bzDecompressEnd(&block_->stream);
    started_ = false;
    block_->stream = bz_stream{};
    if (const int result = BZ2_bzDecompressInit(&block_->stream, 0, 0); result != BZ_OK)
      return bzip2Error(result, CodecSide::Decompressing);
    started_ = true;
    return {};
  }
  Result<pump::Step> decompress(std::uint8_t* out, std::size_t size, std::size_t& produced) override {
    bz_stream& s = block_->stream;
    int result = BZ_OK;
    return pump::decompressSome(file_, s, block_->staging, out, size, produced,
                                [&] { return pump::bzip2DecompressStep(s, result); });
  }
  bool isNextStream(const std::uint8_t* head, std::size_t length) const override {
    return hasBzip2Magic(head, length);
  }

  std::unique_ptr<Block> block_;
  bool started_ = false;
};

// Unpacks a gzip or bzip2 file into a scratch file. Content beyond 524800 bytes is allowed only
// when it begins with a container or pack magic, and never beyond the per-container bound.
Level copyStream(StreamSource& source, const char* kind, const Context& context) {
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kPieceSize]);
  if (!buffer || !source.start())
    return abort(context, ErrorCause::OutOfMemory, std::string("no memory to unpack the ") + kind + " data");
  Result<File> scratch = createScratchFile();
  if (!scratch) return Level(scratchError(scratch.error(), context));
  File& out = *scratch;

  RomProbe capture;
  std::uint64_t total = 0;
  bool limited = true;
  for (;;) {
    std::size_t n = 0;
    if (Status read = source.read(buffer.get(), kPieceSize, n); !read)
      return nothing(context, ErrorCause::BadFormat,
                     std::string("the ") + kind + " data of " + context.where +
                         " are damaged or cut short (" + read.error().detail + ")");
    if (n == 0) break;
    if (total < sizeof capture.head) {
      const std::size_t take = std::min<std::size_t>(sizeof capture.head - std::size_t(total), n);
      std::memcpy(capture.head + total, buffer.get(), take);
    }
    if (Status s = out.writeAll(buffer.get(), n); !s) return Level(scratchError(s.error(), context));
    total += n;
    if (total > kMaxUnpackedPerContainer)
      return abort(context, ErrorCause::LimitExceeded,
                   "more than " + std::to_string(kMaxUnpackedPerContainer >> 20) +
                       " MiB would be unpacked from " + context.where);
    if (limited && total > kRomMaxSize) {
      if (!hasContainerMagic(capture.head, sizeof capture.head) &&
          !context.isKnown(capture.head, sizeof capture.head))
        return nothing(context, ErrorCause::LimitExceeded,
                       context.where + " unpacks to more than " + std::to_string(kRomMaxSize) +
                           " bytes that are neither a ROM nor a container");
      limited = false;
    }
  }
  if (Status s = out.seek(0); !s) return Level(scratchError(s.error(), context));
  capture.size = std::uint32_t(total);

  if (hasContainerMagic(capture.head, sizeof capture.head))
    return loadNested(std::move(out), capture, context);
  return found({std::move(out), capture});
}

} // namespace

Error scratchError(const Error& system, const Context& context) {
  if (system.cause == ErrorCause::NoSpace)
    return makeError(ErrorCause::NoSpace, context.romPath,
                     "no space left in the temporary folder " + tempDirectory());
  return makeError(system.cause, context.romPath,
                   "the temporary folder " + tempDirectory() + ": " + system.detail);
}

Level copyGzip(File& file, const Context& context) {
  GzipSource source(file);
  return copyStream(source, "gzip", context);
}

Level copyBzip2(File& file, const Context& context) {
  Bzip2Source source(file);
  return copyStream(source, "bzip2", context);
}

Result<Extracted> extractEntry(File& file, IDecompressor& decompressor, std::uint32_t size,
                               const std::uint8_t* prefix, std::size_t prefixLength, std::uint32_t& written,
                               const Context& context) {
  written = 0;
  Result<File> scratch = createScratchFile();
  if (!scratch) return scratchError(scratch.error(), context);
  Extracted out;
  out.file = std::move(*scratch);
  uLong crc = crc32(0, Z_NULL, 0);
  if (prefix && prefixLength) {
    if (prefixLength > size)
      return makeError(ErrorCause::InvalidArgument, context.romPath,
                       "more bytes at hand than the entry holds");
    if (Status s = out.file.writeAll(prefix, prefixLength); !s) return scratchError(s.error(), context);
    crc = crc32(crc, prefix, uInt(prefixLength));
    written = std::uint32_t(prefixLength);
  }
  if (written < size) {
    const std::size_t pieceSize = std::min<std::size_t>(size - written, kPieceSize);
    std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[pieceSize]);
    if (!piece)
      return makeError(ErrorCause::OutOfMemory, context.romPath, "no memory to unpack " + context.where);
    while (written < size) {
      const std::size_t n = std::min<std::size_t>(size - written, kPieceSize);
      if (Status read = decompressor.Read(file, piece.get(), n); !read)
        return makeError(ErrorCause::BadFormat, context.romPath,
                         "the data end early or are damaged (" + read.error().detail + ")");
      if (Status s = out.file.writeAll(piece.get(), n); !s) return scratchError(s.error(), context);
      crc = crc32(crc, piece.get(), uInt(n));
      written += std::uint32_t(n);
    }
  }
  if (Status s = out.file.seek(0); !s) return scratchError(s.error(), context);
  out.crc = std::uint32_t(crc);
  return out;
}

} // namespace rom

} // namespace zelvo

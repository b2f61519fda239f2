// The original ROM loader: zip scan over the local headers, gzip and bzip2 stream copies, nesting.
// gzip and bzip2 files are decoded with zlib's inflate and libbz2's stream decoder over the open
// file, so that a stream cut short anywhere, or damaged, is noticed.
#include "compress/rom_loader.h"

#include "platform/byte_io.h"
#include "platform/temp_files.h"

#include <algorithm>
#include <bzlib.h>
#include <cstring>
#include <memory>
#include <new>
#include <zlib.h>

namespace zelvo {

namespace {

constexpr std::uint8_t kZipMagic[4] = {0x50, 0x4B, 0x03, 0x04};
constexpr std::uint8_t kGzipMagic[2] = {0x1F, 0x8B};
constexpr std::uint8_t kBzip2BlockMagic[6] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
constexpr std::uint8_t kPackMagicBytes[8] = {'M', 'S', 'H', 'I', 'R', 'O', 'M', 0};
constexpr char kRomSignature[8] = {'T', 'M', 'R', ' ', 'S', 'E', 'G', 'A'};

constexpr std::uint32_t kZipLocalHeaderSignature = 0x04034B50;
constexpr std::size_t kZipLocalHeaderSize = 30;
// Names this long or longer are passed over; the buffer also holds a candidate ROM's first
// 32760 bytes plus its copier header.
constexpr std::size_t kNameBufferSize = 33272;
constexpr std::uint32_t kSmallestEntry = 64; // entries this small or smaller are passed over
constexpr std::size_t kPieceSize = kStagingBufferSize;

static_assert(kRomSignatureOffset + sizeof kRomSignature == kRomMinSize);
static_assert(kRomMinSize + kCopierHeaderSize == kNameBufferSize);

template <std::size_t N>
bool startsWith(const std::uint8_t* head, std::size_t length, const std::uint8_t (&m)[N]) {
  return length >= N && std::memcmp(head, m, N) == 0;
}

bool hasContainerMagic(const std::uint8_t* head, std::size_t length) {
  return hasZipMagic(head, length) || hasBzip2Magic(head, length) || hasGzipMagic(head, length);
}

// What one level of the load came to.
enum class Outcome {
  Unreadable,   // the file could not be opened or its first 16 bytes read
  NotContainer, // the file is to be read as it is
  Rom,          // a ROM (or pack) was unpacked into a temporary file
  Nothing,      // a container that yielded no ROM
  Abort,        // the unpacking bounds were exceeded: the whole load fails
};

struct Level {
  Outcome outcome = Outcome::Unreadable;
  TempFileGuard temp; // the unpacked ROM when the outcome is Rom
  RomProbe probe;
};

Level loadFile(const std::string& path, int nesting);

// Creates a temporary file and opens it for writing.
bool createTemp(TempFileGuard& guard, File& out) {
  std::string name;
  if (!TempFileInTempDir(name)) return false;
  guard = TempFileGuard(std::move(name));
  out = File::create(guard.name());
  return bool(out);
}

// Unpacked copy of a nested container: its own load replaces it when that finds a ROM.
Level loadNested(TempFileGuard intermediate, int nesting) {
  Level inner = loadFile(intermediate.name(), nesting + 1);
  if (inner.outcome == Outcome::Rom || inner.outcome == Outcome::Abort) return inner;
  // An intermediate that yielded nothing is a container, not a ROM: it goes, and so does the claim.
  Level level;
  level.outcome = Outcome::Nothing;
  return level;
}

// --- gzip and bzip2 ------------------------------------------------------------------------------

// The whole gzip or bzip2 file, decoded piece by piece from an open file. Streams that follow one
// another in the file (gzip members, bzip2 streams) are decoded in turn; other bytes after the last
// one are ignored. Data that end before their stream does, or that the library finds damaged, fail.
class StreamDecoder {
public:
  explicit StreamDecoder(File& file) : file_(file) {}
  virtual ~StreamDecoder() = default;
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  bool start() {
    input_.reset(new (std::nothrow) std::uint8_t[kPieceSize]);
    return input_ && file_.seek(0) && begin();
  }
  // Up to `size` bytes into `buffer`; `got` 0 once the data have ended. False on a damaged or
  // truncated stream or a failed read.
  bool read(std::uint8_t* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size && !ended_) {
      if (available_ == 0 && !atEnd_ && !refill()) return false;
      std::size_t consumed = 0, produced = 0;
      const Step step = decode(next_, available_, buffer + got, size - got, consumed, produced);
      next_ += consumed, available_ -= consumed, got += produced;
      if (step == Step::Failed) return false;
      if (step == Step::StreamEnd) {
        if (!nextStreamFollows())
          ended_ = true;
        else if (!restart())
          return false;
      } else if (produced == 0 && consumed == 0 && (available_ > 0 || atEnd_)) {
        return false; // no way forward: the file ended inside the stream
      }
    }
    return true;
  }

protected:
  enum class Step { Progress, StreamEnd, Failed };
  virtual bool begin() = 0;
  virtual bool restart() = 0;
  virtual Step decode(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
                      std::size_t& consumed, std::size_t& produced) = 0;
  // Whether `head` (at least `length` bytes) begins another stream.
  virtual bool isNextStream(const std::uint8_t* head, std::size_t length) const = 0;

private:
  bool refill() {
    std::size_t done = 0;
    if (!file_.read(input_.get(), kPieceSize, done)) return false;
    next_ = input_.get(), available_ = done;
    atEnd_ = done == 0;
    return true;
  }
  // Looks at the bytes after a finished stream (moving what is left to the front first).
  bool nextStreamFollows() {
    constexpr std::size_t kLook = 10;
    if (available_ < kLook && !atEnd_) {
      std::memmove(input_.get(), next_, available_);
      next_ = input_.get();
      std::size_t done = 0;
      while (available_ < kLook && !atEnd_) {
        if (!file_.read(input_.get() + available_, kPieceSize - available_, done)) return false;
        available_ += done;
        atEnd_ = done == 0;
      }
    }
    return isNextStream(next_, available_);
  }

  File& file_;
  std::unique_ptr<std::uint8_t[]> input_;
  const std::uint8_t* next_ = nullptr;
  std::size_t available_ = 0;
  bool atEnd_ = false;
  bool ended_ = false;
};

class GzipDecoder final : public StreamDecoder {
public:
  using StreamDecoder::StreamDecoder;
  ~GzipDecoder() override {
    if (started_) inflateEnd(&stream_);
  }

private:
  // windowBits 15 + 16: a gzip wrapper with its CRC-32 and length checked at the end.
  bool begin() override { return started_ = inflateInit2(&stream_, 15 + 16) == Z_OK; }
  bool restart() override { return inflateReset(&stream_) == Z_OK; }
  Step decode(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
              std::size_t& consumed, std::size_t& produced) override {
    stream_.next_in = const_cast<Bytef*>(in);
    stream_.avail_in = uInt(inSize);
    stream_.next_out = out;
    stream_.avail_out = uInt(std::min<std::size_t>(outSize, kPieceSize));
    const uInt outBefore = stream_.avail_out;
    const int result = inflate(&stream_, Z_NO_FLUSH);
    consumed = inSize - stream_.avail_in;
    produced = outBefore - stream_.avail_out;
    if (result == Z_STREAM_END) return Step::StreamEnd;
    return result == Z_OK || result == Z_BUF_ERROR ? Step::Progress : Step::Failed;
  }
  bool isNextStream(const std::uint8_t* head, std::size_t length) const override {
    return hasGzipMagic(head, length);
  }

  z_stream stream_{};
  bool started_ = false;
};

class Bzip2Decoder final : public StreamDecoder {
public:
  using StreamDecoder::StreamDecoder;
  ~Bzip2Decoder() override {
    if (started_) BZ2_bzDecompressEnd(&stream_);
  }

private:
  bool begin() override { return started_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK; }
  bool restart() override {
    BZ2_bzDecompressEnd(&stream_);
    stream_ = bz_stream{};
    return begin();
  }
  Step decode(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize,
              std::size_t& consumed, std::size_t& produced) override {
    stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
    stream_.avail_in = unsigned(inSize);
    stream_.next_out = reinterpret_cast<char*>(out);
    stream_.avail_out = unsigned(std::min<std::size_t>(outSize, kPieceSize));
    const unsigned outBefore = stream_.avail_out;
    const int result = BZ2_bzDecompress(&stream_);
    consumed = inSize - stream_.avail_in;
    produced = outBefore - stream_.avail_out;
    if (result == BZ_STREAM_END) return Step::StreamEnd;
    return result == BZ_OK ? Step::Progress : Step::Failed;
  }
  bool isNextStream(const std::uint8_t* head, std::size_t length) const override {
    return hasBzip2Magic(head, length);
  }

  bz_stream stream_{};
  bool started_ = false;
};

// Unpacks a gzip or bzip2 file into a temporary file. Content beyond 524800 bytes is allowed only
// when it begins with a container or pack magic, and never beyond the per-container bound.
Level streamCopy(StreamDecoder& decoder, int nesting) {
  Level level;
  level.outcome = Outcome::Nothing;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kPieceSize]);
  TempFileGuard temp;
  File out;
  if (!buffer || !decoder.start() || !createTemp(temp, out)) return level;

  RomProbe capture;
  std::uint64_t total = 0;
  bool limited = true;
  for (;;) {
    std::size_t n = 0;
    if (!decoder.read(buffer.get(), kPieceSize, n)) return level; // damaged: what came is no ROM
    if (n == 0) break;
    if (total < sizeof capture.head) {
      const std::size_t take = std::min<std::size_t>(sizeof capture.head - std::size_t(total), n);
      std::memcpy(capture.head + total, buffer.get(), take);
    }
    if (!out.writeAll(buffer.get(), n)) return level;
    total += n;
    if (total > kMaxUnpackedPerContainer) {
      level.outcome = Outcome::Abort;
      return level;
    }
    if (limited && total > kRomMaxSize) {
      if (!hasContainerMagic(capture.head, sizeof capture.head) &&
          !hasPackMagic(capture.head, sizeof capture.head))
        return level;
      limited = false;
    }
  }
  if (!out.close()) return level;
  capture.size = std::uint32_t(total);

  if (hasContainerMagic(capture.head, sizeof capture.head)) return loadNested(std::move(temp), nesting);
  level.outcome = Outcome::Rom;
  level.temp = std::move(temp);
  level.probe = capture;
  return level;
}

// --- zip -----------------------------------------------------------------------------------------

struct ZipLocalHeader {
  std::uint32_t signature = 0;
  std::uint16_t method = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;

  bool parse(const std::uint8_t* bytes) {
    ByteReader r(bytes, kZipLocalHeaderSize);
    std::uint16_t ignored16 = 0;
    std::uint32_t ignored32 = 0;
    return r.u32(signature) && r.u16(ignored16) /* version needed */ && r.u16(ignored16) /* flags */ &&
           r.u16(method) && r.u16(ignored16) /* time */ && r.u16(ignored16) /* date */ &&
           r.u32(ignored32) /* CRC-32 */ && r.u32(compressedSize) && r.u32(uncompressedSize) &&
           r.u16(nameLength) && r.u16(extraLength);
  }
};

// The decompressor for a zip method, or -1 for a method the loader does not read.
int methodForZip(std::uint16_t zipMethod) {
  switch (zipMethod) {
  case 0:
    return kMethodStored;
  case 8:
    return kMethodDeflate;
  case 12:
    return kMethodBZip2;
  case 14:
    return kMethodLZMA;
  default:
    return -1;
  }
}

// The text from the last '.' after the last slash or backslash is ".sms", in any case.
bool hasSmsExtension(const char* name) {
  const char* base = name;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  const char* dot = std::strrchr(base, '.');
  if (!dot || std::strlen(dot) != 4) return false;
  const char* sms = ".sms";
  for (int i = 0; i < 4; ++i)
    if (char(dot[i] | (dot[i] >= 'A' && dot[i] <= 'Z' ? 0x20 : 0)) != sms[i]) return false;
  return true;
}

class ZipScan {
public:
  ZipScan(File& file, const RomProbe& own, int nesting) : file_(file), nesting_(nesting) {
    level_.probe = own;
    level_.outcome = Outcome::Nothing;
  }

  Level run() {
    buffer_.reset(new (std::nothrow) std::uint8_t[kNameBufferSize + 1]);
    if (!buffer_ || !file_.seek(0)) return std::move(level_);
    for (;;) {
      std::uint8_t raw[kZipLocalHeaderSize];
      std::size_t got = 0;
      ZipLocalHeader header;
      if (!file_.read(raw, sizeof raw, got) || got != sizeof raw || !header.parse(raw) ||
          header.signature != kZipLocalHeaderSignature)
        break; // the central directory, the end of the file, or no zip at all
      std::uint64_t headerEnd = 0;
      if (!file_.position(headerEnd)) break;
      const std::uint64_t dataStart = headerEnd + header.nameLength + header.extraLength;
      next_ = dataStart + header.compressedSize;

      const int method = methodForZip(header.method);
      if (header.nameLength >= kNameBufferSize || method < 0) {
        if (!passOver()) break;
        continue;
      }
      if (!file_.readExact(buffer_.get(), header.nameLength)) break;
      buffer_[header.nameLength] = 0;
      const bool smsName = hasSmsExtension(reinterpret_cast<const char*>(buffer_.get()));
      if (!file_.seek(dataStart)) break;
      if (header.uncompressedSize <= kSmallestEntry) {
        if (!passOver()) break;
        continue;
      }
      if (!examine(std::uint32_t(method), header.uncompressedSize, smsName)) break;
      if (level_.outcome != Outcome::Nothing) break;
      if (!passOver()) break;
    }
    return std::move(level_);
  }

private:
  // Looks at one entry. False ends the scan; otherwise the entry either settled the load or is
  // to be passed over.
  bool examine(std::uint32_t method, std::uint32_t size, bool smsName) {
    std::unique_ptr<IDecompressor> decompressor = CreateDecompressor(method);
    if (!decompressor) return false;
    std::uint8_t* head = buffer_.get();
    if (!decompressor->Read(file_, head, 16)) return true;

    if (hasPackMagic(head, 16)) return take(*decompressor, size, 16);
    if (hasContainerMagic(head, 16)) {
      TempFileGuard temp;
      if (!extract(*decompressor, size, 16, temp)) return level_.outcome != Outcome::Abort;
      Level nested = loadNested(std::move(temp), nesting_);
      if (nested.outcome == Outcome::Rom || nested.outcome == Outcome::Abort) level_ = std::move(nested);
      return true;
    }
    if (size < kRomMinSize || size > kRomMaxSize) return true;
    if (smsName) return take(*decompressor, size, 16); // no signature check for a named ROM

    const std::uint32_t copier =
        size >= kNameBufferSize && (size & kCopierHeaderSize) ? kCopierHeaderSize : 0;
    const std::size_t atHand = kRomMinSize + copier;
    if (!decompressor->Read(file_, head + 16, atHand - 16)) return false;
    if (std::memcmp(head + copier + kRomSignatureOffset, kRomSignature, sizeof kRomSignature) != 0)
      return true;
    return take(*decompressor, size, atHand);
  }

  // Unpacks the whole entry (the first `prefix` bytes are in the buffer) and makes it the result.
  bool take(IDecompressor& decompressor, std::uint32_t size, std::size_t prefix) {
    TempFileGuard temp;
    if (!extract(decompressor, size, prefix, temp)) return false;
    level_.outcome = Outcome::Rom;
    level_.temp = std::move(temp);
    std::memcpy(level_.probe.head, buffer_.get(), sizeof level_.probe.head);
    level_.probe.size = size;
    return true;
  }

  bool extract(IDecompressor& decompressor, std::uint32_t size, std::size_t prefix, TempFileGuard& temp) {
    unpacked_ += size;
    if (unpacked_ > kMaxUnpackedPerContainer) {
      level_.outcome = Outcome::Abort;
      return false;
    }
    std::uint32_t written = 0;
    std::string name = ExtractToTempFile(file_, decompressor, size, buffer_.get(), prefix, written);
    if (name.empty()) return false;
    temp = TempFileGuard(std::move(name));
    return true;
  }

  // Moves to the byte after the entry's compressed data, whatever the decompressor read.
  bool passOver() { return file_.seek(next_); }

  File& file_;
  int nesting_;
  Level level_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t next_ = 0;
  std::uint64_t unpacked_ = 0; // entries copied out of this zip so far
};

// --- one level -----------------------------------------------------------------------------------

Level loadFile(const std::string& path, int nesting) {
  Level level;
  File file = File::openRead(path);
  std::uint64_t size = 0;
  if (!file || !file.readExact(level.probe.head, sizeof level.probe.head) || !file.size(size)) {
    level.probe = RomProbe{};
    return level;
  }
  level.probe.size = std::uint32_t(std::min<std::uint64_t>(size, 0xFFFFFFFFu));

  const std::uint8_t* head = level.probe.head;
  const std::size_t length = sizeof level.probe.head;
  if (!hasContainerMagic(head, length)) {
    level.outcome = Outcome::NotContainer;
    return level;
  }
  if (nesting >= kMaxContainerNesting) {
    level.outcome = Outcome::Abort;
    return level;
  }
  const RomProbe own = level.probe;
  if (hasZipMagic(head, length)) {
    level = ZipScan(file, own, nesting).run();
  } else if (hasGzipMagic(head, length)) {
    GzipDecoder decoder(file);
    level = streamCopy(decoder, nesting);
  } else {
    Bzip2Decoder decoder(file);
    level = streamCopy(decoder, nesting);
  }
  // A container that failed is described by its own size and first bytes.
  if (level.outcome != Outcome::Rom) level.probe = own;
  return level;
}

} // namespace

bool hasZipMagic(const std::uint8_t* head, std::size_t length) { return startsWith(head, length, kZipMagic); }
bool hasGzipMagic(const std::uint8_t* head, std::size_t length) {
  return startsWith(head, length, kGzipMagic);
}
bool hasPackMagic(const std::uint8_t* head, std::size_t length) {
  return startsWith(head, length, kPackMagicBytes);
}
bool hasBzip2Magic(const std::uint8_t* head, std::size_t length) {
  return length >= 10 && head[0] == 'B' && head[1] == 'Z' && head[2] == 'h' && head[3] >= '1' &&
         head[3] <= '9' && std::memcmp(head + 4, kBzip2BlockMagic, sizeof kBzip2BlockMagic) == 0;
}

std::string ExtractToTempFile(File& file, IDecompressor& decompressor, std::uint32_t size,
                              const std::uint8_t* prefix, std::size_t prefixLength, std::uint32_t& written) {
  written = 0;
  TempFileGuard temp;
  File out;
  if (!createTemp(temp, out)) return {};
  if (prefix && prefixLength) {
    if (prefixLength > size || !out.writeAll(prefix, prefixLength)) return {};
    written = std::uint32_t(prefixLength);
  }
  if (written < size) {
    const std::size_t pieceSize = std::min<std::size_t>(size - written, kPieceSize);
    std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[pieceSize]);
    if (!piece) return {};
    while (written < size) {
      const std::size_t n = std::min<std::size_t>(size - written, kPieceSize);
      if (!decompressor.Read(file, piece.get(), n) || !out.writeAll(piece.get(), n)) return {};
      written += std::uint32_t(n);
    }
  }
  if (!out.close()) return {};
  return temp.release();
}

RomLoadResult LoadOriginalRom(const std::string& path) {
  Level level = loadFile(path, 0);
  RomLoadResult result;
  switch (level.outcome) {
  case Outcome::Rom:
    result.tempName = level.temp.release();
    result.probe = level.probe;
    break;
  case Outcome::Unreadable:
  case Outcome::NotContainer:
    result.probe = level.probe;
    break;
  case Outcome::Nothing:
  case Outcome::Abort:
    // The container's own size and first bytes; every temporary file is gone by now.
    result.probe = level.probe;
    result.containerYieldedNothing = true;
    break;
  }
  return result;
}

} // namespace zelvo

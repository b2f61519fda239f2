// The zip scan of the original ROM loader: walks the local headers from the start of the file (the
// central directory is never read) and takes the first entry that is a ROM, data the caller knows
// (a pack) or a container holding one. Every entry it unpacks is checked against the CRC-32 and
// sizes of its header.
#include "compress/rom_unpack.h"

#include "platform/byte_io.h"

#include <cstring>
#include <memory>
#include <new>

namespace zelvo::rom {

namespace {

constexpr std::uint32_t kZipLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kZipDescriptorSignature = 0x08074B50;
constexpr std::size_t kZipLocalHeaderSize = 30;
constexpr std::uint16_t kZipFlagDescriptor = 8; // CRC and sizes follow the data
// Names this long or longer are passed over; the buffer also holds a candidate ROM's first
// 32760 bytes plus its copier header.
constexpr std::size_t kNameBufferSize = 33272;
constexpr std::uint32_t kSmallestEntry = 64; // entries this small or smaller are passed over
constexpr std::size_t kProbeBytes = sizeof RomProbe{}.head;

static_assert(kRomMinSize + kCopierHeaderSize == kNameBufferSize);

struct ZipLocalHeader {
  std::uint32_t signature = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;

  bool parse(const std::uint8_t* bytes) {
    ByteReader r(bytes, kZipLocalHeaderSize);
    std::uint16_t ignored = 0;
    return r.u32(signature) && r.u16(ignored) /* version needed */ && r.u16(flags) && r.u16(method) &&
           r.u16(ignored) /* time */ && r.u16(ignored) /* date */ && r.u32(crc) && r.u32(compressedSize) &&
           r.u32(uncompressedSize) && r.u16(nameLength) && r.u16(extraLength);
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

// One entry as the scan sees it.
struct Entry {
  ZipLocalHeader header;
  std::uint32_t method = 0; // CompressionMethod
  std::uint64_t dataStart = 0;
  std::string label; // "game.sms inside rom.zip"
};

class ZipScan {
public:
  ZipScan(File& file, const Context& context)
      : file_(file), context_(context),
        level_(nothing(context, ErrorCause::BadFormat, "no ROM among the entries of " + context.where)) {}

  Level run() {
    buffer_.reset(new (std::nothrow) std::uint8_t[kNameBufferSize + 1]);
    if (!buffer_) return abort(context_, ErrorCause::OutOfMemory, "no memory to scan " + context_.where);
    if (!file_.seek(0)) return std::move(level_);
    for (;;) {
      std::uint8_t raw[kZipLocalHeaderSize];
      Entry entry;
      ZipLocalHeader& header = entry.header;
      if (!file_.readExact(raw, sizeof raw) || !header.parse(raw) ||
          header.signature != kZipLocalHeaderSignature)
        break; // the central directory, the end of the file, or no zip at all
      const Result<std::uint64_t> headerEnd = file_.position();
      if (!headerEnd) break;
      entry.dataStart = *headerEnd + header.nameLength + header.extraLength;
      next_ = entry.dataStart + header.compressedSize;

      const int method = methodForZip(header.method);
      if (header.nameLength >= kNameBufferSize || method < 0) {
        if (!passOver()) break;
        continue;
      }
      entry.method = std::uint32_t(method);
      if (!file_.readExact(buffer_.get(), header.nameLength)) break;
      buffer_[header.nameLength] = 0;
      const char* name = reinterpret_cast<const char*>(buffer_.get());
      const bool smsName = hasSmsExtension(name);
      entry.label = std::string(name) + " inside " + context_.where;
      if (!file_.seek(entry.dataStart)) break;
      if (header.uncompressedSize <= kSmallestEntry) {
        if (!passOver()) break;
        continue;
      }
      if (!examine(entry, smsName)) break;
      if (!level_ || *level_) break; // the load ends, or a ROM was found
      if (!passOver()) break;
    }
    return std::move(level_);
  }

private:
  // Looks at one entry. False ends the scan; otherwise the entry either settled the load or is
  // to be passed over.
  bool examine(const Entry& entry, bool smsName) {
    const std::uint32_t size = entry.header.uncompressedSize;
    Result<std::unique_ptr<IDecompressor>> made = CreateDecompressor(entry.method);
    if (!made) return false;
    std::unique_ptr<IDecompressor> decompressor = std::move(*made);
    std::uint8_t* head = buffer_.get();
    if (Status read = decompressor->Read(file_, head, kProbeBytes); !read) {
      // Passed over like any entry that is no ROM, but if none is found this is the likely why.
      level_ = nothing(context_, ErrorCause::BadFormat,
                       "no ROM among the entries of " + context_.where + "; " + entry.label +
                           " cannot be unpacked (" + read.error().detail + ")");
      return true;
    }

    if (context_.isKnown(head, kProbeBytes)) return take(entry, *decompressor, kProbeBytes);
    if (hasContainerMagic(head, kProbeBytes)) {
      RomProbe inner;
      std::memcpy(inner.head, head, kProbeBytes);
      inner.size = size;
      Result<File> unpacked = extract(entry, *decompressor, kProbeBytes);
      if (!unpacked) return level_.ok(); // a damaged entry is passed over
      Context nested = context_;
      nested.where = entry.label;
      Level level = loadNested(std::move(*unpacked), inner, nested);
      if (!level || *level) level_ = std::move(level); // a container without a ROM is passed over
      return true;
    }
    if (!romSizeAllowed(size)) return true;
    if (smsName) return take(entry, *decompressor, kProbeBytes); // no signature check for a named ROM

    const std::uint32_t copier = size >= kNameBufferSize ? copierHeaderOf(size) : 0;
    const std::size_t atHand = kRomMinSize + copier;
    if (!decompressor->Read(file_, head + kProbeBytes, atHand - kProbeBytes)) return false;
    if (!hasRomSignature(head + copier, kRomMinSize)) return true;
    return take(entry, *decompressor, atHand);
  }

  // Unpacks the whole entry (the first `prefix` bytes are in the buffer) and makes it the result.
  bool take(const Entry& entry, IDecompressor& decompressor, std::size_t prefix) {
    Result<File> unpacked = extract(entry, decompressor, prefix);
    if (!unpacked) return false;
    Unpacked rom{std::move(*unpacked), {}};
    std::memcpy(rom.probe.head, buffer_.get(), sizeof rom.probe.head);
    rom.probe.size = entry.header.uncompressedSize;
    level_ = found(std::move(rom));
    return true;
  }

  // The whole entry in a scratch file, checked against its CRC-32 and sizes. A damaged entry
  // leaves the level yielding nothing; the bounds, a mismatch or a failing scratch file abort it.
  Result<File> extract(const Entry& entry, IDecompressor& decompressor, std::size_t prefix) {
    const std::uint32_t size = entry.header.uncompressedSize;
    unpacked_ += size;
    if (unpacked_ > kMaxUnpackedPerContainer)
      return aborted(makeError(ErrorCause::LimitExceeded, context_.romPath,
                               "more than " + std::to_string(kMaxUnpackedPerContainer >> 20) +
                                   " MiB would be unpacked from " + context_.where));
    std::uint32_t written = 0;
    Result<Extracted> copy =
        extractEntry(file_, decompressor, size, buffer_.get(), prefix, written, context_);
    if (!copy) {
      if (copy.error().cause != ErrorCause::BadFormat) return aborted(copy.error());
      level_ = nothing(context_, ErrorCause::BadFormat,
                       "the data of " + entry.label + " end early or are damaged");
      return level_->error();
    }
    if (Status checked = check(entry, decompressor, copy->crc); !checked) return aborted(checked.error());
    return std::move(copy->file);
  }

  // Ends the whole load with `why`.
  Error aborted(const Error& why) {
    level_ = why;
    return why;
  }

  // The CRC-32 of the unpacked data and the place where the entry's data end must be those its
  // header (or the data descriptor after the data) gives.
  Status check(const Entry& entry, IDecompressor& decompressor, std::uint32_t crc) {
    const ZipLocalHeader& header = entry.header;
    const std::uint64_t end = entry.dataStart + header.compressedSize;
    std::uint32_t expected = header.crc;
    if ((header.flags & kZipFlagDescriptor) && expected == 0) {
      std::uint8_t descriptor[8];
      if (!file_.readAt(descriptor, sizeof descriptor, end))
        return makeError(ErrorCause::Truncated, context_.romPath, "no data descriptor after " + entry.label);
      expected =
          loadLE32(descriptor) == kZipDescriptorSignature ? loadLE32(descriptor + 4) : loadLE32(descriptor);
    }
    if (crc != expected)
      return makeError(ErrorCause::DigestMismatch, context_.romPath, "CRC mismatch in " + entry.label);

    bool endsRight = true;
    if (entry.method == kMethodStored) {
      endsRight = header.compressedSize == header.uncompressedSize;
    } else {
      // Deflate and bzip2 streams must end right after the last byte (a further byte does not
      // come, and the file then stands on the stream's end); LZMA data must not run past theirs.
      std::uint8_t extra = 0;
      if (entry.method != kMethodLZMA && decompressor.Read(file_, &extra, 1)) endsRight = false;
      const Result<std::uint64_t> position = file_.position();
      endsRight =
          endsRight && position && (entry.method == kMethodLZMA ? *position <= end : *position == end);
    }
    if (!endsRight)
      return makeError(ErrorCause::BadFormat, context_.romPath,
                       "the data of " + entry.label + " do not end where its sizes say");
    return {};
  }

  // Moves to the byte after the entry's compressed data, whatever the decompressor read.
  bool passOver() { return file_.seek(next_).ok(); }

  File& file_;
  const Context& context_;
  Level level_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t next_ = 0;
  std::uint64_t unpacked_ = 0; // entries copied out of this zip so far
};

} // namespace

Level scanZip(File& file, const Context& context) { return ZipScan(file, context).run(); }

} // namespace zelvo::rom

// The original ROM loader's top: the file the user named and containers nested in one another. The zip scan
// is in zip_scan.cpp, the gzip and bzip2 copies and the copy of one entry in stream_copy.cpp.
#include "compress/rom_unpack.h"
#include "compress/section_reader.h"

#include "platform/path.h"

#include <algorithm>

namespace zelvo {

namespace rom {

Level nothing(const Context& context, ErrorCause cause, const std::string& detail) {
  return Found(makeError(cause, context.romPath, detail));
}

Level abort(const Context& context, ErrorCause cause, const std::string& detail) {
  return makeError(cause, context.romPath, detail);
}

Level loadContainer(File& file, const RomProbe& own, const Context& context) {
  if (context.nesting >= kMaxContainerNesting)
    return abort(context, ErrorCause::LimitExceeded,
                 "containers are nested more than " + std::to_string(kMaxContainerNesting) + " deep in " +
                     context.where);
  if (hasZipMagic(own.head, sizeof own.head)) return scanZip(file, context);
  if (hasGzipMagic(own.head, sizeof own.head)) return copyGzip(file, context);
  return copyBzip2(file, context);
}

Level loadNested(File unpacked, const RomProbe& probe, const Context& context) {
  Context inner = context;
  ++inner.nesting;
  // Whatever comes of it, the intermediate copy goes when `unpacked` closes.
  return loadContainer(unpacked, probe, inner);
}

} // namespace rom

namespace {

// Opens the named file and reads its first 16 bytes and its size.
Result<File> openWithProbe(const std::string& path, RomProbe& probe) {
  Result<File> file = File::openRead(path);
  if (!file) return file;
  const Result<std::size_t> got = file->read(probe.head, sizeof probe.head);
  if (!got) return got.error();
  const Result<std::uint64_t> sized = file->size();
  if (!sized) return sized.error();
  const std::uint64_t size = *sized;
  if (*got < sizeof probe.head)
    return makeError(ErrorCause::Truncated, path, "the file holds only " + std::to_string(*got) + " bytes");
  // The probe holds a 32-bit size: a larger file is named as what it is.
  if (size > 0xFFFFFFFFu)
    return makeError(ErrorCause::LimitExceeded, path,
                     "the file holds " + sizeText(size) +
                         "; a ROM, or a container of one, holds less than 4 GiB");
  probe.size = std::uint32_t(size);
  return file;
}

} // namespace

Result<LoadedRom> loadOriginalRom(const std::string& path, KnownFileTest known) {
  LoadedRom loaded;
  Result<File> file = openWithProbe(path, loaded.probe);
  if (!file) return file.error();
  if (!hasContainerMagic(loaded.probe.head, sizeof loaded.probe.head)) {
    if (Status s = file->seek(0); !s) return s.error();
    loaded.file = std::move(*file);
    return loaded;
  }
  const rom::Context context{path, fileNameOf(path), 0, known};
  rom::Level level = rom::loadContainer(*file, loaded.probe, context);
  if (!level) return level.error();
  if (!*level) return level->error();
  rom::Unpacked& unpacked = **level;
  loaded.file = std::move(unpacked.file);
  loaded.probe = unpacked.probe;
  loaded.unpacked = true;
  return loaded;
}

} // namespace zelvo

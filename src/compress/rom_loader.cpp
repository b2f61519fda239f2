// The original ROM loader's top: the file the user named, containers nested in one another, and the
// two shapes of the result. The zip scan is in zip_scan.cpp, the gzip and bzip2 copies and the copy
// of one entry in stream_copy.cpp.
#include "compress/rom_unpack.h"
#include "compress/section_reader.h"

#include "platform/path.h"

#include <algorithm>

namespace zelvo {

namespace rom {

namespace {

Level failed(Outcome outcome, const Context& context, ErrorCause cause, const std::string& detail) {
  Level level;
  level.outcome = outcome;
  level.reason = makeError(cause, context.romPath, detail);
  return level;
}

} // namespace

Level nothing(const Context& context, ErrorCause cause, const std::string& detail) {
  return failed(Outcome::Nothing, context, cause, detail);
}

Level abort(const Context& context, ErrorCause cause, const std::string& detail) {
  return failed(Outcome::Abort, context, cause, detail);
}

Level loadContainer(File& file, const RomProbe& own, const Context& context) {
  if (context.nesting >= kMaxContainerNesting)
    return abort(context, ErrorCause::LimitExceeded,
                 "containers are nested more than " + std::to_string(kMaxContainerNesting) + " deep in " +
                     context.where);
  Level level;
  if (hasZipMagic(own.head, sizeof own.head))
    level = scanZip(file, context);
  else if (hasGzipMagic(own.head, sizeof own.head))
    level = copyGzip(file, context);
  else
    level = copyBzip2(file, context);
  // A container that failed is described by its own size and first bytes.
  if (level.outcome != Outcome::Rom) level.probe = own;
  return level;
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
  File file = File::openRead(path);
  if (!file) return File::openFailure(path, "opening");
  std::size_t got = 0;
  std::uint64_t size = 0;
  if (!file.read(probe.head, sizeof probe.head, got) || !file.size(size))
    return systemError(file.lastError(), path, "reading");
  if (got < sizeof probe.head)
    return makeError(ErrorCause::Truncated, path, "the file holds only " + std::to_string(got) + " bytes");
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
    if (!file->seek(0)) return systemError(file->lastError(), path, "reading");
    loaded.file = std::move(*file);
    return loaded;
  }
  const rom::Context context{path, fileNameOf(path), 0, known};
  rom::Level level = rom::loadContainer(*file, loaded.probe, context);
  if (level.outcome != rom::Outcome::Rom) return level.reason;
  loaded.file = std::move(level.file);
  loaded.probe = level.probe;
  loaded.unpacked = true;
  return loaded;
}

RomLoadResult LoadOriginalRom(const std::string& path, KnownFileTest known) {
  RomLoadResult result;
  Result<LoadedRom> loaded = loadOriginalRom(path, known);
  if (loaded) {
    result.probe = loaded->probe;
    if (loaded->unpacked) result.unpacked = std::move(loaded->file);
    return result;
  }
  // A container that yielded nothing is described by its own size and first bytes; a file that
  // cannot be read, by nothing at all.
  RomProbe own;
  if (openWithProbe(path, own) && hasContainerMagic(own.head, sizeof own.head)) {
    result.probe = own;
    result.containerYieldedNothing = true;
  }
  return result;
}

} // namespace zelvo

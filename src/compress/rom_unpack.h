// The pieces of the original ROM loader, shared by its source files (not for other users): one
// level of unpacking, the zip scan, the gzip and bzip2 copies, and the copy of one entry.
#pragma once

#include "compress/rom_loader.h"
#include "platform/error.h"

#include <cstdint>
#include <string>
#include <utility>

namespace zelvo::rom {

// What one level of the load unpacked: the ROM (or data the caller knows), in a scratch file open
// at its start, with its probe.
struct Unpacked {
  File file;
  RomProbe probe;
};
// What one level found: what it unpacked, or why this container holds no ROM (an outer zip then
// goes on with its next entry).
using Found = Result<Unpacked>;
// One level of the load: what it found, or the error that ends the whole load at once (the
// unpacking bounds exceeded, a corrupt entry, the scratch folder failing, memory).
using Level = Result<Found>;

// Where a level stands: the file the user named (for errors), how deep in containers, and how the
// data at hand are called in messages ("game.sms inside rom.zip").
struct Context {
  std::string romPath;
  std::string where;
  int nesting = 0;
  KnownFileTest known = nullptr; // data handed over as they are, see loadOriginalRom

  bool isKnown(const std::uint8_t* head, std::size_t length) const { return known && known(head, length); }
};

// A level that found no ROM, and one that ends the load, with the error naming the user's file.
Level nothing(const Context& context, ErrorCause cause, const std::string& detail);
Level abort(const Context& context, ErrorCause cause, const std::string& detail);
inline Level found(Unpacked unpacked) { return Found(std::move(unpacked)); }
inline bool foundRom(const Level& level) { return level.ok() && level->ok(); }
// The error of a scratch file that could not be created (`system`) or written (`err`, an errno
// value), told as the load's: a full temporary folder says so.
Error scratchError(const Error& system, const Context& context);

// One level: `file` starts with a container magic; `own` is its probe.
Level loadContainer(File& file, const RomProbe& own, const Context& context);
// Unpacked data that begin with a container magic: their own load replaces them when it finds a
// ROM; otherwise they are a container, not a ROM, and yield nothing.
Level loadNested(File unpacked, const RomProbe& probe, const Context& context);

Level scanZip(File& file, const Context& context);
Level copyGzip(File& file, const Context& context);
Level copyBzip2(File& file, const Context& context);

// Copies an entry into a new scratch file: first `prefixLength` bytes of `prefix` (already taken
// from the decompressor), then bytes read through `decompressor` until `size` bytes in all are
// written. `written` says how many were written either way; `crc` is the CRC-32 of them.
struct Extracted {
  File file; // at its start
  std::uint32_t crc = 0;
};
Result<Extracted> extractEntry(File& file, IDecompressor& decompressor, std::uint32_t size,
                               const std::uint8_t* prefix, std::size_t prefixLength, std::uint32_t& written,
                               const Context& context);

} // namespace zelvo::rom

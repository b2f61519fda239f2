// Finding the original ROM in the file the user named: a plain ROM image, or one packed into a zip,
// gzip or bzip2 file, also one container inside another. Containers are told by their first bytes,
// never by the file name; a ROM inside a zip by its entry name (".sms") or the ROM signature. Every
// zip entry unpacked is checked against its CRC-32 and sizes; gzip and bzip2 data carry their own
// checks. Unpacked data go to scratch files that the system removes when they close or the process
// dies, so nothing is ever left to delete.
//
//   Result<LoadedRom> rom = loadOriginalRom(romPath, hasPackMagic);
//   if (!rom || !romSizeAllowed(rom->probe.size) || hasPackMagic(rom->probe.head, 16))
//     -> "Error: invalid original ROM" (rom.error() or checkRomSize says why)
//   read the ROM from rom->file
#pragma once

#include "compress/container_magic.h"
#include "compress/rom_rules.h"
#include "compress/streams.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

// Bounds on what one load may unpack: bytes unpacked from any one container, and containers
// nested in one another. Beyond either the load fails and leaves no temporary file behind.
inline constexpr std::uint64_t kMaxUnpackedPerContainer = 64ull << 20;
inline constexpr int kMaxContainerNesting = 8;

// The first 16 bytes (zero where the data are shorter) and the size of the data to be used.
struct RomProbe {
  std::uint8_t head[16] = {};
  std::uint32_t size = 0;
};

struct LoadedRom {
  // Open at its start: the unpacked ROM (a scratch file without a name) or the named file itself
  // when it is no container.
  File file;
  RomProbe probe;        // of `file`
  bool unpacked = false; // whether the ROM came out of a container
};

// A test on the first bytes of a file (or unpacked entry) that the caller knows as no ROM but wants
// to name, as the build names a pack given in place of the ROM. Such data are handed over as a ROM
// would be, whatever their size, and their probe tells the caller what they are.
using KnownFileTest = bool (*)(const std::uint8_t* head, std::size_t length);

// Loads the ROM the user named. The error says why nothing can be had: the file cannot be opened or
// holds fewer than 16 bytes; a container without a ROM, a damaged one, a CRC or size mismatch ("CRC
// mismatch in game.sms inside rom.zip"), the unpacking bounds exceeded (LimitExceeded), or the
// temporary folder failing (NoSpace when it is full). The ROM's size is the caller's to check.
Result<LoadedRom> loadOriginalRom(const std::string& path, KnownFileTest known = nullptr);

// The same result in the older shape.
struct RomLoadResult {
  // The unpacked ROM, open at its start and without a name; not open when the named file itself
  // is to be read (it is no container, it could not be opened, or it is a container that yielded
  // nothing).
  File unpacked;
  // Of the unpacked file when there is one, else of the named file itself (zero when the file
  // could not be opened or its first 16 bytes could not be read).
  RomProbe probe;
  // The file is a container but no ROM came out of it (none found, a damaged stream, a CRC
  // mismatch, or the unpacking bounds were exceeded). The file is then no ROM and must be refused.
  bool containerYieldedNothing = false;
};

RomLoadResult LoadOriginalRom(const std::string& path, KnownFileTest known = nullptr);

// Copies an entry into a new scratch file: first the `prefix` bytes already taken from the
// decompressor (when both pointer and length are nonzero), then bytes read through `decompressor`
// from `file` until `size` bytes in all are written, in pieces of at most 16384 bytes. Returns the
// file, open at its start, or a closed file on any failure. `written` receives the number of bytes
// written either way.
File ExtractToTempFile(File& file, IDecompressor& decompressor, std::uint32_t size,
                       const std::uint8_t* prefix, std::size_t prefixLength, std::uint32_t& written);

} // namespace zelvo

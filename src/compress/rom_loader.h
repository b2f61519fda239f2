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

} // namespace zelvo

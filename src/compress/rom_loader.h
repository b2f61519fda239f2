// Finding the original ROM in the file the user named: a plain ROM image, or one packed into a zip,
// gzip or bzip2 file, also one container inside another. Containers are told by their first bytes,
// never by the file name; a ROM inside a zip by its entry name (".sms") or the ROM signature.
//
//   RomLoadResult rom = LoadOriginalRom(romPath);
//   TempFileGuard unpacked(rom.tempName); // the caller deletes the unpacked copy
//   if (rom.containerYieldedNothing || rom.probe.size < kRomMinSize || rom.probe.size > kRomMaxSize ||
//       romProbeIsPack(rom.probe)) -> "Error: invalid original ROM"
//   File data = File::openRead(rom.tempName.empty() ? romPath : rom.tempName);
#pragma once

#include "compress/streams.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

// Sizes a ROM image may have, with or without a 512-byte copier header.
inline constexpr std::uint32_t kRomMinSize = 32760;  // 0x7FF8
inline constexpr std::uint32_t kRomMaxSize = 524800; // 0x80200
inline constexpr std::uint32_t kCopierHeaderSize = 512;
// "TMR SEGA" stands at this offset of a ROM image (after the copier header, when there is one).
inline constexpr std::uint32_t kRomSignatureOffset = 0x7FF0;

// Bounds on what one load may unpack: bytes unpacked from any one container, and containers
// nested in one another. Beyond either the load fails and leaves no temporary file behind.
inline constexpr std::uint64_t kMaxUnpackedPerContainer = 64ull << 20;
inline constexpr int kMaxContainerNesting = 8;

// The first 16 bytes (zero where the data are shorter) and the size of the data to be used.
struct RomProbe {
  std::uint8_t head[16] = {};
  std::uint32_t size = 0;
};

struct RomLoadResult {
  // The unpacked ROM in a temporary file the caller deletes; empty when the file itself is to be
  // read (it is no container, it could not be opened, or it is a container that yielded nothing).
  std::string tempName;
  // Of the temporary file when there is one, else of the named file itself (zero when the file
  // could not be opened or its first 16 bytes could not be read).
  RomProbe probe;
  // The file is a container but no ROM came out of it (none found, a damaged stream, or the
  // unpacking bounds were exceeded). The file is then no ROM and must be refused.
  bool containerYieldedNothing = false;
};

RomLoadResult LoadOriginalRom(const std::string& path);

// Copies an entry into a new temporary file: first the `prefix` bytes already taken from the
// decompressor (when both pointer and length are nonzero), then bytes read through `decompressor`
// from `file` until `size` bytes in all are written, in pieces of at most 16384 bytes. Returns the
// file's name, or an empty name after deleting the file on any failure. `written` receives the
// number of bytes written either way.
std::string ExtractToTempFile(File& file, IDecompressor& decompressor, std::uint32_t size,
                              const std::uint8_t* prefix, std::size_t prefixLength, std::uint32_t& written);

// Tests on the first bytes of a file or an unpacked entry.
bool hasZipMagic(const std::uint8_t* head, std::size_t length);
bool hasGzipMagic(const std::uint8_t* head, std::size_t length);
// "BZh" and a block size digit 1 to 9, followed by the block magic 31 41 59 26 53 59.
bool hasBzip2Magic(const std::uint8_t* head, std::size_t length);
// "MSHIROM" followed by a zero byte.
bool hasPackMagic(const std::uint8_t* head, std::size_t length);
inline bool romProbeIsPack(const RomProbe& probe) { return hasPackMagic(probe.head, sizeof probe.head); }

} // namespace zelvo

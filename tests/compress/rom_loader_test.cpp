// The original ROM loader: plain files, zip entries of every method, the name and signature rules,
// nesting, containers that yield nothing, damaged streams and the unpacking bounds. Every test runs
// with TMPDIR pointed at a folder of its own, in which no named file may ever appear.
#include "compress/rom_loader.h"
#include "compress/rom_unpack.h"

#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "support/fixtures.h"
#include "support/rom_fixtures.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace zelvo::test {
namespace {

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes head16(const Bytes& b) {
  Bytes h(16, 0);
  std::memcpy(h.data(), b.data(), std::min<std::size_t>(16, b.size()));
  return h;
}
Bytes head16(const RomProbe& p) { return Bytes(p.head, p.head + 16); }
// Everything from the file's current position.
std::string rest(File& file) {
  std::string all;
  char piece[65536];
  for (Result<std::size_t> got = file.read(piece, sizeof piece); got && *got > 0;
       got = file.read(piece, sizeof piece))
    all.append(piece, *got);
  return all;
}
// Where the system keeps an open file (a file without a name shows as its folder and a number).
std::string whereIs(const File& file) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(file.descriptor()), ec).string();
}
Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr std::uint8_t kPack[8] = {'M', 'S', 'H', 'I', 'R', 'O', 'M', 0};
// The caller's test of data it knows as no ROM, as the build knows a pack.
bool isPack(const std::uint8_t* head, std::size_t length) {
  return length >= sizeof kPack && std::memcmp(head, kPack, sizeof kPack) == 0;
}

class RomLoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    tmp = dir.file("tmp");
    ASSERT_TRUE(createDirectory(tmp));
    tmpDir = std::make_unique<ScopedTmpDir>(tmp);
  }
  void TearDown() override {
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(tmp, ec)) << countTmpFiles(tmp) << " temporary files left behind";
    tmpDir.reset();
  }

  std::string put(const std::string& name, const Bytes& bytes) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeFileBytes(path, bytes.data(), bytes.size()));
    return path;
  }

  // The loader unpacked `rom` into a file of the temporary folder that has no name.
  void expectUnpacked(const std::string& path, const Bytes& rom) {
    Result<LoadedRom> r = loadOriginalRom(path, isPack);
    ASSERT_TRUE(r) << path << ": " << r.error().message();
    EXPECT_TRUE(r->unpacked);
    EXPECT_EQ(whereIs(r->file).rfind(tmp, 0), 0u) << whereIs(r->file);
    EXPECT_EQ(countTmpFiles(tmp), 0u);
    EXPECT_EQ(r->probe.size, rom.size());
    EXPECT_EQ(head16(r->probe), head16(rom));
    EXPECT_TRUE(rest(r->file) == text(rom)); // no megabyte dumps on failure
  }

  // The file is no container and is handed over as it is, the probe describing it.
  void expectOwn(const std::string& path) {
    Result<LoadedRom> r = loadOriginalRom(path, isPack);
    ASSERT_TRUE(r) << path << ": " << r.error().message();
    EXPECT_FALSE(r->unpacked) << path;
    const std::string own = readFileBytes(path);
    EXPECT_EQ(r->probe.size, own.size());
    EXPECT_EQ(head16(r->probe), head16(Bytes(own.begin(), own.end())));
    EXPECT_TRUE(rest(r->file) == own);
  }
  // The file is a container that yields no ROM: it is refused, the error naming it.
  void expectRefused(const std::string& path) {
    const Result<LoadedRom> r = loadOriginalRom(path, isPack);
    ASSERT_FALSE(r) << path;
    EXPECT_EQ(r.error().path, path);
  }

  TempDir dir;
  std::string tmp;
  std::unique_ptr<ScopedTmpDir> tmpDir;
};

TEST_F(RomLoaderTest, FilesThatAreNoContainerAreHandedOnAsTheyAre) {
  const Bytes rom = makeRomImage(262144, 1);
  expectOwn(put("game.sms", rom));
  expectOwn(put("notes.txt", Bytes(1000, 'x')));
  // "BZh9" without the block magic after it (an empty bzip2 stream) is no container.
  expectOwn(put("bz.bin", concat({'B', 'Z', 'h', '9', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90}, rom)));

  // Unreadable: the reason, and nothing unpacked.
  const struct {
    std::string path;
    ErrorCause cause;
  } unreadable[] = {{dir.file("missing.sms"), ErrorCause::NotFound},
                    {put("short.sms", Bytes(15, 1)), ErrorCause::Truncated}};
  for (const auto& u : unreadable) {
    const Result<LoadedRom> r = loadOriginalRom(u.path, isPack);
    ASSERT_FALSE(r) << u.path;
    EXPECT_EQ(r.error().cause, u.cause) << r.error().message();
    EXPECT_EQ(countTmpFiles(tmp), 0u);
  }
}

// bzip2 files of every block size are recognised, and only with the block magic after the digit.
TEST_F(RomLoaderTest, Bzip2MagicOfEveryBlockSize) {
  const std::uint8_t block[6] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
  for (char digit = '0'; digit <= ':'; ++digit) {
    Bytes head = {'B', 'Z', 'h', std::uint8_t(digit)};
    head.insert(head.end(), block, block + 6);
    EXPECT_EQ(hasBzip2Magic(head.data(), head.size()), digit >= '1' && digit <= '9') << digit;
    EXPECT_FALSE(hasBzip2Magic(head.data(), 9)); // the block magic must be there in full
    head[9] ^= 1;
    EXPECT_FALSE(hasBzip2Magic(head.data(), head.size()));
  }
  for (int blockSize = 1; blockSize <= 9; ++blockSize) {
    const Bytes bz = bzip2Bytes(makeRomImage(100, 2, false), blockSize);
    EXPECT_TRUE(hasBzip2Magic(bz.data(), bz.size())) << blockSize;
  }
}

TEST_F(RomLoaderTest, ZipEntriesOfEveryMethodUnpack) {
  // A copier header in front of the signature, and a size that makes the data run over many pieces.
  const Bytes rom = makeRomImage(262144 + 512, 3, true, 512);
  for (std::uint16_t method : {0, 8, 12, 14}) {
    SCOPED_TRACE(method);
    expectUnpacked(put("m.zip", zipArchive({{"roms/", 0, {}}, {"game.bin", method, rom, Bytes(12, 7)}})),
                   rom);
  }
}

// The ROM is told by the ".sms" extension, in any case, or by the signature where the copier
// header rule puts it; sizes outside 32760..524800 are passed over.
TEST_F(RomLoaderTest, NameOrSignatureDecidesWhichEntryIsTheRom) {
  struct Case {
    const char* name;
    std::size_t size;
    bool signature;
    std::size_t signatureAfter; // bytes before 0x7FF0
    bool accepted;
  } cases[] = {
      {"GAME.SMS", 32768, false, 0, true},
      {"Game.sMs", 40000, false, 0, true},
      {"roms\\game.sms", 32768, false, 0, true},
      {"roms/game.sms", 32768, false, 0, true},
      {"game.sms/readme", 32768, false, 0, false},
      {"game.sms.txt", 32768, false, 0, false},
      {"game.smsx", 32768, false, 0, false},
      {"sms", 32768, false, 0, false},
      {"game", 32768, true, 0, true},
      {"game.bin", 32760, true, 0, true},    // the signature ends the smallest image
      {"game.bin", 33280, true, 512, true},  // bit 9 set, long enough: copier header
      {"game.bin", 33280, true, 0, false},   // ... so the signature at 0x7FF0 is in the wrong place
      {"game.bin", 33792, true, 512, false}, // bit 9 clear: no copier header
      {"game.bin", 32767, true, 0, true},    // bit 9 set but too short for a header
      {"game.bin", 524800, true, 512, true}, // the largest image
      {"game.sms", 32759, false, 0, false},
      {"game.sms", 32759, true, 0, false},
      {"game.sms", 524800, false, 0, true},
      {"game.sms", 524801, false, 0, false},
      {"game.bin", 524801, true, 512, false},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size));
    const Bytes rom = makeRomImage(c.size, 10 + i, c.signature, c.signatureAfter);
    const std::uint16_t methods[] = {0, 8, 12, 14};
    const std::uint16_t method = methods[i++ % 4];
    const std::string path = put("case.zip", zipArchive({{c.name, method, rom}}));
    if (c.accepted)
      expectUnpacked(path, rom);
    else
      expectRefused(path);
  }
}

TEST_F(RomLoaderTest, EntriesThatCannotBeTheRomArePassedOver) {
  const Bytes rom = makeRomImage(65536, 4);
  Bytes brokenDeflate(40000, 0xFF); // reserved block type at once
  std::vector<ZipEntryInput> entries = {
      {"folder/", 0, {}},
      {std::string(33272, 'n') + ".sms", 0, makeRomImage(40000, 5)}, // name too long to read
      {"tiny.sms", 0, makeRomImage(64, 6, false)},                   // 64 bytes or less
      {"odd.sms", 99, makeRomImage(40000, 7)},                       // unknown method
      ZipEntryInput::raw("broken.sms", 8, 40000u, brokenDeflate),    // first bytes cannot be read
      {"noise.bin", 8, makeRomImage(40000, 9, false)},               // no name, no signature
      {"game.sms", 8, rom, Bytes(40, 1)},
  };
  expectUnpacked(put("many.zip", zipArchive(entries)), rom);
  // Without the ROM at the end the same archive yields nothing.
  entries.pop_back();
  expectRefused(put("none.zip", zipArchive(entries)));
}

TEST_F(RomLoaderTest, PacksAreHandedOnForTheCallerToRefuse) {
  Bytes pack(kPack, kPack + 8);
  pack.resize(1000, 3);
  {
    const Result<LoadedRom> r = loadOriginalRom(put("p.zip", zipArchive({{"x.dat", 8, pack}})), isPack);
    ASSERT_TRUE(r);
    EXPECT_TRUE(isPack(r->probe.head, sizeof r->probe.head));
    EXPECT_EQ(r->probe.size, 1000u);
  }
  pack.resize(600000, 3); // a gzip content this long is kept because of its magic
  expectUnpacked(put("p.gz", gzipBytes(pack)), pack);
}

TEST_F(RomLoaderTest, NestedContainersYieldTheRomAndLeaveNoIntermediateFile) {
  const Bytes rom = makeRomImage(131072, 11);
  expectUnpacked(put("a.zip", zipArchive({{"game.sms.gz", 8, gzipBytes(rom)}})), rom);
  expectUnpacked(put("b.gz", gzipBytes(zipArchive({{"game.bz2", 0, bzip2Bytes(rom, 1)}}))), rom);
  for (int blockSize : {1, 5, 9}) expectUnpacked(put("c.bz2", bzip2Bytes(rom, blockSize)), rom);
  // An entry that is a container without a ROM is passed over; the scan goes on.
  const Bytes empty = gzipBytes(zipArchive({{"readme.txt", 8, Bytes(5000, 'r')}}));
  expectUnpacked(put("d.zip", zipArchive({{"first.gz", 0, empty}, {"second.sms", 12, rom}})), rom);
}

// gzip members and bzip2 streams that follow one another are read to the last; other bytes after
// it are ignored.
TEST_F(RomLoaderTest, StreamsThatFollowOneAnotherAreReadToTheEnd) {
  const Bytes rom = makeRomImage(98304, 18);
  const Bytes first(rom.begin(), rom.begin() + 40000), second(rom.begin() + 40000, rom.end());
  expectUnpacked(put("two.gz", concat(gzipBytes(first), gzipBytes(second))), rom);
  expectUnpacked(put("two.bz2", concat(bzip2Bytes(first, 1), bzip2Bytes(second, 9))), rom);
  expectUnpacked(put("padded.gz", concat(gzipBytes(rom), Bytes(1000, 0))), rom);
  expectUnpacked(put("padded.bz2", concat(bzip2Bytes(rom), Bytes{'B', 'Z', 'h', '9', 0, 0})), rom);
}

TEST_F(RomLoaderTest, ContainersThatYieldNothingAreRefused) {
  const Bytes noZipRom =
      zipArchive({{"readme.txt", 8, Bytes(50000, 'r')}, {"x.bin", 0, makeRomImage(40000, 12, false)}});
  expectRefused(put("a.zip", noZipRom));
  expectRefused(put("b.gz", gzipBytes(noZipRom))); // the unpacked zip is a container, not a ROM
  expectRefused(put("c.bz2", bzip2Bytes(gzipBytes(noZipRom))));
  expectRefused(put("d.zip", zipArchive({{"inner.zip", 0, noZipRom}})));
  // A named ROM whose data end early ends the scan.
  expectRefused(
      put("cut.zip", zipArchive({ZipEntryInput::raw("cut.sms", 0, 40000u, makeRomImage(20000, 13))})));
  expectRefused(put("e.zip", Bytes{0x50, 0x4B, 0x03, 0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
}

TEST_F(RomLoaderTest, DamagedOrOverlongStreamsAreRefused) {
  const Bytes rom = makeRomImage(65536, 13);
  const Bytes gz = gzipBytes(rom), bz = bzip2Bytes(rom);
  // Cut anywhere, also inside the gzip trailer after data that fill the last piece exactly.
  for (const Bytes* packed : {&gz, &bz}) {
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 16; cut < packed->size(); cut += 997) cuts.push_back(cut);
    for (std::size_t back = 1; back <= 12; ++back) cuts.push_back(packed->size() - back);
    for (std::size_t cut : cuts) {
      SCOPED_TRACE(cut);
      expectRefused(put("cut.bin", Bytes(packed->begin(), packed->begin() + std::ptrdiff_t(cut))));
    }
  }
  Bytes bad = gz;
  bad[bad.size() - 6] ^= 0x40; // the CRC no longer matches
  expectRefused(put("crc.gz", bad));
  bad = bz;
  bad[bad.size() / 2] ^= 0x40;
  expectRefused(put("bad.bz2", bad));

  // Beyond 524800 bytes only a container or a pack may go on.
  const Bytes longest = makeRomImage(524800, 14, false), tooLong = makeRomImage(600000, 14, false);
  expectUnpacked(put("longest.gz", gzipBytes(longest)), longest);
  expectRefused(put("long.gz", gzipBytes(tooLong)));
  expectRefused(put("long.bz2", bzip2Bytes(tooLong)));
}

TEST_F(RomLoaderTest, NestingIsBounded) {
  const Bytes rom = makeRomImage(32768, 15);
  Bytes gz = rom, mixed = rom;
  for (int level = 1; level <= kMaxContainerNesting + 1; ++level) {
    gz = gzipBytes(gz);
    mixed = level % 2 ? zipArchive({{"level", 0, mixed}}) : bzip2Bytes(mixed);
    SCOPED_TRACE(level);
    if (level <= kMaxContainerNesting) {
      expectUnpacked(put("g.gz", gz), rom);
      expectUnpacked(put("m.bin", mixed), rom);
    } else {
      expectRefused(put("g.gz", gz));
      expectRefused(put("m.bin", mixed));
    }
  }
}

// A content that begins with a container or pack magic lifts the 524800-byte limit, but no
// container unpacks more than 64 MiB.
TEST_F(RomLoaderTest, UnpackingIsBoundedPerContainer) {
  Bytes content(kMaxUnpackedPerContainer, 0);
  std::memcpy(content.data(), kPack, 8);
  {
    const Result<LoadedRom> r = loadOriginalRom(put("max.gz", gzipBytes(content, 1)), isPack);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->unpacked);
    EXPECT_EQ(r->probe.size, kMaxUnpackedPerContainer);
  }
  content.push_back(0);
  expectRefused(put("pack.gz", gzipBytes(content, 1)));
  expectRefused(put("pack.zip", zipArchive({{"x.dat", 8, content}})));
  std::memcpy(content.data(), "\x1F\x8B\x08\x00\x00\x00\x00\x00", 8); // looks like a gzip within
  expectRefused(put("bomb.gz", gzipBytes(content, 1)));
  expectRefused(put("bomb.bz2", bzip2Bytes(content)));
}

// Every entry unpacked from a zip is checked against its header: a flipped bit in its data or its
// CRC field, or data that do not end where its sizes say, refuse the whole container with the
// reason, even when a sound ROM follows.
TEST_F(RomLoaderTest, ZipEntriesThatDoNotMatchTheirHeadersAreRefused) {
  Bytes rom(65536); // noise no method can shrink: a flipped bit in the data is one in the ROM
  std::mt19937 rng(31);
  for (auto& b : rom) b = std::uint8_t(rng());
  const std::size_t dataStart = 30 + std::string("game.sms").size();
  const std::size_t crcField = 14;
  struct Case {
    const char* what;
    ZipEntryInput entry;
    std::size_t flip; // offset of a byte to flip in the archive, 0 for none
    ErrorCause cause;
    const char* detail;
  } cases[] = {
      {"stored data",
       {"game.sms", 0, rom},
       dataStart + 40000,
       ErrorCause::DigestMismatch,
       "CRC mismatch in game.sms inside rom.zip"},
      {"deflated data",
       {"game.sms", 8, rom},
       dataStart + 40000,
       ErrorCause::DigestMismatch,
       "CRC mismatch in game.sms inside rom.zip"},
      {"bzip2 CRC field", {"game.sms", 12, rom}, crcField, ErrorCause::DigestMismatch, "CRC mismatch"},
      {"LZMA CRC field", {"game.sms", 14, rom}, crcField, ErrorCause::DigestMismatch, "CRC mismatch"},
      {"stored data longer than the entry",
       ZipEntryInput::raw("game.sms", 0, 65536, concat(rom, Bytes(9, 1))), 0, ErrorCause::BadFormat,
       "the data of game.sms inside rom.zip do not end where its sizes say"},
      {"deflate stream shorter than its data",
       ZipEntryInput::raw("game.sms", 8, 65536,
                          concat(test::compressBytes(kMethodDeflate, rom.data(), rom.size()), Bytes(9, 1))),
       0, ErrorCause::BadFormat, "do not end where its sizes say"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.entry.content = rom; // the header's CRC-32 is the ROM's
    Bytes zip = zipArchive({c.entry, {"spare.sms", 0, makeRomImage(40000, 32)}});
    if (c.flip) zip[c.flip] ^= 0x10;
    const std::string path = put("rom.zip", zip);
    const Result<LoadedRom> loaded = loadOriginalRom(path);
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().cause, c.cause) << loaded.error().message();
    EXPECT_NE(loaded.error().detail.find(c.detail), std::string::npos) << loaded.error().detail;
    expectRefused(path);
  }
  // Unharmed, the same archive yields the ROM.
  expectUnpacked(put("rom.zip", zipArchive({{"game.sms", 8, rom}})), rom);

  // An entry that cannot even be opened (LZMA properties asking for a 4 GiB dictionary) is passed
  // over like any other that is no ROM, and is named when no ROM is found.
  Bytes zip = zipArchive({{"game.sms", 14, rom}});
  std::fill(zip.begin() + std::ptrdiff_t(dataStart) + 5, zip.begin() + std::ptrdiff_t(dataStart) + 9, 0xFF);
  const Result<LoadedRom> loaded = loadOriginalRom(put("rom.zip", zip));
  ASSERT_FALSE(loaded);
  EXPECT_NE(loaded.error().detail.find("game.sms inside rom.zip cannot be unpacked"), std::string::npos)
      << loaded.error().detail;
}

// A temporary folder that fills up while a ROM is unpacked says so.
TEST_F(RomLoaderTest, AFullTemporaryFolderSaysSo) {
  const Bytes rom = makeRomImage(65536, 33);
  for (const std::string& path :
       {put("rom.gz", gzipBytes(rom)), put("rom.zip", zipArchive({{"game.sms", 8, rom}}))}) {
    SCOPED_TRACE(path);
    armFault(unsigned(FaultOp::Write), 2, ENOSPC);
    const Result<LoadedRom> loaded = loadOriginalRom(path);
    disarmFault();
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().cause, ErrorCause::NoSpace);
    EXPECT_EQ(loaded.error().detail, "no space left in the temporary folder " + tempDirectory());
  }
}

TEST_F(RomLoaderTest, AnEntryCopyTakesThePrefixAndTheEntryOrLeavesNothing) {
  const Bytes data = makeRomImage(40000, 16);
  const std::string path = put("data.bin", data);
  const rom::Context context{path, "data.bin"};
  const Bytes prefix = {9, 8, 7};
  for (std::uint32_t size : {3u, 4u, 16387u, 40003u}) {
    File file = test::opened(File::openRead(path));
    CDefaultDecompressor stored;
    std::uint32_t written = 0;
    Result<rom::Extracted> copy =
        rom::extractEntry(file, stored, size, prefix.data(), prefix.size(), written, context);
    ASSERT_TRUE(copy);
    EXPECT_EQ(written, size);
    EXPECT_TRUE(rest(copy->file) == text(concat(prefix, data)).substr(0, size));
  }
  // The data run out in the third piece: the file goes, the count tells how far it came.
  File file = test::opened(File::openRead(path));
  CDefaultDecompressor stored;
  std::uint32_t written = 0;
  EXPECT_FALSE(rom::extractEntry(file, stored, 50000, prefix.data(), prefix.size(), written, context));
  EXPECT_EQ(written, 3u + 2 * 16384);
  EXPECT_FALSE(rom::extractEntry(file, stored, 2, prefix.data(), prefix.size(), written, context));
}

// Archives made by the usual packing tools, when they are installed.
TEST_F(RomLoaderTest, ArchivesMadeByTheUsualTools) {
  auto have = [](const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
  };
  if (!have("zip") || !have("gzip") || !have("bzip2") || !have("7z")) GTEST_SKIP() << "packing tools missing";
  const Bytes rom = makeRomImage(131072 + 512, 17, true, 512);
  ASSERT_TRUE(createDirectory(dir.file("pack")) && createDirectory(dir.file("pack/roms")));
  put("pack/readme.txt", Bytes(300, 'r'));
  put("pack/roms/game.bin", rom);
  const std::string in = "cd '" + dir.path() + "/pack' && TMPDIR='" + dir.path() + "' ";
  const char* commands[][2] = {
      {"zip -q -0 -r ../stored.zip readme.txt roms", "stored.zip"},
      {"zip -q -9 -r ../deflate.zip readme.txt roms", "deflate.zip"},
      {"zip -q -Z bzip2 -r ../bzip2.zip readme.txt roms", "bzip2.zip"},
      {"7z a -bd -bso0 -tzip -mm=LZMA ../lzma.zip readme.txt roms >/dev/null", "lzma.zip"},
      {"gzip -c roms/game.bin > ../game.gz", "game.gz"},
      {"bzip2 -1 -c roms/game.bin > ../game.bz2", "game.bz2"},
      {"zip -q -r ../inner.zip roms && gzip -c ../inner.zip > ../zip.gz", "zip.gz"},
  };
  for (const auto& c : commands) {
    SCOPED_TRACE(c[1]);
    ASSERT_EQ(std::system((in + c[0]).c_str()), 0);
    expectUnpacked(dir.file(c[1]), rom);
  }
}

} // namespace
} // namespace zelvo::test

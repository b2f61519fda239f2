// Writes the files the fuzzing works from, all made from synthetic data:
//   zelvo_fuzz_files corpus FOLDER   the seed corpus: FOLDER/<target>/<case> for every fuzz target
//   zelvo_fuzz_files hostile FOLDER  small files that claim or unpack to huge sizes, or hide a
//                                    damaged ROM, with a tiny game to build them into
#include "compress/md5.h"
#include "pipeline/pack_format.h"
#include "pipeline/sheet_map.h"
#include "render/image_save.h"
#include "support/fixtures.h"
#include "support/image_files.h"
#include "support/lzma_zip.h"
#include "support/pack_files.h"
#include "support/rom_fixtures.h"
#include "tiles/tiles_file.h"

#include <array>
#include <bzlib.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

template <class T> void put(Bytes& out, const T& record) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
  out.insert(out.end(), p, p + sizeof record);
}
void put(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

bool save(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  return test::writeBytes(path.string(), bytes);
}

// A 32 KiB ROM image that compresses to about 1 KiB: noise at the start, then zeros and the
// signature.
Bytes smallRom() {
  Bytes rom = test::makeRomImage(32768, 7);
  std::fill(rom.begin() + 1024, rom.begin() + 0x7FF0, std::uint8_t(0));
  return rom;
}

test::TilesContent smallTiles() {
  test::TilesContent c;
  for (std::uint32_t i = 0; i < 4; ++i) c.addPalette(i, i);
  for (std::uint32_t i = 0; i < 5; ++i) c.addPattern(i, 5 - i);
  for (int g = 0; g < kGroupCount; ++g)
    for (int i = 0; i <= g % 3; ++i) c.addEntry(g, std::uint32_t((g + i) % 4), std::uint32_t((g * i) % 5));
  return c;
}

// A screen of two rows showing some of the tiles, with a short and a tall sprite.
test::ScreenContent smallScreen(const test::TilesContent& tiles, bool grid, bool sprites) {
  test::ScreenContent s;
  s.height = 16;
  if (grid)
    for (int column = 0; column < 6; ++column)
      s.setCell(column % 2, column, tiles, std::uint32_t(column % 4), std::uint32_t(column % 5),
                std::uint16_t(column << 9));
  if (sprites) {
    s.addSprite(10, 3, tiles, 1, 2);
    s.addTallSprite(250, 216, tiles, 2, 3, 3, 4);
  }
  return s;
}

Bytes validPack(std::uint32_t scale) {
  const test::TilesContent tiles = smallTiles();
  const HiResSectionHeader hires = test::hiResHeaderFor(scale, 3, tiles);
  Bytes payload(std::size_t(hires.tileCount) * 256 * scale * scale + hires.entryCount * 4u);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = std::uint8_t(i % 4 == 3 ? 255 : i / 64);
  return test::packBytes(smallRom(), tiles, hires, md5Of(payload.data(), payload.size()),
                         test::compressBytes(kMethodBZip2, payload.data(), payload.size()));
}

// A picture of `bits` bits per pixel, `width` x `height`, as PNG (a palette below 24 bits, 16
// bits per channel at 64) or BMP (a palette below 16 bits, or RLE8), its rows of bytes from a
// simple pattern (palette indices cycling through five entries at 8 bits).
struct ImageSeed {
  bool png = true;
  int bits = 32;
  bool interlaced = false;
  bool rle8 = false;
  int width = 13, height = 7;
};

Bytes imageBytes(const ImageSeed& seed) {
  const int width = seed.width, height = seed.height, bits = seed.bits;
  auto byteAt = [bits](int x, int y) { return std::uint8_t(bits == 8 ? (x / 3 + y) % 5 : x * 29 + y * 71); };
  std::vector<std::array<std::uint8_t, 4>> palette;
  if (bits <= 8)
    for (int i = 0; i < 1 << bits; ++i)
      palette.push_back({std::uint8_t(i * 7), std::uint8_t(255 - i * 20), std::uint8_t(i * 40), 255});
  if (seed.png) {
    test::PngLayout layout;
    layout.colourType = bits <= 8 ? 3 : bits == 24 ? 2 : 6;
    layout.bitDepth = std::uint8_t(bits <= 8 ? bits : bits == 64 ? 16 : 8);
    layout.interlaced = seed.interlaced;
    layout.palette = palette;
    const int rowBytes = (width * bits + 7) / 8;
    Bytes samples;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < rowBytes; ++x) samples.push_back(byteAt(x, y));
    return test::pngBytes(layout, width, height, samples);
  }
  test::BmpLayout layout;
  layout.bits = std::uint16_t(bits);
  for (const auto& c : palette) layout.palette.push_back({c[0], c[1], c[2]});
  if (seed.rle8) {
    layout.compression = test::kBmpRle8;
    return test::bmpBytes(layout, width, height, test::bmpRle(width, height, false, [&](int x, int y) {
                            return int(byteAt(x, y));
                          }));
  }
  const int rowBytes = (width * bits + 7) / 8, pitch = (rowBytes + 3) / 4 * 4;
  Bytes rows(std::size_t(pitch) * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < rowBytes; ++x) rows[std::size_t(height - 1 - y) * pitch + x] = byteAt(x, y);
  return test::bmpBytes(layout, width, height, rows);
}

bool writeCorpus(const fs::path& root) {
  bool ok = true;
  const test::TilesContent tiles = smallTiles();
  const char* methods[] = {"stored", "deflate", "bzip2", "lzma"};
  for (std::uint32_t m = 0; m < 4; ++m)
    ok &= save(root / "tiles_file" / methods[m],
               test::tilesFileBytes(tiles, test::TilesFileOptions{}.method(m)));
  ok &= save(root / "tiles_file" / "extra_block_no_digest",
             test::tilesFileBytes(
                 tiles, test::TilesFileOptions{}.withExtraBlock().withDigest(test::DigestMode::Absent)));
  ok &= save(root / "tiles_file" / "empty", test::tilesFileBytes(test::TilesContent{}));

  for (std::uint32_t m = 1; m < 4; ++m)
    ok &= save(root / "screen_file" / methods[m],
               test::screenFileBytes(smallScreen(tiles, true, true), test::ScreenFileOptions{}.method(m)));
  ok &= save(root / "screen_file" / "sprites_stored", test::screenFileBytes(smallScreen(tiles, false, true)));
  ok &=
      save(root / "screen_file" / "grid_extra_block_no_digest",
           test::screenFileBytes(smallScreen(tiles, true, false), test::ScreenFileOptions{}
                                                                      .method(kMethodDeflate)
                                                                      .withExtraBlock()
                                                                      .withDigest(test::DigestMode::Absent)));

  ok &= save(root / "pack" / "scale1", validPack(1));
  ok &= save(root / "pack" / "scale2", validPack(2));

  const Bytes rom = smallRom();
  Bytes plain(rom.begin(), rom.begin() + 600);
  ok &= save(root / "rom_loader" / "plain", plain);
  ok &= save(root / "rom_loader" / "zip_stored", test::zipArchive({{"game.sms", 0, plain}}));
  ok &= save(root / "rom_loader" / "zip_deflate", test::zipArchive({{"roms/", 0, {}}, {"game.sms", 8, rom}}));
  ok &= save(root / "rom_loader" / "zip_bzip2",
             test::zipArchive({{"readme.txt", 0, plain}, {"a.sms", 12, rom}}));
  ok &= save(root / "rom_loader" / "zip_lzma_by_signature", test::zipArchive({{"image.bin", 14, rom}}));
  ok &= save(root / "rom_loader" / "gzip", test::gzipBytes(rom));
  ok &= save(root / "rom_loader" / "bzip2", test::bzip2Bytes(rom, 1));
  ok &= save(root / "rom_loader" / "zip_in_gzip", test::gzipBytes(test::zipArchive({{"game.sms", 8, rom}})));

  for (int bits : {1, 4, 8, 16, 24, 32, 64}) {
    if (bits != 16) ok &= save(root / "png" / ("bpp" + std::to_string(bits)), imageBytes({true, bits}));
    if (bits != 64) ok &= save(root / "bmp" / ("bpp" + std::to_string(bits)), imageBytes({false, bits}));
  }
  ok &= save(root / "png" / "interlaced", imageBytes({true, 32, true}));

  // A sheet to paint: its map, and a small PNG that carries it in a text chunk.
  SheetMap map;
  map.scale = 1;
  map.width = 20;
  map.height = 10;
  for (int i = 0; i < 2; ++i) {
    SheetSlot& slot = map.slots.emplace_back();
    slot.x = 1 + 10 * i;
    slot.y = 1;
    slot.size = 8;
    slot.group = 8 * i;
    slot.colours[1] = std::uint8_t(i + 1);
    slot.planes[0] = 0x81;
    slot.painted = i == 1;
  }
  const std::string mapText = sheetMapJson(map, 1);
  ok &= save(root / "sheet_map" / "two_slots", Bytes(mapText.begin(), mapText.end()));
  const PngText chunk{kSheetMapKeyword, sheetMapJson(map)};
  Result<RgbaImage> sheet = makeRgbaImage(map.width, map.height);
  if (!sheet) return false;
  Result<EncodedImage> sheetPng = encodePng(*sheet, "sheet.png", std::span<const PngText>(&chunk, 1));
  ok &= sheetPng && save(root / "png" / "sheet_text",
                         Bytes(sheetPng->bytes.get(), sheetPng->bytes.get() + sheetPng->size));
  ok &= save(root / "bmp" / "rle8", imageBytes({false, 8, false, true}));

  // The fast bzip2 encoder: the first byte chooses how often the rest repeats.
  std::mt19937 random(7);
  Bytes noise = {0};
  for (int i = 0; i < 3000; ++i) noise.push_back(std::uint8_t(random()));
  Bytes runs = {1};
  runs.insert(runs.end(), 300, 'a');
  runs.insert(runs.end(), 5, 'b');
  Bytes start = {2};
  start.insert(start.end(), rom.begin(), rom.begin() + 2000);
  ok &= save(root / "bzip2_fast" / "noise", noise);
  ok &= save(root / "bzip2_fast" / "runs", runs);
  ok &= save(root / "bzip2_fast" / "periodic", Bytes{3, 'x', 'y', 'z', 'x', 'y'});
  ok &= save(root / "bzip2_fast" / "rom", start);
  return ok;
}

// A bzip2 stream (900k blocks) of `count` zero bytes, made piece by piece.
Bytes bzip2OfZeros(std::uint64_t count) {
  bz_stream s{};
  BZ2_bzCompressInit(&s, 9, 0, 0);
  std::vector<char> zeros(1 << 20), out(1 << 16);
  Bytes stream;
  int action = BZ_RUN, result = BZ_RUN_OK;
  while (result != BZ_STREAM_END && result >= 0) {
    if (s.avail_in == 0 && count > 0) {
      s.next_in = zeros.data();
      s.avail_in = unsigned(std::min<std::uint64_t>(count, zeros.size()));
      count -= s.avail_in;
    }
    if (count == 0 && s.avail_in == 0) action = BZ_FINISH;
    s.next_out = out.data();
    s.avail_out = unsigned(out.size());
    result = BZ2_bzCompress(&s, action);
    stream.insert(stream.end(), out.data(), out.data() + (out.size() - s.avail_out));
  }
  BZ2_bzCompressEnd(&s);
  return stream;
}

// A BMP file and info header with `bpp` bits per pixel and `colours` palette entries after them.
Bytes bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bpp, std::uint32_t compression,
                std::uint32_t colours, std::uint32_t fileSize) {
  Bytes h = {'B', 'M'};
  for (std::uint32_t v : {fileSize, 0u, 54 + colours * 4, 40u, std::uint32_t(width), std::uint32_t(height)})
    put(h, v);
  put(h, std::uint16_t(1));
  put(h, bpp);
  for (std::uint32_t v : {compression, 0u, 2835u, 2835u, colours, 0u}) put(h, v);
  return h;
}

// The game every hostile case is built with (tiles, a screen and its image at scale 1), the ROM
// beside it, and the hostile files:
//   tiles_bomb/game.mstiles       849 bytes whose bzip2 payload claims (and unpacks to) 1 GiB
//   screen_bomb/shot.msscreen     817 bytes of 10,737,418 sprite records, 1 GiB unpacked
//   hires_bomb.zrm                18 KB: a pack whose hi-res section claims 4.5 GB (1 GiB unpacks)
//   lzma_dictionary.zip           the ROM in an LZMA entry whose dictionary size is 3 GiB
//   flipped_bit.zip               the ROM stored with one bit flipped after its CRC was taken
//   bmp_huge/shot.bmp             120 bytes claiming 65536 x 65537 pixels
//   bmp_rle8/shot.bmp             1 KiB of RLE8 claiming 60000 x 60000 pixels
bool writeHostile(const fs::path& root) {
  const test::TilesContent tiles = smallTiles();
  const Bytes tilesFile = test::tilesFileBytes(tiles), rom = smallRom();
  bool ok = save(root / "game.sms", rom);
  for (const char* folder : {"game", "screen_bomb", "bmp_huge", "bmp_rle8"})
    ok &= save(root / folder / "game.mstiles", tilesFile);
  ok &= save(root / "game" / "shot.msscreen", test::screenFileBytes(smallScreen(tiles, true, false)));
  ok &= save(root / "bmp_huge" / "shot.msscreen", test::screenFileBytes(smallScreen(tiles, true, false)));
  ok &= save(root / "bmp_rle8" / "shot.msscreen", test::screenFileBytes(smallScreen(tiles, true, false)));
  ok &= save(root / "game" / "shot.png", imageBytes({true, 32, false, false, 256, 16}));

  const std::uint64_t gib = 1ull << 30;
  const Bytes zeros = bzip2OfZeros(gib);
  TilesFileHeader th{};
  std::memcpy(th.magic, kTilesMagic, sizeof th.magic);
  th.groupCounts[0] = std::uint32_t(gib / sizeof(TileEntry));
  th.compression = kMethodBZip2;
  Bytes bomb;
  put(bomb, th);
  put(bomb, zeros);
  ok &= save(root / "tiles_bomb" / "game.mstiles", bomb);

  ScreenFileHeader sh{};
  std::memcpy(sh.magic, kScreenMagic, sizeof sh.magic);
  sh.flags = kScreenFlagSprites;
  sh.spriteCount = std::uint32_t(gib / sizeof(SpriteRecord));
  sh.width = 256;
  sh.height = 192;
  sh.compression = kMethodBZip2;
  bomb.clear();
  put(bomb, sh);
  put(bomb, zeros);
  ok &= save(root / "screen_bomb" / "shot.msscreen", bomb);

  Bytes padded = zeros; // bytes after the stream make the claim look plausible for the file's size
  padded.resize(16384, 0x55);
  ok &= save(root / "hires_bomb.zrm",
             test::packBytes(rom, tiles, test::hiResHeaderFor(4, 1100000, tiles), Md5Digest{}, padded));

  test::ZipEntryInput lzma("game.sms", 14, rom);
  lzma.data = test::lzmaZipEncode(rom.data(), rom.size());
  // Dictionary size 3 GiB: the decoder's window is taken on this claim. (4 GiB would already fail
  // under the measurement's 4 GiB address-space cap.)
  const std::uint8_t dictionary[4] = {0, 0, 0, 0xC0};
  std::copy(dictionary, dictionary + 4, lzma.data->begin() + 5);
  ok &= save(root / "lzma_dictionary.zip", test::zipArchive({lzma}));

  test::ZipEntryInput flipped("game.sms", 0, rom);
  flipped.data = rom;
  (*flipped.data)[300] ^= 0x10;
  ok &= save(root / "flipped_bit.zip", test::zipArchive({flipped}));

  Bytes bmp = bmpHeader(65536, 65537, 24, 0, 0, 120);
  bmp.resize(120, 0x5A);
  ok &= save(root / "bmp_huge" / "shot.bmp", bmp);
  bmp = bmpHeader(60000, 60000, 8, 1, 2, 1024);
  put(bmp, std::uint64_t(0x00FFFFFF00000000ull));            // two palette entries: black, white
  while (bmp.size() < 1022) put(bmp, std::uint16_t(0x01FF)); // runs of 255 pixels of colour 1
  put(bmp, std::uint16_t(0x0100));                           // end of the bitmap
  ok &= save(root / "bmp_rle8" / "shot.bmp", bmp);
  return ok;
}

} // namespace
} // namespace zelvo

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "corpus" && mode != "hostile") {
    std::fprintf(stderr, "usage: zelvo_fuzz_files corpus|hostile FOLDER\n");
    return 2;
  }
  const bool ok = mode == "corpus" ? zelvo::writeCorpus(argv[2]) : zelvo::writeHostile(argv[2]);
  if (!ok) std::fprintf(stderr, "zelvo_fuzz_files: could not write every file\n");
  return ok ? 0 : 1;
}

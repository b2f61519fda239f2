// The round trip artists rely on, with the bundled example's screens: each one exported at 1x to
// 4x, re-saved in every lossless layout a painting program may choose, and put back into a build
// of the same scale. Unchanged, it replaces no hi-res tile; with one tile painted over, it
// replaces exactly that tile's entry, with the painted pixels.
#include "pipeline/hires_tiles.h"
#include "pipeline/tile_replace.h"
#include "support/console_rules.h"
#include "support/example_pack.h"
#include "support/image_files.h"
#include "support/temp_dir.h"
#include "tiles/screen_file.h"
#include "tiles/tiles_file.h"
#include "viewer/pack_preview.h"
#include "viewer/screen_export.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <spng.h>

namespace zelvo {
namespace {

using test::BmpLayout;
using test::Picture;
using test::PngLayout;
using Bytes = std::vector<std::uint8_t>;

// The export as written, and its picture as a painting program opens it: the image the export
// draws (the tests of the export check that its files hold it).
struct Exported {
  Bytes image, alpha; // the alpha image: empty for a PNG
  Picture picture;
};

// The files an artist's program saves: the image, and the alpha image beside it (empty: none).
struct Saved {
  Bytes image, alpha;
};

Bytes bytesOf(const std::string& path) {
  const std::string s = test::readFileBytes(path);
  return Bytes(s.begin(), s.end());
}

Exported exportOf(const ScreenFile& screen, int scale, ExportFormat format, const test::TempDir& dir) {
  const std::string image = dir.file(std::string("export") + exportExtension(format));
  const std::string alpha = alphaPathFor(image);
  Exported out;
  Result<RgbaImage> drawn = renderPlain(screen, scale);
  if (!drawn || !renderAndSave(screen, scale, format, screen.background() == nullptr, image, alpha))
    return out;
  out.image = bytesOf(image);
  if (format == ExportFormat::Bmp) out.alpha = bytesOf(alpha);
  out.picture = Picture{int(drawn->width), int(drawn->height),
                        Bytes(drawn->pixels.get(), drawn->pixels.get() + drawn->byteCount())};
  return out;
}

// The picture's distinct colours (with alpha, or without) in order of appearance, and each pixel's
// index among them; false when there are more than 256.
bool paletteOf(const Picture& p, bool withAlpha, std::vector<std::array<std::uint8_t, 4>>& colours,
               std::vector<int>& index) {
  std::map<std::uint32_t, int> seen;
  for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
    const std::uint8_t* c = &p.rgba[i];
    const std::uint8_t a = withAlpha ? c[3] : 255;
    const auto [at, added] =
        seen.try_emplace(std::uint32_t(c[0] | c[1] << 8 | c[2] << 16 | a << 24), int(seen.size()));
    if (added) colours.push_back({c[0], c[1], c[2], a});
    index.push_back(at->second);
  }
  return colours.size() <= 256;
}

// Rows filtered by `filter` alone: each layout takes another, so the filters are all met, and
// the encoder spares itself trying every filter on every row of pictures saved this many times.
PngLayout pngLayout(std::uint8_t colourType, std::uint8_t bits, int filter = SPNG_FILTER_CHOICE_NONE) {
  PngLayout layout;
  layout.colourType = colourType;
  layout.bitDepth = bits;
  layout.filters = filter;
  return layout;
}

// `channels` of each pixel (red, green, blue, alpha by number), 8 or 16 bits each: a 16-bit sample
// is the 8-bit value widened as painting programs do (v * 257), in host order.
Bytes pngSamples(const Picture& p, std::initializer_list<int> channels, int bits) {
  Bytes out;
  out.reserve(p.rgba.size() * std::size_t(bits / 8));
  for (std::size_t i = 0; i < p.rgba.size(); i += 4)
    for (int c : channels) {
      if (bits == 8) {
        out.push_back(p.rgba[i + c]);
      } else {
        const std::uint16_t wide = std::uint16_t(p.rgba[i + c] * 257);
        std::uint8_t host[2];
        std::memcpy(host, &wide, 2);
        out.insert(out.end(), host, host + 2);
      }
    }
  return out;
}

Bytes rgbaPng(const Picture& p, PngLayout layout) {
  return test::pngBytes(layout, p.width, p.height, pngSamples(p, {0, 1, 2, 3}, layout.bitDepth));
}

// An 8-bit grey BMP of the picture's alpha, as the export writes beside its BMP.
Bytes alphaBmp(const Picture& p) {
  BmpLayout layout;
  layout.bits = 8;
  for (int i = 0; i < 256; ++i) layout.palette.push_back({std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)});
  return test::bmpBytes(
      layout, p.width, p.height,
      test::bmpRows(p.width, p.height, 8, false, [&](int x, int y) { return p.at(x, y)[3]; }));
}

Bytes bmp24(const Picture& p, bool topDown) {
  BmpLayout layout;
  layout.topDown = topDown;
  return test::bmpBytes(layout, p.width, p.height,
                        test::bmpRows(p.width, p.height, 24, topDown, [&](int x, int y) {
                          const std::uint8_t* c = p.at(x, y);
                          return std::uint32_t(c[0] << 16 | c[1] << 8 | c[2]);
                        }));
}

Bytes bmp32(const Picture& p, std::uint32_t headerSize, std::uint32_t compression) {
  BmpLayout layout;
  layout.headerSize = headerSize;
  layout.bits = 32;
  layout.compression = compression;
  if (compression == test::kBmpBitfields) layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  return test::bmpBytes(layout, p.width, p.height,
                        test::bmpRows(p.width, p.height, 32, false, [&](int x, int y) {
                          const std::uint8_t* c = p.at(x, y);
                          return std::uint32_t(c[3]) << 24 | std::uint32_t(c[0] << 16 | c[1] << 8 | c[2]);
                        }));
}

// An 8-bit palette BMP of the picture's colours, uncompressed or RLE8; empty when they do not fit.
Bytes bmp8(const Picture& p, std::uint32_t compression) {
  std::vector<std::array<std::uint8_t, 4>> colours;
  std::vector<int> index;
  if (!paletteOf(p, false, colours, index)) return {};
  BmpLayout layout;
  layout.bits = 8;
  layout.compression = compression;
  for (const auto& c : colours) layout.palette.push_back({c[0], c[1], c[2]});
  auto at = [&](int x, int y) { return index[std::size_t(y) * p.width + x]; };
  return test::bmpBytes(layout, p.width, p.height,
                        compression == test::kBmpRle8
                            ? test::bmpRle(p.width, p.height, false, at)
                            : test::bmpRows(p.width, p.height, 8, false,
                                            [&](int x, int y) { return std::uint32_t(at(x, y)); }));
}

struct Layout {
  const char* name;
  ExportFormat format; // the export it is re-saved from, and the type of its files
  std::function<Saved(const Exported&)> save;
  bool painted = true; // also saved with a tile painted over (the export's own files never are)
};

const Layout kLayouts[] = {
    {"PNG as exported", ExportFormat::Png,
     [](const Exported& e) {
       return Saved{e.image, {}};
     },
     false},
    {"PNG RGBA 8", ExportFormat::Png,
     [](const Exported& e) {
       return Saved{rgbaPng(e.picture, pngLayout(6, 8, SPNG_FILTER_CHOICE_PAETH)), {}};
     }},
    {"PNG RGBA 16", ExportFormat::Png,
     [](const Exported& e) {
       return Saved{rgbaPng(e.picture, pngLayout(6, 16, SPNG_FILTER_CHOICE_UP)), {}};
     }},
    {"PNG RGB 8 with a grey alpha PNG beside", ExportFormat::Png,
     [](const Exported& e) {
       const Picture& p = e.picture;
       return Saved{test::pngBytes(pngLayout(2, 8, SPNG_FILTER_CHOICE_SUB), p.width, p.height,
                                   pngSamples(p, {0, 1, 2}, 8)),
                    test::pngBytes(pngLayout(0, 8), p.width, p.height, pngSamples(p, {3}, 8))};
     }},
    // The example's exports have at most 16 colours (with their alphas): each fits a palette as it is.
    {"PNG palette 8 with tRNS", ExportFormat::Png,
     [](const Exported& e) {
       PngLayout layout = pngLayout(3, 8);
       layout.transparency = true;
       std::vector<int> index;
       if (!paletteOf(e.picture, true, layout.palette, index)) return Saved{};
       return Saved{
           test::pngBytes(layout, e.picture.width, e.picture.height, Bytes(index.begin(), index.end())), {}};
     }},
    {"PNG RGBA 8 Adam7", ExportFormat::Png,
     [](const Exported& e) {
       PngLayout layout = pngLayout(6, 8, SPNG_FILTER_CHOICE_AVG);
       layout.interlaced = true;
       return Saved{rgbaPng(e.picture, layout), {}};
     }},
    {"PNG RGBA 8 with gAMA 1.0, sRGB, iCCP and cHRM", ExportFormat::Png,
     [](const Exported& e) {
       PngLayout layout = pngLayout(6, 8);
       layout.gamma = 1.0;
       layout.srgb = layout.iccProfile = layout.chromaticities = true;
       return Saved{rgbaPng(e.picture, layout), {}};
     }},

    {"BMP as exported", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{e.image, e.alpha};
     },
     false},
    {"BMP 24-bit with an alpha BMP", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{bmp24(e.picture, false), alphaBmp(e.picture)};
     }},
    {"BMP 24-bit top-down with an alpha BMP", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{bmp24(e.picture, true), alphaBmp(e.picture)};
     }},
    {"BMP 32-bit bit fields, 124-byte header with an alpha mask", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{bmp32(e.picture, 124, test::kBmpBitfields), {}};
     }},
    {"BMP 32-bit BI_RGB, 40-byte header", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{bmp32(e.picture, 40, test::kBmpRgb), {}};
     }},
    // The example's colours fit a palette as they are (without alpha, which the alpha BMP holds).
    {"BMP 8-bit palette with an alpha BMP", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{bmp8(e.picture, test::kBmpRgb), alphaBmp(e.picture)};
     }},
    {"BMP RLE8 with an alpha BMP", ExportFormat::Bmp,
     [](const Exported& e) {
       return Saved{bmp8(e.picture, test::kBmpRle8), alphaBmp(e.picture)};
     }},
};

// Where a tile the build cuts lies in the screen's export at `scale`, and its entry in `tiles`.
struct Target {
  int left = 0, top = 0;
  TileEntryRef entry;
  bool opaque = false; // a plain background cell: its tile is stored opaque
  bool found = false;
};

// A background cell in the middle of the visible grid, or the first sprite's upper tile.
Target paintTarget(const ScreenFile& screen, const TileSet& tiles, int scale) {
  Target t;
  const int edge = 8 * scale;
  std::uint32_t index = kNotFound;
  if (screen.background()) {
    const int row = int(screen.height()) / 16, column = 16;
    const ScreenCell* cell = screen.cell(row, column);
    const int group = test::groupOfNameWord(cell->nameWord);
    index = findEntryByContent(tiles.groups[group], cell->palette, cell->pattern);
    t.left = (column - (32 - (int(screen.width()) + 7) / 8)) * edge;
    t.top = row * edge;
    t.entry.group = group;
    t.opaque = !(cell->nameWord & test::kPriority);
  } else if (screen.spriteCount() > 0) {
    const SpriteRecord& sprite = screen.sprites()[0];
    index = findEntryByContent(tiles.groups[kSpriteGroup], sprite.palette, sprite.pattern);
    const test::SpriteCorners at = test::spriteCorners(sprite.x, sprite.y, scale);
    t.left = at.left;
    t.top = at.upperTop;
    t.entry.group = kSpriteGroup;
  }
  t.entry.index = index;
  t.found = index != kNotFound;
  return t;
}

// Paints over the middle of the target's square: opaque, every colour moved by half its range.
Picture paint(Picture p, const Target& t, int edge) {
  for (int y = t.top + edge / 4; y < t.top + 3 * edge / 4; ++y)
    for (int x = t.left + edge / 4; x < t.left + 3 * edge / 4; ++x) {
      std::uint8_t* c = p.at(x, y);
      c[0] ^= 0x80, c[1] ^= 0x80, c[2] ^= 0x80, c[3] = 255;
    }
  return p;
}

// The target's square as a hi-res tile holds it: blue, green, red, alpha, top row first.
Bytes tileAt(const Picture& p, const Target& t, int edge) {
  Bytes out;
  for (int y = t.top; y < t.top + edge; ++y)
    for (int x = t.left; x < t.left + edge; ++x) {
      const std::uint8_t* c = p.at(x, y);
      out.insert(out.end(), {c[2], c[1], c[0], t.opaque ? std::uint8_t(255) : c[3]});
    }
  return out;
}

std::string entriesText(const std::vector<TileEntryRef>& entries) {
  std::string text;
  for (const TileEntryRef& e : entries)
    text += (text.empty() ? "" : ", ") + std::string("group ") + std::to_string(e.group) + " entry " +
            std::to_string(e.index);
  return text;
}

Bytes storeBytes(HiResTileTable& table) {
  std::uint64_t size = 0;
  EXPECT_TRUE(test::into(table.tempFile.size(), size));
  Bytes bytes(size);
  EXPECT_TRUE(table.tempFile.readAt(bytes.data(), bytes.size(), 0));
  return bytes;
}

TEST(ImageRoundTrip, ExportsResavedInEveryLosslessLayoutReplaceOnlyWhatWasPainted) {
  test::TempDir dir;
  auto build = createTileSet();
  ASSERT_TRUE(readTilesFile(*build, joinPath(test::kExampleFolder, "game.mstiles")));
  sortByOrderKeys(*build);

  // A full background, a background 248 pixels wide, and sprites alone.
  for (const char* name : {"title", "level", "sprites"}) {
    const std::string screenPath = joinPath(test::kExampleFolder, std::string(name) + ".msscreen");
    ScreenFile screen;
    ASSERT_TRUE(readScreenFile(screen, screenPath)) << screenPath;
    for (int scale = 1; scale <= 4; ++scale) {
      const int edge = 8 * scale;
      const Target target = paintTarget(screen, *build, scale);
      ASSERT_TRUE(target.found) << name;
      const Exported exports[] = {exportOf(screen, scale, ExportFormat::Png, dir),
                                  exportOf(screen, scale, ExportFormat::Bmp, dir)};
      for (const Exported& e : exports) {
        ASSERT_FALSE(e.image.empty()) << name << " at " << scale << "x";
        ASSERT_GE(e.picture.width, target.left + edge);
        ASSERT_GE(e.picture.height, target.top + edge);
      }

      for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(std::string(name) + " at " + std::to_string(scale) + "x, " + layout.name);
        const Exported& exported = exports[layout.format == ExportFormat::Png ? 0 : 1];
        const Exported painted{{}, {}, paint(exported.picture, target, edge)};

        for (const Exported* picture : {&exported, &painted}) {
          if (picture == &painted && !layout.painted) continue;
          const Saved saved = layout.save(*picture);
          ASSERT_FALSE(saved.image.empty()) << "the picture fits the layout";
          const std::string image = dir.file(std::string("image") + exportExtension(layout.format));
          const std::string alpha = alphaPathFor(image);
          ASSERT_TRUE(test::writeFileBytes(image, saved.image.data(), saved.image.size()));
          ASSERT_TRUE(saved.alpha.empty()
                          ? deleteFile(alpha) || pathKind(alpha) == PathKind::Missing
                          : test::writeFileBytes(alpha, saved.alpha.data(), saved.alpha.size()));

          auto table = std::make_unique<HiResTileTable>();
          ASSERT_TRUE(generateHiResTiles(*table, *build, std::uint32_t(scale)));
          Bytes expected = storeBytes(*table);
          ScreenReplaceInfo info;
          ASSERT_TRUE(replaceTilesFromScreen(*table, *build, screenPath, image, alpha, nullptr, &info));
          EXPECT_EQ(info.imageSize, info.expectedSize);
          if (picture == &exported) {
            EXPECT_EQ(entriesText(info.replaced), "") << "an unchanged picture replaces nothing";
          } else {
            EXPECT_EQ(entriesText(info.replaced), entriesText({target.entry}));
            std::uint32_t offset = 0;
            ASSERT_TRUE(hiResTileOffset(*table, target.entry.group, target.entry.index, offset));
            const Bytes tile = tileAt(painted.picture, target, edge);
            std::memcpy(expected.data() + offset, tile.data(), tile.size());
          }
          EXPECT_TRUE(storeBytes(*table) == expected)
              << "the store holds the generated tiles and what was painted";
        }
        if (HasFailure()) return; // the first layout that fails is enough to read
      }
    }
  }
}

} // namespace
} // namespace zelvo

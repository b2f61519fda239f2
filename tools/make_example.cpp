// Writes the bundled example: examples/game/ (a tiles file, three screen files and the images an
// artist painted over them at 2x) and examples/game.sms (a made-up 32 KiB ROM image).
//
//   make_example EXAMPLES_FOLDER
#include "synthetic_game.h"

#include "platform/fs.h"
#include "render/image_save.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

using namespace zelvo;
using namespace zelvo::synth;

namespace {

constexpr int kScale = 2;

// Palettes. Master System colour bytes: bits 0-1 red, 2-3 green, 4-5 blue.
const std::uint8_t kLand[16] = {0x38, 0x3F, 0x08, 0x04, 0x06, 0x05, 0x15, 0x00,
                                0x0F, 0x03, 0x2A, 0x3E, 0x0B, 0x01, 0x24, 0x10};
const std::uint8_t kWater[16] = {0x30, 0x34, 0x39, 0x3F, 0x20, 0x10, 0x3C, 0x00,
                                 0x08, 0x04, 0x06, 0x05, 0x15, 0x2A, 0x3A, 0x35};
const std::uint8_t kTitle[16] = {0x38, 0x0F, 0x0B, 0x07, 0x00, 0x3F, 0x03, 0x02,
                                 0x01, 0x15, 0x2A, 0x0A, 0x05, 0x1F, 0x2F, 0x3B};
const std::uint8_t kBricks[16] = {0x10, 0x06, 0x02, 0x01, 0x2A, 0x15, 0x00, 0x3F,
                                  0x0F, 0x0A, 0x05, 0x04, 0x08, 0x0C, 0x03, 0x07};
const std::uint8_t kSprites[16] = {0x00, 0x1B, 0x03, 0x30, 0x00, 0x3F, 0x0F, 0x06,
                                   0x01, 0x2A, 0x15, 0x34, 0x0C, 0x08, 0x3C, 0x02};

struct Art {
  const char* rows[8];
};

// One character per pixel: '.' is colour 0, '1'..'9' and 'a'..'f' the others.
void patternOf(const Art& art, std::uint8_t planes[32]) {
  std::memset(planes, 0, 32);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const char ch = art.rows[y][x];
      int n = 0;
      if (ch >= '1' && ch <= '9') n = ch - '0';
      if (ch >= 'a' && ch <= 'f') n = ch - 'a' + 10;
      setColourNumber(planes, x, y, n);
    }
  }
}

// clang-format off
const Art kSky      = {{"........", "........", "........", "........", "........", "........", "........", "........"}};
const Art kCloudL   = {{"........", "....111.", "..11111.", ".1111111", "11111111", "11111111", ".1111111", "........"}};
const Art kCloudR   = {{"........", "111.....", "1111....", "111111..", "1111111.", "11111111", "1111111.", "........"}};
const Art kGrass    = {{"2.2..2.2", "22222222", "32223222", "44444444", "44544444", "44444454", "45444444", "44444444"}};
const Art kSlope    = {{".......2", "......22", ".....232", "....2444", "...24444", "..244454", ".2444444", "24444444"}};
const Art kDirt     = {{"44444444", "44454444", "44444444", "45444445", "44444444", "44445444", "44444444", "54444444"}};
const Art kStone    = {{"66666667", "6666666d", "666d6667", "66666667", "66666667", "6d666667", "66666667", "77777777"}};
const Art kWaveA    = {{"........", "..1111..", ".1.22.1.", "1.2..2.1", "........", "...33...", "..3..3..", "........"}};
const Art kWaveB    = {{"1......1", ".1....1.", "..1111..", "........", "...22...", "..2..2..", ".2....2.", "........"}};
const Art kDeep     = {{"44444444", "44454444", "44444444", "45444445", "44444444", "44445444", "44444444", "54444444"}};
const Art kLetterZ  = {{"11111114", ".....114", "....114.", "...114..", "..114...", ".114....", "11111114", ".4444444"}};
const Art kLetterE  = {{"1111111.", "114.....", "114.....", "111111..", "114.....", "114.....", "1111111.", ".4444444"}};
const Art kLetterL  = {{"114.....", "114.....", "114.....", "114.....", "114.....", "114.....", "1111111.", ".4444444"}};
const Art kLetterV  = {{"114..114", "114..114", "114..114", "114..114", ".114114.", "..1114..", "...14...", "....4..."}};
const Art kLetterO  = {{".11111..", "114.114.", "114.114.", "114.114.", "114.114.", "114.114.", ".11111..", "..44444."}};
const Art kBrick    = {{"11111121", "11111121", "22222222", "21111111", "21111111", "22222222", "11112111", "11112111"}};
const Art kPipeL    = {{"78888877", "78eeee77", "78eeee77", "78eeee77", "78eeee77", "78eeee77", "78eeee77", "78eeee77"}};
const Art kPipeTop  = {{"77777777", "7888888e", "78eeeeee", "78eeeeee", "7888888e", "77777777", ".78eeee7", ".78eeee7"}};
const Art kFence    = {{".5....5.", "55555555", ".5....5.", ".5....5.", ".5....5.", "55555555", ".5....5.", ".5....5."}};
const Art kHeroTop  = {{"..2222..", ".222222.", "..1111..", ".1e11e1.", ".111111.", "..1221..", "...11...", ".333333."}};
const Art kHeroLow  = {{"33333333", "3.3333.3", "1.3333.1", "..3333..", "..3..3..", "..3..3..", ".77..77.", "777..777"}};
const Art kCoin     = {{"..6666..", ".666666.", "66f6f666", "66f66666", "66f66666", "66f6f666", ".666666.", "..6666.."}};
const Art kBird     = {{"........", "55....55", ".55..55.", "..5555..", "...55...", "........", "........", "........"}};
const Art kUnused   = {{"1.1.1.1.", ".2.2.2.2", "3.3.3.3.", ".4.4.4.4", "5.5.5.5.", ".6.6.6.6", "7.7.7.7.", ".8.8.8.8"}};
// clang-format on

// Builds the catalogue as the recorder would: every tile a screen shows gets an entry (once), each
// record with order keys of its own, in an order that the build's sort changes.
class Recorder {
public:
  explicit Recorder(Catalogue& catalogue) : catalogue_(catalogue), random_(1994) {}

  std::uint32_t palette(const std::uint8_t colours[16]) {
    std::vector<std::uint8_t> key(colours, colours + 16);
    auto found = palettes_.find(key);
    if (found != palettes_.end()) return found->second;
    return palettes_[key] = catalogue_.addPalette(colours, random_() % 1000, random_());
  }
  std::uint32_t pattern(const std::uint8_t planes[32]) {
    std::vector<std::uint8_t> key(planes, planes + 32);
    auto found = patterns_.find(key);
    if (found != patterns_.end()) return found->second;
    return patterns_[key] = catalogue_.addPattern(planes, random_() % 1000, random_());
  }
  void entry(int group, const std::uint8_t colours[16], const std::uint8_t planes[32]) {
    const auto key = std::make_tuple(group, palette(colours), pattern(planes));
    if (!entries_.insert(key).second) return;
    catalogue_.addEntry(group, std::get<1>(key), std::get<2>(key), random_() % 1000, random_());
  }

  void cell(Cell& cell, const std::uint8_t colours[16], const Art& art, std::uint16_t nameWord) {
    std::memcpy(cell.colours, colours, 16);
    patternOf(art, cell.planes);
    cell.nameWord = nameWord;
    cell.visible = true;
    entry(groupForNameWord(nameWord), cell.colours, cell.planes);
  }
  Sprite sprite(const Art& upper, const Art* lower, int x, int y) {
    Sprite s;
    std::memcpy(s.colours, kSprites, 16);
    patternOf(upper, s.planes);
    entry(kSpriteGroup, s.colours, s.planes);
    if (lower) {
      s.tall = true;
      std::memcpy(s.colours2, kSprites, 16);
      patternOf(*lower, s.planes2);
      entry(kSpriteGroup, s.colours2, s.planes2);
    }
    s.x = std::uint8_t(x);
    s.y = std::uint8_t(y);
    return s;
  }

private:
  Catalogue& catalogue_;
  Random random_;
  std::map<std::vector<std::uint8_t>, std::uint32_t> palettes_, patterns_;
  std::set<std::tuple<int, std::uint32_t, std::uint32_t>> entries_;
};

constexpr std::uint16_t kFlipH = 0x200, kFlipV = 0x400, kPriority = 0x1000;

// Sky with clouds, the title in front (priority: the sky shows through), grass hills and water
// that mirrors them. Full 256 x 192.
void titleScreen(Recorder& rec, Screen& s) {
  s.width = 256;
  s.height = 192;
  s.hasGrid = true;
  for (int r = 0; r < 28; ++r)
    for (int c = 0; c < 32; ++c) rec.cell(s.grid[r][c], kLand, kSky, 0);
  for (int c : {3, 12, 22}) {
    rec.cell(s.grid[1][c], kLand, kCloudL, 0);
    rec.cell(s.grid[1][c + 1], kLand, kCloudR, 0);
    rec.cell(s.grid[2][c + 1], kLand, kCloudL, kFlipV | kFlipH);
  }
  const Art* letters[] = {&kLetterZ, &kLetterE, &kLetterL, &kLetterV, &kLetterO};
  for (int i = 0; i < 5; ++i) {
    rec.cell(s.grid[5][11 + 2 * i], kTitle, *letters[i], kPriority);
    rec.cell(s.grid[6][11 + 2 * i], kTitle, *letters[i], kPriority | kFlipV); // its shadow
  }
  for (int c = 0; c < 32; ++c) {
    const bool hillLeft = c % 8 == 2, hillRight = c % 8 == 5;
    rec.cell(s.grid[13][c], kLand, hillLeft || hillRight ? kSlope : kSky, hillRight ? kFlipH : 0);
    rec.cell(s.grid[14][c], kLand, kGrass, 0);
    for (int r = 15; r < 18; ++r) rec.cell(s.grid[r][c], kLand, c % 5 == r % 5 ? kStone : kDirt, 0);
    rec.cell(s.grid[18][c], kWater, c % 2 ? kWaveA : kWaveB, 0);
    rec.cell(s.grid[19][c], kWater, kGrass, kFlipV); // the grass mirrored in the water
    for (int r = 20; r < 24; ++r)
      rec.cell(s.grid[r][c], kWater, r % 2 ? kDeep : kWaveB, r == 22 ? kFlipH : 0);
  }
}

// A level 248 pixels wide (grid column 0 is hidden) and 128 high: bricks, pipes with flipped
// parts, and a fence in front of the pipes (priority, horizontally flipped).
void levelScreen(Recorder& rec, Screen& s) {
  s.width = 248;
  s.height = 128;
  s.hasGrid = true;
  for (int r = 0; r < 28; ++r) {
    for (int c = 0; c < 32; ++c) {
      rec.cell(s.grid[r][c], kBricks, kSky, 0);
      if (c == 0) { // what the console hides: not in the tiles file
        std::memset(s.grid[r][c].colours, 0x2B, 16);
        s.grid[r][c].visible = false;
      }
    }
  }
  for (int c = 1; c < 32; ++c) {
    for (int r = 13; r < 16; ++r) rec.cell(s.grid[r][c], kBricks, kBrick, 0);
    if (c % 7 == 3 && c + 1 < 32) {
      rec.cell(s.grid[9][c], kBricks, kPipeTop, 0);
      rec.cell(s.grid[9][c + 1], kBricks, kPipeTop, kFlipH);
      for (int r = 10; r < 13; ++r) {
        rec.cell(s.grid[r][c], kBricks, kPipeL, 0);
        rec.cell(s.grid[r][c + 1], kBricks, kPipeL, kFlipH);
      }
      rec.cell(s.grid[8][c], kBricks, kPipeTop, kFlipV | kFlipH | kPriority); // a lid that hangs in front
    }
    if (c >= 10 && c < 22) rec.cell(s.grid[12][c], kBricks, kFence, kPriority | kFlipH);
  }
  for (int c = 5; c < 28; c += 9) rec.cell(s.grid[4][c], kBricks, kBrick, kFlipV);
}

// Sprites only: the hero (two tiles high), coins and birds; one bird at x 252 (drawn at 248), and
// a hero low on the screen whose lower tile does not fit.
void spriteScreen(Recorder& rec, Screen& s) {
  s.hasGrid = false;
  s.sprites.push_back(rec.sprite(kHeroTop, &kHeroLow, 60, 150));
  s.sprites.push_back(rec.sprite(kHeroTop, &kHeroLow, 120, 210));
  for (int i = 0; i < 8; ++i) s.sprites.push_back(rec.sprite(kCoin, nullptr, 40 + 20 * i, 100 + (i % 2) * 6));
  s.sprites.push_back(rec.sprite(kBird, nullptr, 30, 20));
  s.sprites.push_back(rec.sprite(kBird, nullptr, 252, 40));
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_example EXAMPLES_FOLDER\n", stderr);
    return 2;
  }
  const std::string root = argv[1];
  const std::string game = joinPath(root, "game");
  for (const std::string& folder : {root, game})
    if (!isDirectory(folder))
      if (Status made = createDirectory(folder); !made) {
        std::fprintf(stderr, "make_example: %s\n", made.error().message().c_str());
        return 1;
      }
  Catalogue catalogue;
  Recorder rec(catalogue);
  static Screen title, level, sprites;
  titleScreen(rec, title);
  levelScreen(rec, level);
  spriteScreen(rec, sprites);
  // Tiles the game showed elsewhere: they keep their generated hi-res tiles.
  std::uint8_t planes[32];
  patternOf(kUnused, planes);
  rec.entry(0, kLand, planes);
  rec.entry(3, kWater, planes);
  rec.entry(7, kTitle, planes);
  rec.entry(kSpriteGroup, kSprites, planes);

  Brush brush;
  Result<RgbaImage> titleArt = paintScreen(title, kScale, brush);
  brush.seed = 7;
  brush.shading = 40;
  Result<RgbaImage> levelArt = paintScreen(level, kScale, brush);
  brush.seed = 3;
  brush.shading = 30;
  Result<RgbaImage> spriteArt = paintScreen(sprites, kScale, brush);

  const bool ok = writeCatalogue(joinPath(game, "game.mstiles"), catalogue) &&
                  writeScreen(joinPath(game, "title.msscreen"), title) &&
                  writeScreen(joinPath(game, "level.msscreen"), level) &&
                  writeScreen(joinPath(game, "sprites.msscreen"), sprites) && titleArt && levelArt &&
                  spriteArt &&
                  saveImageAtomically(*titleArt, ImageFormat::Png, joinPath(game, "title.png")) &&
                  saveBmpPair(*levelArt, joinPath(game, "level.bmp"), joinPath(game, "level_alpha.bmp")) &&
                  saveImageAtomically(*spriteArt, ImageFormat::Png, joinPath(game, "sprites.png")) &&
                  writeBytes(joinPath(root, "game.sms"), makeRom(0x8000, 1986));
  if (!ok) {
    std::fputs("make_example: writing the example failed\n", stderr);
    return 1;
  }
  std::printf("example written to %s (%u palettes, %u patterns, %u tile entries)\n", game.c_str(),
              unsigned(catalogue.palettes.size()), unsigned(catalogue.patterns.size()),
              catalogue.entryCount());
  return 0;
}

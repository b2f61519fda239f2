// `zelvo export`, run as a user runs it: the files Save Bitmap writes, the viewer's picture with
// --display, usage errors and screens that cannot be loaded, and exports built back unchanged.
#include "platform/fs.h"
#include "support/cli_run.h"
#include "support/screen_pictures.h"
#include "support/temp_dir.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <cstring>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::ScreenContent;
using test::TempDir;

using Outcome = test::CliOutcome;

Outcome zelvo(const std::string& cwd, const std::string& arguments, const TempDir& dir) {
  return test::runZelvo(cwd, arguments, dir);
}

// Sprites side by side, one of them two tiles high.
ScreenContent spriteScreen(const test::TilesContent& t) {
  ScreenContent s;
  s.addSprite(0, 0, t, 0, 1);
  s.addTallSprite(100, 30, t, 2, 5, 3, 0);
  s.addSprite(250, 200, t, 1, 4);
  return s;
}

class ExportCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    work = dir.file("work");
    ASSERT_TRUE(createDirectory(work));
    ASSERT_TRUE(test::writeTilesFixture(joinPath(work, "game.mstiles"), tiles));
    ASSERT_TRUE(test::writeScreenFixture(joinPath(work, "grid.msscreen"), test::backgroundScreen(tiles)));
    ASSERT_TRUE(test::writeScreenFixture(joinPath(work, "sprites.msscreen"), spriteScreen(tiles)));
  }
  std::string at(const std::string& name) const { return joinPath(work, name); }
  Outcome run(const std::string& arguments) const { return zelvo(work, arguments, dir); }

  std::unique_ptr<ScreenFile> load(const std::string& name) const {
    auto screen = std::make_unique<ScreenFile>();
    EXPECT_TRUE(readScreenFile(*screen, at(name)));
    return screen;
  }

  TempDir dir;
  std::string work;
  test::TilesContent tiles = test::viewerTiles();
};

TEST_F(ExportCommandTest, WritesWhatSaveBitmapWritesAtFactorOneUnlessTold) {
  auto grid = load("grid.msscreen");
  auto sprites = load("sprites.msscreen");
  ASSERT_TRUE(exportScreenImage(*grid, 1, ExportFormat::Png, false, dir.file("grid1.png")));
  ASSERT_TRUE(exportScreenImage(*grid, 3, ExportFormat::Bmp, false, dir.file("grid3.bmp")));
  ASSERT_TRUE(exportScreenImage(*sprites, 2, ExportFormat::Bmp, true, dir.file("sprites2.bmp")));

  Outcome o = run("export grid.msscreen a.png");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(test::readFileBytes(at("a.png")) == test::readFileBytes(dir.file("grid1.png")));
  EXPECT_EQ(pathKind(at("a_alpha.png")), PathKind::Missing);

  // Any case of the extension; the alpha image takes the target's.
  o = run("export grid.msscreen b.BMP --factor 3");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(test::readFileBytes(at("b.BMP")) == test::readFileBytes(dir.file("grid3.bmp")));
  EXPECT_TRUE(test::readFileBytes(at("b_alpha.BMP")) == test::readFileBytes(dir.file("grid3_alpha.bmp")));

  // A screen without a grid exports its sprites.
  o = run("export sprites.msscreen c.Bmp --factor 2");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(test::readFileBytes(at("c.Bmp")) == test::readFileBytes(dir.file("sprites2.bmp")));
  EXPECT_TRUE(test::readFileBytes(at("c_alpha.Bmp")) == test::readFileBytes(dir.file("sprites2_alpha.bmp")));
  EXPECT_EQ(test::countTmpFiles(work), 0u);
}

// A folder's export writes, for every screen, what its own export writes; existing images stop it
// before anything is written unless --force is given.
TEST_F(ExportCommandTest, AFoldersExportEqualsTheSingleExports) {
  struct Case {
    const char* factor;
    const char* options;
    const char* extension;
    std::vector<const char*> extra; // the alpha images beside a BMP
  };
  const Case cases[] = {{"", "", ".png", {}},
                        {" -f 3", " --format png", ".png", {}},
                        {" --factor 2", " --format bmp", ".bmp", {"grid_alpha.bmp", "sprites_alpha.bmp"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.factor) + c.options);
    const std::string single = dir.file("single"), all = dir.file("all");
    ASSERT_TRUE(createDirectory(single));
    for (const char* screen : {"grid", "sprites"}) {
      const Outcome o = run(std::string("export ") + screen + ".msscreen '" + joinPath(single, screen) +
                            c.extension + "'" + c.factor);
      ASSERT_EQ(o.status, 0) << o.err;
    }
    const std::string folderExport = std::string("export . '") + all + "'" + c.factor + c.options;
    Outcome o = run(folderExport);
    ASSERT_EQ(o.status, 0) << o.err;
    std::vector<std::string> names{std::string("grid") + c.extension, std::string("sprites") + c.extension};
    // Each image is named as it is written, then the run is summed up.
    std::string said;
    for (std::size_t i = 0; i < 2; ++i)
      said +=
          "Wrote " + names[i] + (c.extra.empty() ? std::string() : std::string(" and ") + c.extra[i]) + "\n";
    EXPECT_EQ(o.out.substr(0, said.size()), said);
    EXPECT_EQ(o.out.substr(said.size()).rfind("Exported 2 of 2 screens at ", 0), 0u) << o.out;
    names.insert(names.end(), c.extra.begin(), c.extra.end());
    for (const std::string& name : names)
      EXPECT_TRUE(test::readFileBytes(joinPath(all, name)) == test::readFileBytes(joinPath(single, name)))
          << name;

    ASSERT_TRUE(test::writeFileBytes(joinPath(all, names[1]), "painted", 7));
    (void)deleteFile(joinPath(all, names[0]));
    o = run(folderExport);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("--force"), std::string::npos) << o.err;
    EXPECT_EQ(pathKind(joinPath(all, names[0])), PathKind::Missing) << "nothing written";
    EXPECT_EQ(test::readFileBytes(joinPath(all, names[1])), "painted");
    o = run(folderExport + " --force");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(test::readFileBytes(joinPath(all, names[1])) ==
                test::readFileBytes(joinPath(single, names[1])));
    ASSERT_EQ(std::system(("rm -r '" + single + "' '" + all + "'").c_str()), 0);
  }
}

TEST_F(ExportCommandTest, UsageErrorsWriteNothing) {
  for (const char* arguments : {"export grid.msscreen a.jpg", "export grid.msscreen a",
                                "export grid.msscreen d.png/a", "export grid.msscreen a.png --factor 5",
                                "export grid.msscreen a.png --factor 0", "export grid.msscreen"}) {
    const Outcome o = run(arguments);
    EXPECT_EQ(o.status, 2) << arguments;
    EXPECT_NE(o.err, "") << arguments;
  }
  for (const char* name : {"a.jpg", "a", "a.png", "d.png"})
    EXPECT_EQ(pathKind(at(name)), PathKind::Missing) << name;
}

TEST_F(ExportCommandTest, DisplayWritesTheViewersOpaquePicture) {
  for (const char* name : {"grid.msscreen", "sprites.msscreen"}) {
    SCOPED_TRACE(name);
    const Outcome o = run(std::string("export ") + name + " shown.png --display --force");
    ASSERT_EQ(o.status, 0) << o.err;
    std::string kind;
    const test::Picture picture = test::readPicture(at("shown.png"), &kind);
    EXPECT_EQ(kind, "PNG, 8-bit RGB");

    auto screen = load(name);
    Result<RgbaImage> shown = renderForDisplay(*screen);
    ASSERT_TRUE(shown);
    EXPECT_EQ(test::difference(picture, test::pictureOf(*shown)), ""); // 1x, opaque throughout
    if (name[0] == 's') {
      EXPECT_EQ(picture.at(200, 100), 0xFF808000u); // olive between the sprites
    }
  }
  EXPECT_EQ(test::countTmpFiles(work), 0u);
}

// A disk that fills up (here a file-size limit of 512 bytes, which the program meets as writes
// that fail) fails the export with a message and leaves the old images exactly as they were.
TEST_F(ExportCommandTest, AFullDiskFailsTheExportAndKeepsTheOldImages) {
  struct Case {
    const char* arguments;
    std::vector<std::string> kept;
  };
  const Case cases[] = {
      {"export grid.msscreen kept.png --factor 4 --force", {"kept.png", "kept_alpha.bmp"}},
      {"export grid.msscreen kept.bmp --factor 2 --force", {"kept.bmp", "kept_alpha.bmp"}},
      {"export grid.msscreen kept.png --display --force", {"kept.png"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    for (const std::string& name : c.kept) {
      const std::string old = "the artist's " + name;
      ASSERT_TRUE(test::writeFileBytes(at(name), old.data(), old.size()));
    }
    const Outcome o = test::runZelvo(work, c.arguments, dir, "ulimit -f 1");
    EXPECT_EQ(o.status, 1) << "a failed write, not a signal, ends it";
    EXPECT_NE(o.err.find("kept."), std::string::npos) << o.err;
    for (const std::string& name : c.kept) EXPECT_EQ(test::readFileBytes(at(name)), "the artist's " + name);
    EXPECT_EQ(test::countTmpFiles(work), 0u);
  }
}

TEST_F(ExportCommandTest, ScreensThatCannotBeLoadedFailWithAMessageAndNoFile) {
  ASSERT_TRUE(test::writeFileBytes(at("broken.msscreen"), "MSSCREN", 7));
  const std::string alone = dir.file("alone");
  ASSERT_TRUE(createDirectory(alone));
  ASSERT_TRUE(test::writeScreenFixture(joinPath(alone, "lost.msscreen"), test::backgroundScreen(tiles)));
  ASSERT_TRUE(test::writeFileBytes(at("kept.png"), "old picture", 11));

  // Each message names the file at fault and the reader's reason.
  const struct {
    std::string screen;
    std::string reason;
  } screens[] = {
      {"broken.msscreen",
       "broken.msscreen: cannot load the screen file: the header ends after 7 of 32 bytes"},
      {"missing.msscreen", "missing.msscreen: cannot load the screen file: opening: No such file"},
      {joinPath(alone, "lost.msscreen"),
       "lost.msscreen: cannot load the tiles file beside the screen file: " + joinPath(alone, "") +
           ": no .mstiles file in the folder"},
  };
  for (const auto& [screen, reason] : screens) {
    for (const char* output : {"out.png", "out.bmp", "kept.png"}) {
      for (const char* display : {"", " --display"}) {
        const std::string arguments = "export '" + screen + "' " + output + display + " --force";
        const Outcome o = run(arguments);
        // --display writes PNG only: a .bmp output is refused before the screen is read.
        const bool usage = *display && std::string(output) == "out.bmp";
        EXPECT_EQ(o.status, usage ? 2 : 1) << arguments;
        EXPECT_NE(o.err.find(usage ? output : reason), std::string::npos) << o.err;
      }
    }
  }
  EXPECT_EQ(pathKind(at("out.png")), PathKind::Missing);
  EXPECT_EQ(pathKind(at("out.bmp")), PathKind::Missing);
  EXPECT_EQ(pathKind(at("out_alpha.bmp")), PathKind::Missing);
  EXPECT_EQ(test::readFileBytes(at("kept.png")), "old picture");

  // A screen that loads but has nothing to draw.
  ASSERT_TRUE(test::writeScreenFixture(at("empty.msscreen"), ScreenContent{}));
  for (const char* arguments :
       {"export empty.msscreen kept.png --force", "export empty.msscreen kept.png --display --force"}) {
    const Outcome o = run(arguments);
    EXPECT_EQ(o.status, 1) << arguments;
    EXPECT_NE(o.err, "") << arguments;
  }
  EXPECT_EQ(test::readFileBytes(at("kept.png")), "old picture");
  EXPECT_EQ(test::countTmpFiles(work), 0u);
}

// Exports of a screen with priority cells and of a sprite screen, put back unchanged, build the
// same pack as no image at all.
TEST_F(ExportCommandTest, UntouchedExportsWithPriorityCellsAndSpritesReplaceNothing) {
  const std::string bare = dir.file("bare");
  ASSERT_TRUE(createDirectory(bare));
  ASSERT_TRUE(test::writeTilesFixture(joinPath(bare, "game.mstiles"), tiles));
  std::vector<std::uint8_t> rom(32768, 0x11);
  std::memcpy(rom.data() + 0x7FF0, "TMR SEGA", 8);
  ASSERT_TRUE(test::writeFileBytes(dir.file("game.sms"), rom.data(), rom.size()));

  struct Case {
    int factor;
    const char *gridImage, *spriteImage;
  };
  for (const Case c : {Case{1, "grid.png", "sprites.bmp"}, Case{3, "grid.bmp", "sprites.png"}}) {
    const std::string f = std::to_string(c.factor);
    for (const char* name :
         {"grid.png", "grid.bmp", "grid_alpha.bmp", "sprites.png", "sprites.bmp", "sprites_alpha.bmp"})
      (void)deleteFile(at(name));
    ASSERT_EQ(run(std::string("export grid.msscreen ") + c.gridImage + " --factor " + f).status, 0);
    ASSERT_EQ(run(std::string("export sprites.msscreen ") + c.spriteImage + " --factor " + f).status, 0);
    const Outcome with = zelvo(work, "build . --rom ../game.sms --output ../with.zrm --scale " + f, dir);
    ASSERT_EQ(with.status, 0) << with.out;
    const Outcome without =
        zelvo(bare, "build . --rom ../game.sms --output ../without.zrm --scale " + f, dir);
    ASSERT_EQ(without.status, 0) << without.out;
    const std::string a = test::readFileBytes(dir.file("with.zrm")),
                      b = test::readFileBytes(dir.file("without.zrm"));
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << "factor " << f;
  }
}

} // namespace
} // namespace zelvo

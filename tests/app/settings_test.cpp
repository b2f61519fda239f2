#include "app/ini_file.h"
#include "app/settings.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::TempDir;

FrameMetrics metrics1024() {
  FrameMetrics m;
  m.primaryScreen = {0, 0, 1024, 768};
  m.windowWidth = 576;
  m.windowHeight = 459;
  return m;
}

void writeText(const std::string& path, const std::string& text) {
  ASSERT_TRUE(test::writeFileBytes(path, text.data(), text.size()));
}

TEST(Settings, MissingFileGivesTheDefaultsCentredOnThePrimaryScreen) {
  TempDir dir;
  AppState state;
  state.lastFile = "stale";
  loadSettingsFrom(state, metrics1024(), dir.file("ZelvoTool.ini"));
  EXPECT_EQ(state.lastFile, "");
  EXPECT_EQ(state.lastInputFolder, "");
  EXPECT_EQ(state.lastOriginalRom, "");
  EXPECT_EQ(state.lastOutputFile, "");
  EXPECT_EQ(state.lastTilesRes, 4);
  const WindowPlacement& p = state.placement;
  EXPECT_EQ(p.length, 44u);
  EXPECT_EQ(p.flags, 0u);
  EXPECT_EQ(p.showCmd, 5u);
  EXPECT_EQ(p.normalPosition, (PlacementRect{224, 154, 224 + 576, 154 + 459}));
  EXPECT_EQ(p.maxPosition.x, 0);
  EXPECT_EQ(p.minPosition.y, 0);
  EXPECT_FALSE(isRegularFile(dir.file("ZelvoTool.ini"))) << "loading writes nothing";

  // A primary screen that does not start at 0,0, and a frame wider than the screen: the shift is
  // arithmetic, so the frame starts left of the screen.
  FrameMetrics m;
  m.primaryScreen = {100, 50, 900, 650};
  m.windowWidth = 1001;
  m.windowHeight = 401;
  WindowPlacement d = defaultPlacement(m);
  EXPECT_EQ(d.normalPosition, (PlacementRect{100 - 101, 50 + 99, 100 - 101 + 1001, 50 + 99 + 401}));
}

TEST(Settings, RoundTripKeepsEveryFieldAndWritesAllSevenPlacementKeys) {
  TempDir dir;
  const std::string path = dir.file("ZelvoTool.ini");
  AppState state;
  state.lastFile = "/screens/title.msscreen";
  state.lastInputFolder = "C:\\work\\game";
  state.lastOriginalRom = "  game (E).zip";
  state.lastOutputFile = "out.zrm";
  state.lastTilesRes = 3;
  state.lastPack = "/packs/game.zrm";
  state.placement.showCmd = kShowMaximized;
  state.placement.normalPosition = {-1200, -8, 300, 700};
  state.placement.maxPosition = {-1, -1};
  ASSERT_TRUE(saveSettingsTo(state, path));

  const std::string text = test::readFileBytes(path);
  for (const char* line : {"[General]\r\n", "LastFile=/screens/title.msscreen\r\n", "LastTilesRes=3\r\n",
                           "[MainWindow]\r\n", "showCmd=3\r\n", "left=-1200\r\n", "top=-8\r\n",
                           "right=300\r\n", "bottom=700\r\n", "MaxPos.x=-1\r\n", "MaxPos.y=-1\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }

  AppState loaded;
  loadSettingsFrom(loaded, metrics1024(), path);
  EXPECT_EQ(loaded.lastFile, state.lastFile);
  EXPECT_EQ(loaded.lastInputFolder, state.lastInputFolder);
  EXPECT_EQ(loaded.lastOriginalRom, state.lastOriginalRom);
  EXPECT_EQ(loaded.lastOutputFile, state.lastOutputFile);
  EXPECT_EQ(loaded.lastTilesRes, 3);
  EXPECT_EQ(loaded.lastPack, state.lastPack);
  EXPECT_EQ(loaded.placement.showCmd, kShowMaximized);
  EXPECT_EQ(loaded.placement.normalPosition, state.placement.normalPosition);
  EXPECT_EQ(loaded.placement.maxPosition.x, -1);
  EXPECT_EQ(loaded.placement.maxPosition.y, -1);
}

TEST(Settings, TilesResOutsideOneToFourLoadsAsFour) {
  TempDir dir;
  const std::string path = dir.file("ZelvoTool.ini");
  for (const auto& [stored, expected] : std::vector<std::pair<std::string, int>>{
           {"0", 4}, {"9", 4}, {"-1", 4}, {"x", 4}, {"1", 1}, {"2", 2}, {"4", 4}, {"", 4}}) {
    writeText(path, "[General]\nLastTilesRes=" + stored + "\n");
    AppState state;
    loadSettingsFrom(state, metrics1024(), path);
    EXPECT_EQ(state.lastTilesRes, expected) << "stored " << stored;
  }
}

TEST(Settings, FarEdgesDefaultFromTheNearEdgesAsRead) {
  TempDir dir;
  const std::string path = dir.file("ZelvoTool.ini");
  writeText(path, "[MainWindow]\r\nleft=100\r\ntop=50\r\n");
  AppState state;
  loadSettingsFrom(state, metrics1024(), path);
  EXPECT_EQ(state.placement.normalPosition, (PlacementRect{100, 50, 100 + 576, 50 + 459}));
  EXPECT_EQ(state.placement.showCmd, 5u);

  // Values at the edge of the 32-bit range wrap instead of overflowing.
  writeText(path, "[MainWindow]\nleft=2147483647\ntop=-2147483648\n");
  loadSettingsFrom(state, metrics1024(), path);
  EXPECT_EQ(state.placement.normalPosition.right, -2147483648 + 575);
}

TEST(Settings, SaveKeepsOtherSectionsKeysAndLines) {
  TempDir dir;
  const std::string path = dir.file("ZelvoTool.ini");
  writeText(path, "; written by hand\n[General]\nLastFile=old\nTheme=dark\n\n[Plugins]\nx=1\n");
  AppState state;
  loadSettingsFrom(state, metrics1024(), path);
  EXPECT_EQ(state.lastFile, "old");
  state.lastFile = "new.msscreen";
  ASSERT_TRUE(saveSettingsTo(state, path));

  IniFile ini;
  ASSERT_TRUE(ini.load(path));
  EXPECT_EQ(ini.get("General", "LastFile").value_or("?"), "new.msscreen");
  EXPECT_EQ(ini.get("General", "Theme").value_or("?"), "dark");
  EXPECT_EQ(ini.get("Plugins", "x").value_or("?"), "1");
  const std::string text = test::readFileBytes(path);
  EXPECT_EQ(text.rfind("; written by hand\r\n[General]\r\nLastFile=new.msscreen\r\nTheme=dark\r\n", 0), 0u);
  EXPECT_EQ(text.find("LastFile", text.find("LastFile") + 1), std::string::npos) << "no duplicate key";
}

TEST(Settings, UnreadableFileIsNotReplacedAndLongTextsAreCut) {
  TempDir dir;
  const std::string blocked = dir.file("ZelvoTool.ini");
  ASSERT_TRUE(createDirectory(blocked));
  EXPECT_FALSE(saveSettingsTo(AppState{}, blocked));
  EXPECT_TRUE(isDirectory(blocked));

  // 1023 bytes at most, never half a UTF-8 character: "é" is two bytes.
  std::string longText(1022, 'a');
  longText += "\xC3\xA9tail";
  const std::string path = dir.file("long.ini");
  writeText(path, "[General]\nLastFile=" + longText + "\n");
  AppState state;
  loadSettingsFrom(state, metrics1024(), path);
  EXPECT_EQ(state.lastFile, std::string(1022, 'a'));
  EXPECT_EQ(limitSettingText(std::string(1023, 'b')).size(), 1023u);
}

// The list keeps the latest first, each path once, at most eight, and survives a save and load
// in the same order.
TEST(Settings, RecentScreensKeepTheLatestEightFirstAndOnce) {
  using List = std::vector<std::string>;
  struct Case {
    List before;
    std::string opened;
    List after;
  };
  const Case cases[] = {
      {{}, "a", {"a"}},
      {{"a"}, "b", {"b", "a"}},
      {{"b", "a"}, "a", {"a", "b"}},
      {{"a", "b"}, "", {"a", "b"}},
      {{"1", "2", "3", "4", "5", "6", "7", "8"}, "9", {"9", "1", "2", "3", "4", "5", "6", "7"}},
      {{"1", "2", "3", "4", "5", "6", "7", "8"}, "8", {"8", "1", "2", "3", "4", "5", "6", "7"}},
      {{"1", "2", "3", "4", "5", "6", "7", "8"}, "1", {"1", "2", "3", "4", "5", "6", "7", "8"}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    AppState state;
    state.recentScreens = c.before;
    rememberRecent(state.recentScreens, c.opened);
    EXPECT_EQ(state.recentScreens, c.after) << c.opened;
    ASSERT_TRUE(saveSettingsTo(state, dir.file("ZelvoTool.ini")));
    AppState loaded;
    loaded.recentScreens = {"stale"};
    loadSettingsFrom(loaded, metrics1024(), dir.file("ZelvoTool.ini"));
    EXPECT_EQ(loaded.recentScreens, c.after) << c.opened;
  }
}

// A portable copy keeps its own file; an installed program keeps it in the user's configuration
// folder, reading the one installed beside it until it has written its own.
TEST(SettingsFiles, BesideTheExecutableWhenOneIsThereAndCanBeWrittenElseTheConfigurationFolder) {
  TempDir dir;
  const std::string exe = dir.file("bin"), config = dir.file("home/.config/Zelvo Tool");
  ASSERT_TRUE(createDirectory(exe));
  const std::string beside = joinPath(exe, "ZelvoTool.ini"), configured = joinPath(config, "ZelvoTool.ini");
  struct Case {
    bool besideExists, writable, configExists;
    std::string config;
    std::string read, write;
  };
  const Case cases[] = {
      {true, true, false, config, beside, beside},          // a portable copy
      {true, true, true, config, beside, beside},           // ... that wins over the configuration
      {false, true, false, config, configured, configured}, // no file beside: the configuration
      {true, false, false, config, beside, configured},     // installed with a file: read it once
      {true, false, true, config, configured, configured},  // ... then the user's own
      {false, false, false, config, configured, configured},
      {false, true, false, "", beside, beside}, // no configuration folder
      {true, false, false, "", beside, ""},
      {false, false, false, "", "", ""},
      {false, true, false, std::string(1020, 'x'), beside, beside}, // longer than 1023 characters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    (void)deleteFile(beside);
    (void)deleteFile(configured);
    AppState state;
    ASSERT_TRUE(!c.besideExists || saveSettingsTo(state, beside));
    ASSERT_TRUE(!c.configExists || saveSettingsTo(state, configured)) << "the folders are made";
    const SettingsFiles files = chooseSettingsFiles(exe, c.writable, c.config);
    EXPECT_EQ(files.read, c.read);
    EXPECT_EQ(files.write, c.write);
  }
}

TEST(Placement, OnlyAPlacementOnNoScreenIsMoved) {
  const std::vector<PlacementRect> screens{{0, 0, 1920, 1040}, {1920, 0, 3200, 1024}};
  const PlacementRect primary = screens[0];
  struct Case {
    PlacementRect stored;
    bool moved;
  } cases[] = {
      {{100, 100, 700, 500}, false},    // on the primary screen
      {{2000, 10, 2600, 400}, false},   // on the second screen
      {{-500, -20, 100, 400}, false},   // partly off, 100 pixels still visible
      {{5000, 5000, 5600, 5400}, true}, // beyond every screen
      {{-800, 100, -10, 500}, true},    // left of the desktop
      {{1900, 1030, 2500, 1400}, true}, // a corner of a few pixels only
      {{300, 300, 300, 300}, false},    // empty, but on a screen
  };
  for (const Case& c : cases) {
    WindowPlacement p;
    p.normalPosition = c.stored;
    EXPECT_EQ(bringOntoScreen(p, screens, primary), c.moved) << c.stored.left << "," << c.stored.top;
    if (!c.moved) {
      EXPECT_EQ(p.normalPosition, c.stored) << "a visible placement stays exactly as stored";
      continue;
    }
    EXPECT_EQ(p.normalPosition.width(), c.stored.width());
    EXPECT_EQ(p.normalPosition.height(), c.stored.height());
    EXPECT_TRUE(isPlacementVisible(p.normalPosition, {primary}));
    EXPECT_EQ(p.normalPosition.left, (1920 - c.stored.width()) / 2);
    EXPECT_EQ(p.normalPosition.top, (1040 - c.stored.height()) / 2);
  }

  // Larger than the primary screen: its top-left corner (the title bar) lands on the screen.
  WindowPlacement huge;
  huge.normalPosition = {-9000, -9000, -9000 + 4000, -9000 + 3000};
  EXPECT_TRUE(bringOntoScreen(huge, screens, primary));
  EXPECT_EQ(huge.normalPosition, (PlacementRect{0, 0, 4000, 3000}));
}

} // namespace
} // namespace zelvo

// `zelvo inspect` of tiles and screen files, run as a user runs it.
#include "compress/md5.h"
#include "support/cli_run.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace zelvo {
namespace {

using test::DigestMode;
using test::TempDir;
using test::TilesContent;
using test::TilesFileOptions;

using Outcome = test::CliOutcome;

Outcome inspect(const TempDir& dir, const std::string& arguments) {
  return test::runZelvo(dir.path(), "inspect " + arguments, dir);
}

TilesContent sample() {
  TilesContent c;
  for (std::uint32_t i = 0; i < 5; ++i) c.addPalette(i, i);
  for (std::uint32_t i = 0; i < 7; ++i) c.addPattern(i, i);
  for (int g = 0; g < kGroupCount; ++g)
    for (int i = 0; i <= g; ++i) c.addEntry(g, std::uint32_t(i % 5), std::uint32_t(i % 7));
  return c;
}

TEST(InspectCommand, DescribesTilesFilesOfEveryMethodAndShowsADigestMismatch) {
  TempDir dir;
  const TilesContent content = sample();
  const std::vector<std::uint8_t> payload = content.payload();
  const std::string rightHex = toHex(md5Of(payload.data(), payload.size()));
  for (std::uint32_t method : {kMethodStored, kMethodDeflate, kMethodBZip2, kMethodLZMA}) {
    for (DigestMode mode : {DigestMode::Correct, DigestMode::Wrong}) {
      const std::string path = dir.file("t" + std::to_string(method) + ".mstiles");
      ASSERT_TRUE(test::writeTilesFixture(path, content, TilesFileOptions{}.method(method).withDigest(mode)));
      const Outcome r = inspect(dir, "'" + path + "' --json");
      EXPECT_EQ(r.status, mode == DigestMode::Correct ? 0 : 1) << r.err;
      const auto j = nlohmann::json::parse(r.out);
      EXPECT_EQ(j["ok"], mode == DigestMode::Correct);
      EXPECT_EQ(j["path"], path);
      EXPECT_EQ(j["size"], test::readFileBytes(path).size());
      EXPECT_EQ(j["problems"].size(), mode == DigestMode::Correct ? 0u : 1u);
      EXPECT_EQ(j["kind"], "tiles");
      EXPECT_EQ(j["flags"], 1);
      EXPECT_EQ(j["compression"], method);
      EXPECT_EQ(j["palettes"], 5);
      EXPECT_EQ(j["patterns"], 7);
      EXPECT_EQ(j["groups"], nlohmann::json({1, 2, 3, 4, 5, 6, 7, 8, 9}));
      if (mode == DigestMode::Correct) {
        EXPECT_EQ(j["digest"], rightHex);
        EXPECT_EQ(j["digestOk"], true);
      } else {
        EXPECT_NE(j["digest"], rightHex);
        EXPECT_EQ(j["digest"].template get<std::string>().size(), 32u);
        EXPECT_EQ(j["digestOk"], false) << method;
      }
    }
  }
}

TEST(InspectCommand, TextOutputAndAbsentDigest) {
  TempDir dir;
  const std::string path = dir.file("plain.mstiles");
  ASSERT_TRUE(test::writeTilesFixture(
      path, sample(),
      TilesFileOptions{}.method(kMethodBZip2).withDigest(DigestMode::Absent).withExtraBlock()));
  Outcome r = inspect(dir, "'" + path + "' --json");
  ASSERT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["flags"], 2);
  EXPECT_TRUE(j["digest"].is_null());
  EXPECT_TRUE(j["digestOk"].is_null());

  r = inspect(dir, "'" + path + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("kind: tiles\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("groups: 1 2 3 4 5 6 7 8 9\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("digest: none\n"), std::string::npos) << r.out;
}

TEST(InspectCommand, DescribesScreenFiles) {
  TempDir dir;
  const TilesContent tiles = sample();
  ASSERT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), tiles));
  test::ScreenContent screen;
  screen.width = 248;
  screen.height = 192;
  screen.setCell(1, 1, tiles, 2, 3);
  screen.addSprite(5, 6, tiles, 0, 0);
  screen.addSprite(7, 8, tiles, 1, 1);
  const std::string path = dir.file("shot.msscreen");
  ASSERT_TRUE(test::writeScreenFixture(path, screen, test::ScreenFileOptions{}.method(kMethodLZMA)));
  Outcome r = inspect(dir, "'" + path + "' --json");
  ASSERT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["kind"], "screen");
  EXPECT_EQ(j["flags"], 1 + 4 + 8);
  EXPECT_EQ(j["width"], 248);
  EXPECT_EQ(j["height"], 192);
  EXPECT_EQ(j["compression"], 3);
  EXPECT_EQ(j["sprites"], 2);
  EXPECT_EQ(j["grid"], true);
  EXPECT_EQ(j["digestOk"], true);
  EXPECT_EQ(j["tilesBeside"], true);

  ASSERT_TRUE(
      test::writeScreenFixture(path, screen, test::ScreenFileOptions{}.withDigest(DigestMode::Wrong)));
  r = inspect(dir, "'" + path + "' --json");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["digestOk"], false);
}

TEST(InspectCommand, UnreadableFilesFailWithAMessage) {
  TempDir dir;
  std::vector<std::uint8_t> bytes = test::tilesFileBytes(sample(), TilesFileOptions{}.method(kMethodDeflate));
  bytes.resize(bytes.size() - 40);
  ASSERT_TRUE(test::writeBytes(dir.file("cut.mstiles"), bytes));
  ASSERT_TRUE(test::writeBytes(dir.file("other.bin"), {'P', 'K', 3, 4, 0, 0, 0, 0, 0}));
  TilesFileOptions flags;
  flags.extraFlags = 4;
  ASSERT_TRUE(test::writeTilesFixture(dir.file("flags.mstiles"), sample(), flags));
  // The reason comes from the file's reader; with --json it comes as JSON on stdout too. A name
  // that is not UTF-8 is escaped on stderr and written with U+FFFD in the JSON.
  const struct {
    std::string name, reason, shown, inJson;
  } cases[] = {
      {"cut.mstiles", "payload ends or breaks after", "cut.mstiles", "cut.mstiles"},
      {"other.bin", "unknown magic", "other.bin", "other.bin"},
      {"flags.mstiles", "undefined flag bits 0x4", "flags.mstiles", "flags.mstiles"},
      {"missing.mstiles", "cannot open the file: No such file", "missing.mstiles", "missing.mstiles"},
      {"caf\xE9\n.mstiles", "cannot open the file: No such file", "caf\\xe9\\n.mstiles",
       "caf\uFFFD\n.mstiles"}};
  for (const auto& c : cases) {
    const Outcome r = inspect(dir, "'" + dir.file(c.name) + "' --json");
    EXPECT_EQ(r.status, 1) << c.shown;
    EXPECT_NE(r.err.find(c.shown), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["ok"], false);
    EXPECT_EQ(j["path"], dir.file(c.inJson));
    EXPECT_NE(j["problems"][0].get<std::string>().find(c.reason), std::string::npos) << r.out;
  }
}

} // namespace
} // namespace zelvo

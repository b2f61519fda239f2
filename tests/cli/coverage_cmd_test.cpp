// `zelvo coverage --maps`, run as a user runs it: a map per screen, named in the JSON, and the
// places a map is never written.
#include "support/example_pack.h"
#include "support/screen_pictures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace zelvo {
namespace {

TEST(CoverageCommand, WritesAMapOfEveryScreenOnlyWhereItMay) {
  test::TempDir dir;
  auto run = [&](const std::string& arguments) { return test::runZelvo(dir.path(), arguments, dir); };
  const std::string example = "'" + test::kExampleFolder + "' --scale 2";

  const test::CliOutcome o = run("coverage " + example + " --maps maps --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const auto j = nlohmann::json::parse(o.out);
  EXPECT_EQ(j["maps"],
            nlohmann::json::parse(
                R"(["maps/level-coverage.png", "maps/sprites-coverage.png", "maps/title-coverage.png"])"));
  for (const std::string name : {"level", "sprites", "title"}) {
    std::string kind;
    const test::Picture map = test::readPicture(dir.file("maps/" + name + "-coverage.png"), &kind);
    const test::Picture painted =
        test::readPicture(joinPath(test::kExampleFolder, name + (name == "level" ? ".bmp" : ".png")));
    EXPECT_EQ(kind, "PNG, 8-bit RGB") << name << ": opaque";
    EXPECT_GE(map.width, painted.width) << name << ": the export's size at 2x, and the legend beneath";
    EXPECT_GT(map.height, painted.height) << name;
  }
  const std::string first = test::readFileBytes(dir.file("maps/title-coverage.png"));

  ASSERT_TRUE(createDirectory(dir.file("game")));
  for (const char* name : {"game.mstiles", "title.msscreen"}) {
    const std::string bytes = test::readFileBytes(joinPath(test::kExampleFolder, name));
    ASSERT_TRUE(test::writeFileBytes(dir.file(std::string("game/") + name), bytes.data(), bytes.size()));
  }
  const struct {
    std::string arguments;
    int status;
    const char* said;
  } refusals[] = {
      {"coverage " + example + " --maps maps", 1, "use --force to replace it"},
      {"coverage game --maps game", 1, "a file of the capture folder"},
      {"coverage game --maps 'game/./'", 1, "a file of the capture folder"},
      {"coverage game --maps game/title.msscreen", 1, "not a folder"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.arguments);
    const test::CliOutcome refused = run(r.arguments);
    EXPECT_EQ(refused.status, r.status);
    EXPECT_NE(refused.err.find(r.said), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "") << "refused before anything is counted";
  }
  EXPECT_EQ(test::listed(dir.file("game"), "*").size(), 2u) << "nothing written among the capture";
  EXPECT_EQ(test::readFileBytes(dir.file("maps/title-coverage.png")), first);
  EXPECT_EQ(run("coverage " + example + " --maps maps --force").status, 0);
}

} // namespace
} // namespace zelvo

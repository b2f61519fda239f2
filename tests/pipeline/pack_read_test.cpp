// Reading packs back: a pack as built reads whole; damaged ones are refused with their reason.
#include "pipeline/pack_read.h"

#include "compress/md5.h"
#include "platform/byte_io.h"
#include "support/example_pack.h"
#include "support/fixtures.h"
#include "support/pack_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using Bytes = std::string;

std::uint32_t u32(const Bytes& b, std::size_t at) {
  return loadLE32(reinterpret_cast<const std::uint8_t*>(&b[at]));
}
void setU32(Bytes& b, std::size_t at, std::uint32_t v) {
  storeLE32(reinterpret_cast<std::uint8_t*>(&b[at]), v);
}
std::size_t hiResStart(const Bytes& b) { return 48 + std::size_t(u32(b, 36)) + u32(b, 40); }

// Lets `change` edit the hi-res payload, which is then written back compressed with a digest that
// matches, so only the change itself is wrong.
void rewritePayload(Bytes& pack, const std::function<void(std::vector<std::uint8_t>&)>& change) {
  std::vector<std::uint8_t> bytes(pack.begin(), pack.end());
  const std::size_t start = test::hiResSectionStart(bytes);
  std::vector<std::uint8_t> payload =
      test::takeHiResSectionApart(bytes.data() + start, bytes.size() - start).payload;
  change(payload);
  test::replaceHiResPayload(bytes, payload);
  pack.assign(bytes.begin(), bytes.end());
}

TEST(PackRead, APackAsBuiltReadsWholeAndDamagedPacksAreRefusedWithTheirReason) {
  test::TempDir dir;
  const std::string built = test::buildExamplePack(dir, 2, true);
  ASSERT_FALSE(built.empty());
  Result<PackTiles> pack = readPackTiles(built);
  ASSERT_TRUE(pack) << pack.error().message();
  EXPECT_EQ(pack->scale, 2u);
  EXPECT_EQ(pack->tileBytes, 1024u);
  ASSERT_EQ(pack->entryOffsets.size(), pack->tiles->entryCount());
  for (std::uint32_t i = 0; i < pack->tiles->groups[0].count; ++i)
    EXPECT_EQ(pack->tile(0, i), pack->tileData(pack->entryOffsets[i] / 1024));
  EXPECT_EQ(pack->tile(0, pack->tiles->groups[0].count), nullptr);

  const Bytes good = test::readFileBytes(built);
  using Change = std::function<void(Bytes&)>;
  const struct {
    const char* name;
    Change change;
    ErrorCause cause;
  } cases[] = {
      {"another magic", [](Bytes& b) { b[0] = 'X'; }, ErrorCause::BadFormat},
      {"scale 5", [](Bytes& b) { setU32(b, 12, 5); }, ErrorCause::BadFormat},
      {"header cut short", [](Bytes& b) { b.resize(40); }, ErrorCause::Truncated},
      {"last byte missing", [](Bytes& b) { b.pop_back(); }, ErrorCause::Truncated},
      {"a byte after the sections", [](Bytes& b) { b.push_back(0); }, ErrorCause::BadFormat},
      {"ROM digest", [](Bytes& b) { b[20] ^= 1; }, ErrorCause::DigestMismatch},
      {"ROM size beyond its stream", [](Bytes& b) { setU32(b, 48, u32(b, 48) + 1); }, ErrorCause::Truncated},
      {"tiles digest", [](Bytes& b) { b[48 + u32(b, 36) + 64] ^= 1; }, ErrorCause::BadFormat},
      {"hi-res magic", [](Bytes& b) { b[hiResStart(b)] = 'X'; }, ErrorCause::BadFormat},
      {"hi-res flags", [](Bytes& b) { setU32(b, hiResStart(b) + 8, 3); }, ErrorCause::BadFormat},
      {"hi-res scale", [](Bytes& b) { setU32(b, hiResStart(b) + 56, 3); }, ErrorCause::BadFormat},
      {"hi-res compression", [](Bytes& b) { setU32(b, hiResStart(b) + 60, 9); }, ErrorCause::Unsupported},
      {"group counts of the two sections differ",
       [](Bytes& b) {
         setU32(b, hiResStart(b) + 16, u32(b, hiResStart(b) + 16) + 1);
         setU32(b, hiResStart(b) + 20, u32(b, hiResStart(b) + 20) + 1);
       },
       ErrorCause::BadFormat},
      {"entry count not the groups' sum",
       [](Bytes& b) { setU32(b, hiResStart(b) + 16, u32(b, hiResStart(b) + 16) - 1); },
       ErrorCause::BadFormat},
      {"more tiles than entries",
       [](Bytes& b) { setU32(b, hiResStart(b) + 12, u32(b, hiResStart(b) + 16) + 1); },
       ErrorCause::BadFormat},
      {"hi-res digest", [](Bytes& b) { b[hiResStart(b) + 70] ^= 1; }, ErrorCause::DigestMismatch},
      {"hi-res stream cut in half",
       [](Bytes& b) {
         const std::size_t start = hiResStart(b);
         b.resize(start + 80 + (b.size() - start - 80) / 2);
         setU32(b, 44, std::uint32_t(b.size() - start));
       },
       ErrorCause::Truncated},
      {"an entry past the tiles",
       [](Bytes& b) {
         const std::uint32_t tileBytes = u32(b, 12) * u32(b, 12) * 256, tiles = u32(b, hiResStart(b) + 12);
         rewritePayload(
             b, [&](std::vector<std::uint8_t>& p) { storeLE32(&p[p.size() - 4], tiles * tileBytes); });
       },
       ErrorCause::BadFormat},
      {"an entry inside a tile",
       [](Bytes& b) {
         rewritePayload(b, [](std::vector<std::uint8_t>& p) { storeLE32(&p[p.size() - 8], 4); });
       },
       ErrorCause::BadFormat},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = good;
    c.change(bytes);
    const std::string path = dir.file("damaged.zrm");
    ASSERT_TRUE(test::writeFileBytes(path, bytes.data(), bytes.size()));
    Result<PackTiles> damaged = readPackTiles(path);
    ASSERT_FALSE(damaged);
    EXPECT_EQ(damaged.error().cause, c.cause) << damaged.error().message();
    EXPECT_EQ(damaged.error().path, path);
    EXPECT_FALSE(damaged.error().detail.empty());
  }
  Result<PackTiles> missing = readPackTiles(dir.file("missing.zrm"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().cause, ErrorCause::NotFound);
}

} // namespace
} // namespace zelvo

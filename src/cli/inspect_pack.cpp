// `zelvo inspect` of a hi-res ROM pack: its header, and each section's data digested again. The
// pack's readers check every size and count against the file before anything is decompressed.
#include "cli/inspect_kinds.h"
#include "compress/section_reader.h"
#include "pipeline/pack_format.h"
#include "tiles/tiles_file.h"

#include <algorithm>

namespace zelvo::cli {

namespace {

// Digests a section's payload from the file's current position; a stream that breaks counts as a
// mismatch and its reason goes into `problem`.
bool sectionMatches(File& file, std::uint32_t method, std::uint64_t size, const std::uint8_t* stored,
                    const std::string& path, std::string& problem) {
  Result<Md5Digest> actual = digestSection(file, method, size, path);
  if (!actual) {
    problem = actual.error().detail;
    return false;
  }
  return std::equal(actual->begin(), actual->end(), stored);
}

std::string hexOf(const std::uint8_t* bytes) {
  Md5Digest digest{};
  std::copy(bytes, bytes + digest.size(), digest.begin());
  return toHex(digest);
}

} // namespace

Status describePackFile(File& file, const std::string& path, InspectJson& info) {
  Result<PackLayout> layout = readPackLayout(file, path);
  if (!layout) return layout.error();
  const PackHeader& header = layout->header;
  info["kind"] = "pack";
  info["scale"] = header.scale;
  info["romSectionSize"] = header.romSectionSize;
  info["tilesSectionSize"] = header.tilesSectionSize;
  info["hiResSectionSize"] = header.hiResSectionSize;
  info["sizeOk"] = layout->end == layout->fileSize;

  // The ROM image: its head, then a raw deflate stream.
  Result<RomSectionHead> rom = readRomSectionHead(file, *layout, path);
  if (!rom) return rom.error();
  std::string problem;
  info["romSize"] = rom->romSize;
  info["romCompressionName"] = methodName(rom->compression);
  info["romDigest"] = hexOf(header.romDigest);
  info["romDigestOk"] = sectionMatches(file, rom->compression, rom->romSize, header.romDigest, path, problem);
  if (!problem.empty()) info["romProblem"] = problem;

  // The original tiles: a whole tiles file, read as the readers read one.
  std::unique_ptr<TileSet> tiles = createTileSet();
  Status tilesRead = file.seek(layout->tilesStart);
  if (tilesRead) tilesRead = readTilesFile(*tiles, file, path);
  info["tilesOk"] = tilesRead.ok();
  if (!tilesRead) info["tilesProblem"] = tilesRead.error().detail;

  // The hi-res tiles: header, digest, bzip2 payload of the tiles and the entry table. Its counts
  // must be those of the tiles section when that could be read.
  Result<HiResSectionHead> hires = readHiResSectionHead(file, *layout, path);
  if (!hires) return hires.error();
  if (tilesRead) {
    if (Status same = checkHiResCounts(hires->header, *tiles, path); !same) return same.error();
  }
  tiles.reset();
  const HiResSectionHeader& h = hires->header;
  info["tileCount"] = h.tileCount;
  info["entryCount"] = h.entryCount;
  InspectJson groups = InspectJson::array();
  for (std::uint32_t c : h.groupCounts) groups.push_back(c);
  info["groups"] = groups;
  info["hiResScale"] = h.scale;
  info["hiResCompressionName"] = methodName(h.compression);
  info["hiResDigest"] = toHex(hires->digest);
  problem.clear();
  info["hiResDigestOk"] =
      sectionMatches(file, h.compression, hires->payloadSize, hires->digest.data(), path, problem);
  if (!problem.empty()) info["hiResProblem"] = problem;
  return {};
}

} // namespace zelvo::cli

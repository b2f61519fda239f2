// `zelvo inspect` of a hi-res ROM pack: its header, and each section's data digested again.
#include "cli/inspect_kinds.h"
#include "compress/streams.h"
#include "pipeline/pack_format.h"
#include "tiles/tiles_file.h"

#include <algorithm>

namespace zelvo::cli {

namespace {

// Digests a section's payload; a stream that breaks counts as a mismatch.
bool sectionMatches(File& file, std::uint64_t start, std::uint32_t method, std::uint64_t size,
                    const std::uint8_t* stored, std::string& problem) {
  Md5Digest actual{};
  std::string error;
  if (!file.seek(start) || !digestSection(file, method, size, actual, error)) {
    problem = error.empty() ? "cannot be read" : error;
    return false;
  }
  return std::equal(actual.begin(), actual.end(), stored);
}

std::string hexOf(const std::uint8_t* bytes) {
  Md5Digest digest{};
  std::copy(bytes, bytes + digest.size(), digest.begin());
  return toHex(digest);
}

} // namespace

bool describePackFile(File& file, const std::string&, InspectJson& info, std::string& error) {
  PackHeader header;
  std::uint64_t fileSize = 0;
  if (!file.readExact(&header, sizeof header) || !file.size(fileSize)) {
    error = "the pack header is cut short";
    return false;
  }
  const std::uint64_t romStart = sizeof header, tilesStart = romStart + header.romSectionSize,
                      hiResStart = tilesStart + header.tilesSectionSize,
                      end = hiResStart + header.hiResSectionSize;
  info["kind"] = "pack";
  info["scale"] = header.scale;
  info["romSectionSize"] = header.romSectionSize;
  info["tilesSectionSize"] = header.tilesSectionSize;
  info["hiResSectionSize"] = header.hiResSectionSize;
  info["sizeOk"] = end == fileSize;

  // The ROM image: its head, then a raw deflate stream.
  RomSectionHead rom{};
  if (header.romSectionSize < sizeof rom || !file.seek(romStart) || !file.readExact(&rom, sizeof rom)) {
    error = "the ROM section is cut short";
    return false;
  }
  std::string problem;
  info["romSize"] = rom.romSize;
  info["romCompressionName"] = compressionName(rom.compression);
  info["romDigest"] = hexOf(header.romDigest);
  info["romDigestOk"] =
      sectionMatches(file, romStart + sizeof rom, rom.compression, rom.romSize, header.romDigest, problem);
  if (!problem.empty()) info["romProblem"] = problem;

  // The original tiles: a whole tiles file, loaded as the readers load one.
  auto tiles = createTileSet();
  info["tilesOk"] = tiles && file.seek(tilesStart) && loadTilesFile(*tiles, file);

  // The hi-res tiles: header, digest, bzip2 payload of the tiles and the entry table.
  HiResSectionHeader hires{};
  std::uint8_t digest[16];
  if (!file.seek(hiResStart) || !file.readExact(&hires, sizeof hires) ||
      !file.readExact(digest, sizeof digest) || !std::equal(hires.magic, hires.magic + 8, kHiResMagic)) {
    error = "the hi-res section is missing or cut short";
    return false;
  }
  const std::uint32_t scale = hires.scale & 0xFF;
  const std::uint64_t payload =
      std::uint64_t(hires.tileCount) * 256u * scale * scale + std::uint64_t(hires.entryCount) * 4u;
  info["tileCount"] = hires.tileCount;
  info["entryCount"] = hires.entryCount;
  InspectJson groups = InspectJson::array();
  for (std::uint32_t c : hires.groupCounts) groups.push_back(c);
  info["groups"] = groups;
  info["hiResScale"] = scale;
  info["hiResCompressionName"] = compressionName(hires.compression);
  info["hiResDigest"] = hexOf(digest);
  problem.clear();
  info["hiResDigestOk"] =
      sectionMatches(file, hiResStart + kHiResStreamOffset, hires.compression, payload, digest, problem);
  if (!problem.empty()) info["hiResProblem"] = problem;
  return true;
}

} // namespace zelvo::cli

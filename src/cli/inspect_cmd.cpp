// `zelvo inspect FILE [--json]`: recognises a file by its 8-byte magic and describes it, checking
// its digest by decompressing the payload itself (so a mismatch is shown rather than refused).
#include "cli/commands.h"
#include "cli/inspect_kinds.h"
#include "compress/md5.h"
#include "compress/section_reader.h"
#include "pipeline/pack_format.h"
#include "tiles/screen_file.h"
#include "tiles/tiles_file.h"

#include <cstring>
#include <memory>

namespace zelvo::cli {

namespace {

struct Kind {
  const char (&magic)[8];
  InspectDescriber describe;
};

// One row per kind of file.
const Kind kKinds[] = {
    {kTilesMagic, describeTilesFile},
    {kScreenMagic, describeScreenFile},
    {kPackMagic, describePackFile},
};

std::string textOf(const InspectJson& value) {
  if (value.is_null()) return "none";
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_string()) return value.get<std::string>();
  if (value.is_array()) {
    std::string s;
    for (const auto& v : value) s += (s.empty() ? "" : " ") + textOf(v);
    return s;
  }
  return value.dump();
}

} // namespace

void putDigest(InspectJson& info, const Md5Digest* stored, const Md5Digest& actual) {
  if (!stored) {
    info["digest"] = nullptr;
    info["digestOk"] = nullptr;
    return;
  }
  info["digest"] = toHex(*stored);
  info["digestOk"] = *stored == actual;
}

bool refuse(const Error& why, std::string& error) {
  error = why.detail.empty() ? causeName(why.cause) : why.detail;
  return false;
}

bool describeTilesFile(File& file, const std::string& path, InspectJson& info, std::string& error) {
  Result<TilesFilePreamble> preamble = readTilesPreamble(file, path);
  if (!preamble) return refuse(preamble.error(), error);
  Result<Md5Digest> actual = digestTilesPayload(file, *preamble, path);
  if (!actual) return refuse(actual.error(), error);

  const TilesFileHeader& header = preamble->header;
  info["kind"] = "tiles";
  info["flags"] = header.flags;
  info["compression"] = header.compression;
  info["compressionName"] = methodName(header.compression);
  info["palettes"] = header.paletteCount;
  info["patterns"] = header.patternCount;
  InspectJson groups = InspectJson::array();
  std::uint64_t entries = 0;
  for (std::uint32_t c : header.groupCounts) {
    groups.push_back(c);
    entries += c;
  }
  info["groups"] = groups;
  info["entries"] = entries;
  info["payloadSize"] = preamble->payloadSize;
  putDigest(info, preamble->hasDigest ? &preamble->digest : nullptr, *actual);
  return true;
}

bool describeScreenFile(File& file, const std::string& path, InspectJson& info, std::string& error) {
  Result<ScreenFilePreamble> preamble = readScreenPreamble(file, path);
  if (!preamble) return refuse(preamble.error(), error);
  Result<Md5Digest> actual = digestScreenPayload(file, *preamble, path);
  if (!actual) return refuse(actual.error(), error);
  std::unique_ptr<TileSet> tiles;
  const Status tilesBeside = findTilesBeside(path, tiles);

  const ScreenFileHeader& header = preamble->header;
  info["kind"] = "screen";
  info["flags"] = header.flags;
  info["width"] = header.width;
  info["height"] = header.height;
  info["compression"] = header.compression;
  info["compressionName"] = methodName(header.compression);
  info["grid"] = bool(header.flags & kScreenFlagGrid);
  info["sprites"] = header.spriteCount;
  info["payloadSize"] = preamble->payloadSize;
  putDigest(info, preamble->hasDigest ? &preamble->digest : nullptr, *actual);
  info["tilesBeside"] = tilesBeside.ok();
  if (!tilesBeside) info["tilesProblem"] = tilesBeside.error().message();
  return true;
}

int runInspect(const InspectOptions& options, std::FILE* out, std::FILE* err) {
  File file = File::openRead(options.path);
  if (!file) {
    std::fprintf(err, "zelvo: %s: cannot open the file\n", options.path.c_str());
    return 1;
  }
  char magic[8];
  std::size_t got = 0;
  if (!file.read(magic, sizeof magic, got) || !file.seek(0)) {
    std::fprintf(err, "zelvo: %s: cannot read the file\n", options.path.c_str());
    return 1;
  }
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds)
    if (got == sizeof magic && std::memcmp(magic, k.magic, sizeof magic) == 0) kind = &k;
  if (!kind) {
    std::fprintf(err, "zelvo: %s: not a tiles file, screen file or pack (unknown magic)\n",
                 options.path.c_str());
    return 1;
  }
  InspectJson info = InspectJson::object();
  std::string error;
  if (!kind->describe(file, options.path, info, error)) {
    std::fprintf(err, "zelvo: %s: %s\n", options.path.c_str(), error.c_str());
    return 1;
  }
  if (options.json) {
    std::fprintf(out, "%s\n", info.dump(2).c_str());
  } else {
    for (const auto& [key, value] : info.items())
      std::fprintf(out, "%s: %s\n", key.c_str(), textOf(value).c_str());
  }
  return 0;
}

} // namespace zelvo::cli

// `zelvo inspect FILE [--json]`: recognises a file by its 8-byte magic and describes it, checking
// its digest by decompressing the payload itself (so a mismatch is shown rather than refused).
#include "cli/commands.h"
#include "cli/inspect_kinds.h"
#include "cli/json_text.h"
#include "compress/md5.h"
#include "compress/section_reader.h"
#include "pipeline/pack_format.h"
#include "platform/text.h"
#include "tiles/screen_file.h"
#include "tiles/tiles_file.h"

#include <CLI/CLI.hpp>
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
  return jsonText(value, -1);
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

Status describeTilesFile(File& file, const std::string& path, InspectJson& info) {
  Result<TilesFilePreamble> preamble = readTilesPreamble(file, path);
  if (!preamble) return preamble.error();
  Result<Md5Digest> actual = digestTilesPayload(file, *preamble, path);
  if (!actual) return actual.error();

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
  return {};
}

Status describeScreenFile(File& file, const std::string& path, InspectJson& info) {
  Result<ScreenFilePreamble> preamble = readScreenPreamble(file, path);
  if (!preamble) return preamble.error();
  Result<Md5Digest> actual = digestScreenPayload(file, *preamble, path);
  if (!actual) return actual.error();
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
  return {};
}

namespace {

// The checks a description may carry, each false when the file fails it, with what a person is
// told; the reader's own words follow when the description holds them.
struct Check {
  const char* key;
  const char* problem;
  const char* reasonKey;
};
const Check kChecks[] = {
    {"sizeOk", "the file's size is not the sum of its sections", nullptr},
    {"digestOk", "the payload does not match its stored digest", nullptr},
    {"romDigestOk", "the ROM does not match its stored digest", "romProblem"},
    {"tilesOk", "the original tiles cannot be read", "tilesProblem"},
    {"hiResDigestOk", "the hi-res tiles do not match their stored digest", "hiResProblem"},
};

InspectJson problemsOf(const InspectJson& info) {
  InspectJson problems = InspectJson::array();
  for (const Check& check : kChecks) {
    auto it = info.find(check.key);
    if (it == info.end() || !it->is_boolean() || it->get<bool>()) continue;
    std::string text = check.problem;
    if (check.reasonKey && info.contains(check.reasonKey))
      text += ": " + info[check.reasonKey].get<std::string>();
    problems.push_back(text);
  }
  return problems;
}

// What is printed: whether every check passed, the file, its size, the description, the problems.
InspectJson report(const std::string& path, File& file, const InspectJson& info,
                   const InspectJson& problems) {
  InspectJson all = InspectJson::object();
  all["ok"] = problems.empty();
  all["path"] = path;
  const Result<std::uint64_t> size = file.size(); // a file that did not open has none
  if (size)
    all["size"] = *size;
  else
    all["size"] = nullptr;
  for (const auto& [key, value] : info.items()) all[key] = value;
  all["problems"] = problems;
  return all;
}

// A file that cannot be described: the reason on stderr, and as JSON on stdout when asked.
int fail(const InspectOptions& options, File& file, const std::string& reason, std::FILE* out,
         std::FILE* err) {
  std::fprintf(err, "zelvo: %s: %s\n", printable(options.path).c_str(), printable(reason).c_str());
  if (options.json)
    writeOutput(
        out, jsonText(report(options.path, file, InspectJson::object(), InspectJson::array({reason}))) + "\n",
        err, "inspect");
  return kExitFailure;
}

} // namespace

CLI::App* addInspectCommand(CLI::App& app, InspectOptions& options) {
  CLI::App* command = app.add_subcommand("inspect", "Describe a tiles file, screen file or pack");
  command->add_option("FILE", options.path, "File to describe")->required();
  command->add_flag("--json", options.json, "Print one JSON object");
  return command;
}

int runInspect(const InspectOptions& options, std::FILE* out, std::FILE* err) {
  Result<File> opened = File::openRead(options.path, "cannot open the file");
  if (!opened) {
    File none;
    return fail(options, none, opened.error().detail, out, err);
  }
  File& file = *opened;
  char magic[8];
  const Result<std::size_t> got = file.read(magic, sizeof magic);
  Status rewound = got ? file.seek(0) : Status(got.error());
  if (!rewound) return fail(options, file, "cannot read the file: " + rewound.error().detail, out, err);
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds)
    if (*got == sizeof magic && std::memcmp(magic, k.magic, sizeof magic) == 0) kind = &k;
  if (!kind) return fail(options, file, "not a tiles file, screen file or pack (unknown magic)", out, err);
  InspectJson info = InspectJson::object();
  if (Status described = kind->describe(file, options.path, info); !described) {
    const Error& why = described.error();
    return fail(options, file, why.detail.empty() ? causeName(why.cause) : why.detail, out, err);
  }

  const InspectJson problems = problemsOf(info);
  const InspectJson all = report(options.path, file, info, problems);
  std::string text;
  if (options.json) {
    text = jsonText(all) + "\n";
  } else {
    for (const auto& [key, value] : all.items())
      if (key != "problems") text += key + ": " + printable(textOf(value)) + "\n";
    for (const auto& problem : problems) text += "problem: " + printable(problem.get<std::string>()) + "\n";
  }
  if (!writeOutput(out, text, err, "inspect")) return kExitFailure;
  return problems.empty() ? kExitSuccess : kExitFailure;
}

} // namespace zelvo::cli

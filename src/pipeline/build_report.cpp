#include "pipeline/build_report.h"

#include <nlohmann/json.hpp>

namespace zelvo {

namespace {

using Json = nlohmann::ordered_json;

std::string sizeText(const ImageSize& size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool isWarning(const std::string& line) { return line.rfind("Warning: ", 0) == 0; }

Json sizeJson(const ImageSize& size) { return Json::array({size.width, size.height}); }

Json textOrNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

} // namespace

const char* const kBuildStageLines[7] = {"Looking for original tiles...",
                                         "Creating high-resolution tiles using scale algorithm...",
                                         "Replacing tiles...",
                                         "Creating high-resolution ROM...",
                                         "Compressing and saving original ROM...",
                                         "Compressing and saving original tiles...",
                                         "Compressing and saving high-resolution tiles..."};

LogLineKind logLineKind(const std::string& line) {
  if (isWarning(line)) return LogLineKind::Warning;
  if (line == kBuildSuccessLine) return LogLineKind::Progress;
  for (const char* stage : kBuildStageLines)
    if (line == stage) return LogLineKind::Progress;
  for (const char* prefix : {"Tiles file: ", "Screen ", "Screens: "})
    if (line.rfind(prefix, 0) == 0) return LogLineKind::Info;
  return LogLineKind::Error;
}

const char* screenStatusName(ScreenStatus status) {
  switch (status) {
  case ScreenStatus::Used:
    return "used";
  case ScreenStatus::NoImage:
    return "no-image";
  case ScreenStatus::UnreadableImage:
    return "unreadable-image";
  case ScreenStatus::WrongScale:
    return "wrong-scale";
  case ScreenStatus::UnreadableScreen:
    return "unreadable-screen";
  case ScreenStatus::Failed:
    return "failed";
  }
  return "failed";
}

std::size_t BuildReport::screensUsed() const {
  std::size_t used = 0;
  for (const ScreenReport& screen : screens) used += screen.status == ScreenStatus::Used;
  return used;
}

std::size_t BuildReport::screensSkipped() const { return screens.size() - screensUsed(); }

std::size_t BuildReport::tilesReplaced() const {
  std::size_t replaced = 0;
  for (const ScreenReport& screen : screens) replaced += screen.info.replaced.size();
  return replaced;
}

std::size_t BuildReport::warningCount() const {
  std::size_t warnings = tilesPassedOver.size() + conflicts.size();
  for (const ScreenReport& screen : screens)
    for (const std::string& line : screenLines(screen)) warnings += isWarning(line);
  return warnings;
}

std::string tilesUsedLine(const BuildReport& report) { return "Tiles file: " + report.tilesFile; }

std::string tilesPassedOverLine(const PassedOver& file) {
  return "Warning: tiles file " + file.name + " passed over: " + file.reason;
}

std::vector<std::string> screenLines(const ScreenReport& screen) {
  std::vector<std::string> lines;
  const std::string name = "screen " + screen.screen;
  if (!screen.notTaken.empty()) {
    std::string others;
    for (const std::string& other : screen.notTaken) others += (others.empty() ? "" : ", ") + other;
    lines.push_back("Warning: " + name + ": " + screen.image + " taken, also matching: " + others);
  }
  switch (screen.status) {
  case ScreenStatus::Used:
    if (screen.info.imageSize != screen.info.expectedSize)
      lines.push_back("Warning: " + name + ": " + screen.image + " is " + sizeText(screen.info.imageSize) +
                      " pixels but the build needs " + sizeText(screen.info.expectedSize) +
                      "; only the tiles wholly inside it were used");
    lines.push_back("Screen " + screen.screen + ": " + plural(screen.info.replaced.size(), "tile", "tiles") +
                    " replaced from " + screen.image);
    break;
  case ScreenStatus::NoImage:
    lines.push_back("Screen " + screen.screen + ": no image, skipped");
    break;
  default:
    lines.push_back("Warning: " + name + " skipped: " + screen.reason);
    break;
  }
  return lines;
}

std::string conflictLine(const TileConflict& conflict) {
  return "Warning: tile " + std::to_string(conflict.entry.index) + " of group " +
         std::to_string(conflict.entry.group) + " painted differently by " + conflict.earlierScreen +
         " and " + conflict.laterScreen + "; " + conflict.laterScreen + "'s is kept";
}

std::string summaryLine(const BuildReport& report) {
  return "Screens: " + std::to_string(report.screensUsed()) + " used, " +
         std::to_string(report.screensSkipped()) + " skipped; " +
         plural(report.tilesReplaced(), "tile", "tiles") + " replaced";
}

std::string buildReportJson(const BuildReport& report, int indent) {
  Json passed = Json::array();
  for (const PassedOver& file : report.tilesPassedOver)
    passed.push_back({{"name", file.name}, {"reason", file.reason}});
  Json screens = Json::array();
  for (const ScreenReport& screen : report.screens) {
    Json replaced = Json::array();
    for (const TileEntryRef& entry : screen.info.replaced)
      replaced.push_back({{"group", entry.group}, {"index", entry.index}});
    Json item = {{"screen", screen.screen},
                 {"image", textOrNull(screen.image)},
                 {"notTaken", screen.notTaken},
                 {"status", screenStatusName(screen.status)},
                 {"reason", textOrNull(screen.reason)}};
    item["imageSize"] = screen.info.imageRead ? sizeJson(screen.info.imageSize) : Json();
    item["expectedSize"] = screen.info.imageRead ? sizeJson(screen.info.expectedSize) : Json();
    item["paintedFactor"] = screen.info.paintedFactor ? Json(screen.info.paintedFactor) : Json();
    item["replaced"] = std::move(replaced);
    screens.push_back(std::move(item));
  }
  Json conflicts = Json::array();
  for (const TileConflict& conflict : report.conflicts)
    conflicts.push_back({{"group", conflict.entry.group},
                         {"index", conflict.entry.index},
                         {"earlierScreen", conflict.earlierScreen},
                         {"laterScreen", conflict.laterScreen}});
  Json json = {
      {"success", report.success},
      {"scale", report.scale},
      {"tilesFile", textOrNull(report.tilesFile)},
      {"tilesPassedOver", std::move(passed)},
      {"screens", std::move(screens)},
      {"conflicts", std::move(conflicts)},
      {"counts",
       {{"screens", report.screens.size()},
        {"screensUsed", report.screensUsed()},
        {"screensSkipped", report.screensSkipped()},
        {"tilesReplaced", report.tilesReplaced()},
        {"conflicts", report.conflicts.size()},
        {"warnings", report.warningCount()}}},
      {"digests", {{"romMd5", textOrNull(report.romMd5)}, {"hiResMd5", textOrNull(report.hiResMd5)}}}};
  // A name that is not UTF-8 is written with U+FFFD in place of its stray bytes.
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace zelvo

#include "pipeline/build_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <numeric>
#include <set>

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

std::string tileText(const TileEntryRef& entry) {
  return "tile " + std::to_string(entry.index) + " of group " + std::to_string(entry.group);
}

const std::string& screenName(const BuildReport& report, std::size_t screen) {
  static const std::string unknown = "?";
  if (screen < report.screens.size()) return report.screens[screen].screen;
  screen -= report.screens.size();
  return screen < report.sheets.size() ? report.sheets[screen].image : unknown;
}

// " (2 of the replaced tiles also stand in 150 cells left as exported; the paint shows there too)"
std::string sharedText(const ScreenReplaceInfo& info) {
  if (info.sharedTiles == 0) return {};
  return " (" + std::to_string(info.sharedTiles) + " of the replaced tiles also " +
         (info.sharedTiles == 1 ? "stands" : "stand") + " in " + plural(info.sharedSquares, "cell", "cells") +
         " left as exported; the paint shows there too)";
}

Json placeJson(const ScreenPlace& place) {
  if (place.slot >= 0) return {{"slot", place.slot}};
  if (place.sprite < 0) return {{"cell", {place.row, place.column}}};
  return {{"sprite", place.sprite}, {"lower", place.row != 0}};
}

Json sizeJson(const ImageSize& size) { return Json::array({size.width, size.height}); }

Json textOrNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

// The report's entries for a screen or a sheet, and for one conflict.
Json replacedJson(const std::vector<TileEntryRef>& replaced) {
  Json json = Json::array();
  for (const TileEntryRef& entry : replaced) json.push_back({{"group", entry.group}, {"index", entry.index}});
  return json;
}

Json screenJson(const ScreenReport& screen) {
  Json item = {{"screen", screen.screen},
               {"image", textOrNull(screen.image)},
               {"notTaken", screen.notTaken},
               {"status", screenStatusName(screen.status)},
               {"reason", textOrNull(screen.reason)}};
  item["imageSize"] = screen.info.imageRead ? sizeJson(screen.info.imageSize) : Json();
  item["expectedSize"] = screen.info.imageRead ? sizeJson(screen.info.expectedSize) : Json();
  item["paintedFactor"] = screen.info.paintedFactor ? Json(screen.info.paintedFactor) : Json();
  item["replaced"] = replacedJson(screen.info.replaced);
  item["leftAsExported"] = screen.info.leftAsExported;
  item["keptEarlierPaint"] = screen.info.keptEarlierPaint;
  item["sharedTiles"] = screen.info.sharedTiles;
  item["sharedCells"] = screen.info.sharedSquares;
  return item;
}

Json sheetJson(const SheetReport& sheet) {
  Json item = {{"image", sheet.image},
               {"map", textOrNull(sheet.map)},
               {"status", screenStatusName(sheet.status)},
               {"reason", textOrNull(sheet.reason)}};
  item["imageSize"] = sheet.info.imageRead ? sizeJson(sheet.info.imageSize) : Json();
  item["mapSize"] = sheet.info.imageRead ? sizeJson(sheet.info.expectedSize) : Json();
  item["paintedFactor"] = sheet.info.paintedFactor ? Json(sheet.info.paintedFactor) : Json();
  item["slots"] = sheet.slotCount;
  item["slotsNotInCapture"] = sheet.slotsNotInCapture;
  item["replaced"] = replacedJson(sheet.info.replaced);
  item["leftAsWritten"] = sheet.info.leftAsExported;
  item["keptEarlierPaint"] = sheet.info.keptEarlierPaint;
  return item;
}

Json conflictJson(const BuildReport& report, const TileConflict& conflict) {
  return {{"group", conflict.entry.group},
          {"index", conflict.entry.index},
          {"earlierScreen", screenName(report, conflict.earlier)},
          {"earlierPlace", placeJson(conflict.earlierPlace)},
          {"laterScreen", screenName(report, conflict.later)},
          {"laterPlace", placeJson(conflict.laterPlace)}};
}

Json countsJson(const BuildReport& report) {
  return {{"screens", report.screens.size()},
          {"screensUsed", report.screensUsed()},
          {"screensSkipped", report.screensSkipped()},
          {"sheets", report.sheets.size()},
          {"sheetsUsed", report.sheetsUsed()},
          {"tilesReplaced", report.tilesReplaced()},
          {"conflicts", report.conflicts.size()},
          {"tilesPaintedDifferently", report.tilesPaintedDifferently()},
          {"warnings", report.warnings}};
}

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
  for (const char* prefix : {"Tiles file: ", "Screen ", "Screens: ", "Sheet ", "Build cache: "})
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

std::size_t BuildReport::sheetsUsed() const {
  std::size_t used = 0;
  for (const SheetReport& sheet : sheets) used += sheet.status == ScreenStatus::Used;
  return used;
}

std::size_t BuildReport::tilesReplaced() const {
  std::size_t replaced = 0;
  for (const ScreenReport& screen : screens) replaced += screen.info.replaced.size();
  for (const SheetReport& sheet : sheets) replaced += sheet.info.replaced.size();
  return replaced;
}

std::size_t BuildReport::tilesPaintedDifferently() const {
  std::set<std::pair<int, std::uint32_t>> tiles;
  for (const TileConflict& conflict : conflicts) tiles.emplace(conflict.entry.group, conflict.entry.index);
  return tiles.size();
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
                    " replaced from " + screen.image + sharedText(screen.info));
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

std::vector<std::string> sheetLines(const SheetReport& sheet) {
  std::vector<std::string> lines;
  if (sheet.status != ScreenStatus::Used) {
    lines.push_back("Warning: sheet " + sheet.image + " skipped: " + sheet.reason);
    return lines;
  }
  if (sheet.info.imageSize != sheet.info.expectedSize)
    lines.push_back("Warning: sheet " + sheet.image + " is " + sizeText(sheet.info.imageSize) +
                    " pixels but its map says " + sizeText(sheet.info.expectedSize) +
                    "; only the slots wholly inside it were used");
  std::string line =
      "Sheet " + sheet.image + ": " + plural(sheet.info.replaced.size(), "tile", "tiles") + " replaced";
  if (sheet.slotsNotInCapture)
    line += " (" + plural(sheet.slotsNotInCapture, "slot", "slots") +
            " skipped: " + (sheet.slotsNotInCapture == 1 ? "its tile is" : "their tiles are") +
            " not in this capture)";
  lines.push_back(std::move(line));
  return lines;
}

std::vector<std::string> conflictLines(const BuildReport& report, std::size_t first) {
  struct Group {
    std::size_t earlier;
    std::vector<const TileConflict*> conflicts;
  };
  std::vector<Group> groups;
  for (std::size_t i = first; i < report.conflicts.size(); ++i) {
    const TileConflict& conflict = report.conflicts[i];
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const Group& g) { return g.earlier == conflict.earlier; });
    if (group == groups.end()) group = groups.insert(groups.end(), Group{conflict.earlier, {}});
    group->conflicts.push_back(&conflict);
  }
  std::vector<std::string> lines;
  for (const Group& group : groups) {
    const TileConflict& any = *group.conflicts.front();
    const std::string& later = screenName(report, any.later);
    const bool within = any.earlier == any.later;
    std::string named;
    for (std::size_t i = 0; i < group.conflicts.size() && i < 3; ++i) {
      const TileConflict& conflict = *group.conflicts[i];
      named += (i ? ", " : "") + tileText(conflict.entry);
      if (within)
        named += " at " + placeText(conflict.earlierPlace) + " and " + placeText(conflict.laterPlace);
    }
    if (group.conflicts.size() > 3) named += " and " + std::to_string(group.conflicts.size() - 3) + " more";
    const std::string count = plural(group.conflicts.size(), "tile", "tiles");
    if (within)
      lines.push_back("Warning: " + count + " painted differently in two places of " + later + " (" + named +
                      "); the later place's paint is kept");
    else
      lines.push_back("Warning: " + count + " painted differently by " + screenName(report, any.earlier) +
                      " and " + later + " (" + named + "); " + later + "'s paint is kept");
  }
  return lines;
}

std::string moreConflictsLine(std::size_t more) {
  return "Warning: ... and " + std::to_string(more) + " more " + (more == 1 ? "line" : "lines") +
         " of tiles painted differently (see --report)";
}

std::string summaryLine(const BuildReport& report) {
  std::string line = "Screens: " + std::to_string(report.screensUsed()) + " used, " +
                     std::to_string(report.screensSkipped()) + " skipped; ";
  if (!report.sheets.empty())
    line += "sheets: " + std::to_string(report.sheetsUsed()) + " used, " +
            std::to_string(report.sheets.size() - report.sheetsUsed()) + " skipped; ";
  line += plural(report.tilesReplaced(), "tile", "tiles") + " replaced";
  if (const std::size_t conflicting = report.tilesPaintedDifferently())
    line += "; " + plural(conflicting, "tile", "tiles") + " painted differently";
  if (report.coverage) line += "; " + coverageText(*report.coverage);
  return line;
}

std::string noArtUsedLine(const BuildReport& report) {
  if (report.sheetsUsed()) return {};
  std::size_t withImage = 0;
  std::map<int, std::size_t> factors; // wrong-scale images by the factor they were painted at
  for (const ScreenReport& screen : report.screens) {
    if (screen.status == ScreenStatus::Used) return {};
    if (screen.status == ScreenStatus::NoImage) continue;
    ++withImage;
    if (screen.status == ScreenStatus::WrongScale) ++factors[screen.info.paintedFactor];
  }
  if (withImage == 0) return {};
  const std::string scale = std::to_string(report.scale) + "x";
  if (factors.size() == 1 && factors.begin()->second == withImage) {
    const int factor = factors.begin()->first;
    return "Warning: no image was used: every image is painted at " + std::to_string(factor) +
           "x; this build is at " + scale + " (--scale " + std::to_string(factor) + ")";
  }
  std::string why;
  for (const auto& [factor, count] : factors)
    why += (why.empty() ? "" : ", ") + std::to_string(count) + " painted at " + std::to_string(factor) + "x";
  const std::size_t other =
      withImage - std::accumulate(factors.begin(), factors.end(), std::size_t(0),
                                  [](std::size_t sum, const auto& f) { return sum + f.second; });
  if (other) why += (why.empty() ? "" : ", ") + std::to_string(other) + " unreadable or failed";
  return "Warning: no image was used (" + why + "; this build is at " + scale + ")";
}

std::string coverageJson(const Coverage& coverage, int indent) {
  Json screens = Json::array(), next = Json::array();
  for (const ScreenCoverage& screen : coverage.screens)
    screens.push_back({{"screen", screen.screen},
                       {"paintedHere", screen.paintedHere},
                       {"paintedElsewhere", screen.paintedElsewhere},
                       {"unpainted", screen.unpainted}});
  for (const NextScreen& screen : coverage.next)
    next.push_back({{"screen", screen.screen}, {"unpaintedTiles", screen.unpaintedTiles}});
  const Json json = {{"tiles", {{"total", coverage.tilesTotal}, {"painted", coverage.tilesPainted}}},
                     {"cells", {{"total", coverage.cellsTotal}, {"painted", coverage.cellsPainted}}},
                     {"screens", std::move(screens)},
                     {"next", std::move(next)}};
  return json.dump(indent);
}

std::string buildReportJson(const BuildReport& report, int indent) {
  Json passed = Json::array(), screens = Json::array(), sheets = Json::array(), conflicts = Json::array();
  for (const PassedOver& file : report.tilesPassedOver)
    passed.push_back({{"name", file.name}, {"reason", file.reason}});
  for (const ScreenReport& screen : report.screens) screens.push_back(screenJson(screen));
  for (const SheetReport& sheet : report.sheets) sheets.push_back(sheetJson(sheet));
  for (const TileConflict& conflict : report.conflicts) conflicts.push_back(conflictJson(report, conflict));
  Json json = {
      {"success", report.success},
      {"scale", report.scale},
      {"tilesFile", textOrNull(report.tilesFile)},
      {"tilesPassedOver", std::move(passed)},
      {"screens", std::move(screens)},
      {"sheets", std::move(sheets)},
      {"conflicts", std::move(conflicts)},
      {"counts", countsJson(report)},
      {"coverage", report.coverage ? Json::parse(coverageJson(*report.coverage, -1)) : Json()},
      {"digests", {{"romMd5", textOrNull(report.romMd5)}, {"hiResMd5", textOrNull(report.hiResMd5)}}}};
  // A name that is not UTF-8 is written with U+FFFD in place of its stray bytes.
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

} // namespace zelvo

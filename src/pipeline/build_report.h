// What a build did with the artists' work: the tiles file, every screen and its image, the tiles
// two screens painted differently, and the pack's digests. The build fills it as it runs and logs
// a line for each finding; the command line can save it as JSON.
#pragma once

#include "pipeline/coverage.h"
#include "pipeline/tile_replace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

// A file the build looked at and did not use, with why.
struct PassedOver {
  std::string name;
  std::string reason;
};

enum class ScreenStatus {
  Used,             // the image was cut and compared (maybe replacing nothing)
  NoImage,          // no image beside the screen file
  UnreadableImage,  // the image (or its alpha image) could not be read
  WrongScale,       // the image has the export size of another scale
  UnreadableScreen, // the screen file could not be read
  Failed,           // the screen could not be processed for another reason
};
// "used", "no-image", "unreadable-image", "wrong-scale", "unreadable-screen", "failed".
const char* screenStatusName(ScreenStatus status);

struct ScreenReport {
  std::string screen;                // the screen file's name
  std::string image;                 // the image taken, empty when none
  std::vector<std::string> notTaken; // other names that match the image's name without case
  ScreenStatus status = ScreenStatus::NoImage;
  std::string reason;     // why it was skipped, or what is wrong with a used image
  ScreenReplaceInfo info; // sizes and the entries replaced
};

// A sheet painted by an artist, applied after the screens.
struct SheetReport {
  std::string image;                        // the sheet's image
  std::string map;                          // where its map was read: "chunk" or the sidecar's name
  ScreenStatus status = ScreenStatus::Used; // used, unreadable-image, wrong-scale or failed
  std::string reason;                       // why it was skipped
  std::size_t slotCount = 0;                // in its map
  std::size_t slotsNotInCapture = 0;        // skipped: the build's tiles do not hold theirs
  ScreenReplaceInfo info; // sizes (the image's, and the map's as expected), entries replaced
};

struct BuildReport {
  int scale = 0;
  std::string tilesFile; // empty when none loaded
  std::vector<PassedOver> tilesPassedOver;
  std::vector<ScreenReport> screens;
  std::vector<SheetReport> sheets;     // numbered after the screens: sheet i is number screens.size() + i
  std::vector<TileConflict> conflicts; // screen numbers index `screens`, then `sheets`
  std::size_t warnings = 0;            // the warning lines the build logged
  std::optional<Coverage> coverage;    // once the screens are done
  bool success = false;
  std::string romMd5;   // hex, once the ROM section is written
  std::string hiResMd5; // hex, the hi-res payload's digest, once that section is written

  std::size_t screensUsed() const;
  std::size_t screensSkipped() const;
  std::size_t sheetsUsed() const;
  // The entries replaced by screens and sheets, each counted once per screen or sheet.
  std::size_t tilesReplaced() const;
  // The distinct tiles that two places painted differently.
  std::size_t tilesPaintedDifferently() const;
};

// The seven stage lines of a build, in order.
extern const char* const kBuildStageLines[7];
inline constexpr const char* kBuildSuccessLine = "Success!";

// What a log line of a build is: a stage line or "Success!" (Progress), a finding of the report
// (Info), a warning ("Warning: ..."), or an error line (anything else: "Error: ...", "Cancelled").
enum class LogLineKind { Progress, Info, Warning, Error };
LogLineKind logLineKind(const std::string& line);

// The log lines of the report's findings; warnings begin with "Warning: ".
std::string tilesUsedLine(const BuildReport& report);
std::string tilesPassedOverLine(const PassedOver& file);
// The lines of one screen: a warning for names that match twice, then its outcome.
std::vector<std::string> screenLines(const ScreenReport& screen);
// The lines of one sheet: a warning for an image of another size than its map's, then its outcome.
std::vector<std::string> sheetLines(const SheetReport& sheet);
// The warnings for the conflicts from `first` on, which one screen's paint found: one line for each
// earlier screen it disagrees with (or for disagreements within it), with the count and at most
// three tiles named, in the order of each group's first conflict.
std::vector<std::string> conflictLines(const BuildReport& report, std::size_t first);
// The line that stands for conflict lines left out of the log.
std::string moreConflictsLine(std::size_t more);
std::string summaryLine(const BuildReport& report);
// Why no image was used, when some screens had one but none could be used; empty otherwise.
std::string noArtUsedLine(const BuildReport& report);

// The coverage as one JSON object: tiles, cells, screens and next.
std::string coverageJson(const Coverage& coverage, int indent = 2);

// The whole report as one JSON object (indented by `indent` spaces, -1 for one line).
std::string buildReportJson(const BuildReport& report, int indent = 2);

} // namespace zelvo

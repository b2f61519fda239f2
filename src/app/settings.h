// What the program remembers from one run to the next: the last screen file, the four entries of
// the build dialog, the last pack previewed and the frame's placement, kept in "ZelvoTool.ini".
// This file holds no toolkit: the host names the folders the file may live in.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {

class IniFile;

inline constexpr char kSettingsFileName[] = "ZelvoTool.ini";
inline constexpr std::size_t kMaxSettingText = 1023;
inline constexpr std::size_t kMaxSettingsPath = 1023;

// Show commands of a placement record, with the numbers the settings file stores.
enum ShowCommand : std::uint32_t {
  kShowHide = 0,
  kShowNormal = 1,
  kShowMinimized = 2,
  kShowMaximized = 3,
  kShowNoActivate = 4,
  kShow = 5,
  kShowMinimize = 6,
  kShowMinNoActive = 7,
  kShowNA = 8,
  kShowRestore = 9,
  kShowDefault = 10,
  kShowForceMinimize = 11,
};

struct PlacementPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct PlacementRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  std::int64_t width() const { return std::int64_t(right) - left; }
  std::int64_t height() const { return std::int64_t(bottom) - top; }
  bool operator==(const PlacementRect&) const = default;
};

// The frame's placement: the normal (restored) rectangle in desktop coordinates, the show
// command, and the maximised position, laid out as the system's placement record.
struct WindowPlacement {
  std::uint32_t length = 44;
  std::uint32_t flags = 0;
  std::uint32_t showCmd = kShow;
  PlacementPoint minPosition;
  PlacementPoint maxPosition;
  PlacementRect normalPosition;
};
static_assert(sizeof(WindowPlacement) == 44);

// The frame's state. The frame owns it; the build dialog reads and writes the four build fields.
struct AppState {
  WindowPlacement placement;
  std::string lastFile;          // "LastFile"
  std::string lastInputFolder;   // "LastInputFolder"
  std::string lastOriginalRom;   // "LastOriginalROM"
  std::string lastOutputFile;    // "LastOutputFile"
  std::int32_t lastTilesRes = 4; // "LastTilesRes", 1 to 4
  std::string lastPack;          // "LastPack": the pack of the last View > Preview With Pack
  // File > Recent Screens, the latest first ("Recent1" to "Recent8" in section "RecentScreens").
  std::vector<std::string> recentScreens;
};

inline constexpr std::size_t kMaxRecentScreens = 8;

// Puts `path` first in `recent`, dropping an earlier mention of it and anything past the
// kMaxRecentScreens latest. An empty path changes nothing.
void rememberRecent(std::vector<std::string>& recent, const std::string& path);

// What the defaults of the placement depend on.
struct FrameMetrics {
  PlacementRect primaryScreen;  // the primary screen, desktop coordinates
  std::int32_t windowWidth = 0; // the frame's size for a 560 x 400 client area
  std::int32_t windowHeight = 0;
};

// The settings file to read at start-up and the one to write at exit; either is empty when there
// is none (or its path would be longer than 1023 characters).
struct SettingsFiles {
  std::string read;
  std::string write;
};

// Chooses the settings files from the executable's folder and the user's configuration folder,
// both given by the host. A "ZelvoTool.ini" beside the executable wins when that folder can be
// written (a portable copy keeps its own file). Otherwise the file lives in the configuration
// folder (an installed program), and until one is written there, the file beside the executable,
// if any, is read. With no configuration folder, the file goes beside the executable when that
// folder can be written.
SettingsFiles chooseSettingsFiles(const std::string& executableFolder, bool executableFolderWritable,
                                  const std::string& configFolder);

// Reads every setting from `path`; a missing file or value takes the defaults.
void loadSettingsFrom(AppState& state, const FrameMetrics& metrics, const std::string& path);
// Writes every setting into `path` (its folders are made when missing); fails when the file could
// not be read or written (it is then left as it was).
Status saveSettingsTo(const AppState& state, const std::string& path);

// The "MainWindow" half of the two operations above.
void LoadWindowPlacement(WindowPlacement& placement, const FrameMetrics& metrics, const IniFile& ini);
void SaveWindowPlacement(const WindowPlacement& placement, IniFile& ini);

// The placement with no settings: the frame centred on the primary screen, shown normally.
WindowPlacement defaultPlacement(const FrameMetrics& metrics);

// Whether enough of `rect` lies on one of `screens` for the user to reach it.
bool isPlacementVisible(const PlacementRect& rect, const std::vector<PlacementRect>& screens);
// Moves a normal rectangle that lies on no screen to the middle of `primary`, keeping its size
// (its top-left corner stays on the screen when it is larger). True when it was moved.
bool bringOntoScreen(WindowPlacement& placement, const std::vector<PlacementRect>& screens,
                     const PlacementRect& primary);

// Cuts a text to kMaxSettingText bytes without splitting a UTF-8 sequence.
std::string limitSettingText(std::string text);

} // namespace zelvo

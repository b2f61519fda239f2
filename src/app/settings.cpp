#include "app/settings.h"

#include "app/ini_file.h"
#include "platform/fs.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace zelvo {

namespace {

constexpr char kGeneral[] = "General";
constexpr char kRecentScreens[] = "RecentScreens";
constexpr char kMainWindow[] = "MainWindow";

// How much of a window must lie on a screen for it to count as reachable.
constexpr std::int32_t kMinVisible = 32;

// 32-bit sum that wraps like the system's own arithmetic instead of overflowing.
std::int32_t addWrap(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t clampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

std::string formatInt(std::int32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%i", static_cast<int>(v));
  return text;
}

std::string formatUnsigned(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(v));
  return text;
}

} // namespace

std::string limitSettingText(std::string text) {
  if (text.size() <= kMaxSettingText) return text;
  std::size_t cut = kMaxSettingText;
  // Back off over continuation bytes to the start of the sequence that would be split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

SettingsFiles chooseSettingsFiles(const std::string& executableFolder, bool executableFolderWritable,
                                  const std::string& configFolder) {
  auto fileIn = [](const std::string& folder) {
    const std::string path = folder.empty() ? std::string() : joinPath(folder, kSettingsFileName);
    return path.size() > kMaxSettingsPath ? std::string() : path;
  };
  const std::string beside = fileIn(executableFolder);
  const std::string configured = fileIn(configFolder);
  const bool besideExists = !beside.empty() && isRegularFile(beside);
  if (executableFolderWritable && !beside.empty() && (besideExists || configured.empty()))
    return {beside, beside};
  if (configured.empty()) return {besideExists ? beside : std::string(), std::string()};
  return {besideExists && !isRegularFile(configured) ? beside : configured, configured};
}

WindowPlacement defaultPlacement(const FrameMetrics& m) {
  WindowPlacement p;
  // Arithmetic shifts: a frame wider than the screen gets a negative offset.
  p.normalPosition.left =
      clampToInt32(m.primaryScreen.left + ((m.primaryScreen.width() - m.windowWidth) >> 1));
  p.normalPosition.top =
      clampToInt32(m.primaryScreen.top + ((m.primaryScreen.height() - m.windowHeight) >> 1));
  p.normalPosition.right = addWrap(p.normalPosition.left, m.windowWidth);
  p.normalPosition.bottom = addWrap(p.normalPosition.top, m.windowHeight);
  return p;
}

void LoadWindowPlacement(WindowPlacement& placement, const FrameMetrics& m, const IniFile& ini) {
  const WindowPlacement d = defaultPlacement(m);
  WindowPlacement p{};
  p.length = sizeof(WindowPlacement);
  p.showCmd = static_cast<std::uint32_t>(ini.getInt(kMainWindow, "showCmd", kShow));
  p.normalPosition.left = ini.getInt(kMainWindow, "left", d.normalPosition.left);
  p.normalPosition.top = ini.getInt(kMainWindow, "top", d.normalPosition.top);
  // The far edges default from the near edges as read, not from their defaults.
  p.normalPosition.right = ini.getInt(kMainWindow, "right", addWrap(p.normalPosition.left, m.windowWidth));
  p.normalPosition.bottom = ini.getInt(kMainWindow, "bottom", addWrap(p.normalPosition.top, m.windowHeight));
  p.maxPosition.x = ini.getInt(kMainWindow, "MaxPos.x", 0);
  p.maxPosition.y = ini.getInt(kMainWindow, "MaxPos.y", 0);
  placement = p;
}

void SaveWindowPlacement(const WindowPlacement& p, IniFile& ini) {
  ini.set(kMainWindow, "showCmd", formatUnsigned(p.showCmd));
  ini.set(kMainWindow, "left", formatInt(p.normalPosition.left));
  ini.set(kMainWindow, "top", formatInt(p.normalPosition.top));
  ini.set(kMainWindow, "right", formatInt(p.normalPosition.right));
  ini.set(kMainWindow, "bottom", formatInt(p.normalPosition.bottom));
  ini.set(kMainWindow, "MaxPos.x", formatInt(p.maxPosition.x));
  ini.set(kMainWindow, "MaxPos.y", formatInt(p.maxPosition.y));
}

void rememberRecent(std::vector<std::string>& recent, const std::string& path) {
  if (path.empty()) return;
  recent.erase(std::remove(recent.begin(), recent.end(), path), recent.end());
  recent.insert(recent.begin(), path);
  if (recent.size() > kMaxRecentScreens) recent.resize(kMaxRecentScreens);
}

void loadSettingsFrom(AppState& state, const FrameMetrics& metrics, const std::string& path) {
  IniFile ini;
  // A missing or unreadable file reads as empty: the defaults stand (and saving says why it could
  // not replace an unreadable one).
  if (!path.empty()) (void)ini.load(path);
  state.lastFile = limitSettingText(ini.getString(kGeneral, "LastFile"));
  state.lastInputFolder = limitSettingText(ini.getString(kGeneral, "LastInputFolder"));
  state.lastOriginalRom = limitSettingText(ini.getString(kGeneral, "LastOriginalROM"));
  state.lastOutputFile = limitSettingText(ini.getString(kGeneral, "LastOutputFile"));
  state.lastPack = limitSettingText(ini.getString(kGeneral, "LastPack"));
  state.recentScreens.clear();
  for (std::size_t i = kMaxRecentScreens; i >= 1; --i) // oldest first, so the latest ends first
    rememberRecent(state.recentScreens,
                   limitSettingText(ini.getString(kRecentScreens, "Recent" + std::to_string(i))));
  std::int32_t res = ini.getInt(kGeneral, "LastTilesRes", 4);
  state.lastTilesRes = (res < 1 || res > 4) ? 4 : res;
  LoadWindowPlacement(state.placement, metrics, ini);
}

Status saveSettingsTo(const AppState& state, const std::string& path) {
  if (path.empty()) return makeError(ErrorCause::InvalidArgument, path, "no settings file");
  IniFile ini;
  // A file that exists but cannot be read is left alone rather than replaced by our keys alone.
  if (Status loaded = ini.load(path); !loaded) return loaded;
  ini.set(kGeneral, "LastFile", state.lastFile);
  ini.set(kGeneral, "LastInputFolder", state.lastInputFolder);
  ini.set(kGeneral, "LastOriginalROM", state.lastOriginalRom);
  ini.set(kGeneral, "LastOutputFile", state.lastOutputFile);
  ini.set(kGeneral, "LastTilesRes", formatInt(state.lastTilesRes));
  ini.set(kGeneral, "LastPack", state.lastPack);
  for (std::size_t i = 0; i < kMaxRecentScreens; ++i)
    ini.set(kRecentScreens, "Recent" + std::to_string(i + 1),
            i < state.recentScreens.size() ? state.recentScreens[i] : std::string());
  SaveWindowPlacement(state.placement, ini);
  if (Status made = makeFolders(folderOf(path)); !made) return made;
  return ini.save(path);
}

bool isPlacementVisible(const PlacementRect& r, const std::vector<PlacementRect>& screens) {
  const std::int64_t needW = std::min<std::int64_t>(kMinVisible, std::max<std::int64_t>(r.width(), 1));
  const std::int64_t needH = std::min<std::int64_t>(kMinVisible, std::max<std::int64_t>(r.height(), 1));
  const std::int64_t right = std::max<std::int64_t>(r.right, std::int64_t(r.left) + 1);
  const std::int64_t bottom = std::max<std::int64_t>(r.bottom, std::int64_t(r.top) + 1);
  for (const PlacementRect& s : screens) {
    const std::int64_t w = std::min<std::int64_t>(right, s.right) - std::max(r.left, s.left);
    const std::int64_t h = std::min<std::int64_t>(bottom, s.bottom) - std::max(r.top, s.top);
    if (w >= needW && h >= needH) return true;
  }
  return false;
}

bool bringOntoScreen(WindowPlacement& placement, const std::vector<PlacementRect>& screens,
                     const PlacementRect& primary) {
  PlacementRect& r = placement.normalPosition;
  if (isPlacementVisible(r, screens)) return false;
  const std::int64_t w = std::clamp<std::int64_t>(r.width(), 0, INT32_MAX);
  const std::int64_t h = std::clamp<std::int64_t>(r.height(), 0, INT32_MAX);
  r.left = clampToInt32(primary.left + std::max<std::int64_t>((primary.width() - w) >> 1, 0));
  r.top = clampToInt32(primary.top + std::max<std::int64_t>((primary.height() - h) >> 1, 0));
  r.right = clampToInt32(r.left + w);
  r.bottom = clampToInt32(r.top + h);
  return true;
}

} // namespace zelvo

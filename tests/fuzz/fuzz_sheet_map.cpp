// Fuzz target: the map of a sheet to paint, as a sidecar or a PNG text chunk holds it.
#include "pipeline/sheet_map.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (looksLikeSheetMap(text)) {
    const Result<SheetMap> map = parseSheetMap(text, "fuzz.json");
    static_cast<void>(map.ok());
  }
  return 0;
}

#include "pipeline/sheet_map.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <limits>

namespace zelvo {

namespace {

using Json = nlohmann::ordered_json;

std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The `size` bytes written as hex in `field` of `item`; false when it is missing or not that.
bool bytesOf(const Json& item, const char* field, std::uint8_t* out, std::size_t size) {
  auto found = item.find(field);
  if (found == item.end() || !found->is_string()) return false;
  const std::string& text = found->get_ref<const std::string&>();
  if (text.size() != 2 * size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = hexDigit(text[2 * i]), low = hexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = std::uint8_t(high << 4 | low);
  }
  return true;
}

// The whole number in `field` of `item`, within `low` to `high`.
bool numberOf(const Json& item, const char* field, std::int64_t low, std::int64_t high, std::int64_t& out) {
  auto found = item.find(field);
  if (found == item.end() || !found->is_number_integer()) return false;
  out = found->is_number_unsigned()
            ? std::int64_t(std::min<std::uint64_t>(found->get<std::uint64_t>(),
                                                   std::uint64_t(std::numeric_limits<std::int64_t>::max())))
            : found->get<std::int64_t>();
  return out >= low && out <= high;
}

} // namespace

std::string sheetMapJson(const SheetMap& map, int indent) {
  Json slots = Json::array();
  for (const SheetSlot& slot : map.slots)
    slots.push_back({{"x", slot.x},
                     {"y", slot.y},
                     {"size", slot.size},
                     {"group", slot.group},
                     {"colours", hexOf(slot.colours, sizeof slot.colours)},
                     {"pattern", hexOf(slot.planes, sizeof slot.planes)},
                     {"painted", slot.painted},
                     {"digest", toHex(slot.digest)}});
  const Json json = {{"format", kSheetMapKeyword}, {"version", kSheetMapVersion}, {"scale", map.scale},
                     {"width", map.width},         {"height", map.height},        {"page", map.page},
                     {"pages", map.pages},         {"slots", std::move(slots)}};
  return json.dump(indent);
}

bool looksLikeSheetMap(std::string_view text) {
  const Json json = Json::parse(text.begin(), text.end(), nullptr, false);
  if (!json.is_object()) return false;
  auto format = json.find("format");
  return format != json.end() && format->is_string() && *format == kSheetMapKeyword;
}

Result<SheetMap> parseSheetMap(std::string_view text, const std::string& name) {
  auto bad = [&](const std::string& why) {
    return makeError(ErrorCause::BadFormat, name, "the sheet's map " + why);
  };
  const Json json = Json::parse(text.begin(), text.end(), nullptr, false);
  if (!json.is_object()) return bad("is not a JSON object");
  auto format = json.find("format");
  if (format == json.end() || !format->is_string() || *format != kSheetMapKeyword)
    return bad("does not say it is one");
  std::int64_t version = 0, scale = 0, width = 0, height = 0, page = 0, pages = 0;
  if (!numberOf(json, "version", 1, std::numeric_limits<int>::max(), version)) return bad("has no version");
  if (version > kSheetMapVersion)
    return makeError(ErrorCause::Unsupported, name,
                     "the sheet's map is of version " + std::to_string(version) + "; this program reads " +
                         std::to_string(kSheetMapVersion));
  if (!numberOf(json, "scale", 1, 4, scale)) return bad("has no scale of 1 to 4");
  if (!numberOf(json, "width", 1, std::numeric_limits<std::int32_t>::max(), width) ||
      !numberOf(json, "height", 1, std::numeric_limits<std::int32_t>::max(), height))
    return bad("has no image size");
  if (!numberOf(json, "page", 1, std::numeric_limits<std::int32_t>::max(), page) ||
      !numberOf(json, "pages", page, std::numeric_limits<std::int32_t>::max(), pages))
    return bad("has no page number");
  auto slots = json.find("slots");
  if (slots == json.end() || !slots->is_array()) return bad("has no slots");

  SheetMap map;
  map.scale = std::uint32_t(scale);
  map.width = std::uint32_t(width);
  map.height = std::uint32_t(height);
  map.page = std::uint32_t(page);
  map.pages = std::uint32_t(pages);
  map.slots.reserve(slots->size());
  const std::int64_t edge = 8 * scale;
  for (const Json& item : *slots) {
    const std::string which = "slot " + std::to_string(map.slots.size() + 1);
    if (!item.is_object()) return bad("has a " + which + " that is not an object");
    SheetSlot& slot = map.slots.emplace_back();
    std::int64_t x = 0, y = 0, size = 0, group = 0;
    if (!numberOf(item, "x", 0, width - edge, x) || !numberOf(item, "y", 0, height - edge, y))
      return bad("places " + which + " outside the image");
    if (!numberOf(item, "size", edge, edge, size))
      return bad("gives " + which + " another size than " + std::to_string(edge) + " pixels");
    if (!numberOf(item, "group", 0, 8, group)) return bad("gives " + which + " no group of 0 to 8");
    if (!bytesOf(item, "colours", slot.colours, sizeof slot.colours) ||
        !bytesOf(item, "pattern", slot.planes, sizeof slot.planes) ||
        !bytesOf(item, "digest", slot.digest.data(), slot.digest.size()))
      return bad("gives " + which + " no colours, pattern or digest");
    auto painted = item.find("painted");
    slot.painted = painted != item.end() && painted->is_boolean() && painted->get<bool>();
    slot.x = std::int32_t(x);
    slot.y = std::int32_t(y);
    slot.size = std::uint32_t(size);
    slot.group = int(group);
  }
  return map;
}

} // namespace zelvo

#include "platform/text.h"

#include <cstdint>

namespace zelvo {

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none.
std::size_t utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length;
  std::uint32_t lowest;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code >= 0x80 && code <= 0x9F) return 0; // C1 controls are escaped as their bytes
  return length;
}

} // namespace

std::string printable(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += char(c);
      ++i;
      continue;
    }
    if (c >= 0x80) {
      if (const std::size_t n = utf8Length(text, i); n > 0) {
        out.append(text, i, n);
        i += n;
        continue;
      }
    }
    switch (c) {
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case 0x1B:
      out += "\\e";
      break;
    default:
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    ++i;
  }
  return out;
}

} // namespace zelvo

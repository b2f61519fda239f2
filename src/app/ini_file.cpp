#include "app/ini_file.h"

#include "platform/atomic_save.h"
#include "platform/file.h"
#include "platform/fs.h"

#include <cctype>

namespace zelvo {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string> sectionName(const std::string& line) {
  std::string t = trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  std::size_t close = t.find(']');
  return trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool isComment(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == ';'; }

// Key and raw value of a "key=value" line.
bool splitKeyLine(const std::string& line, std::string& key, std::string& value) {
  std::string t = trim(line);
  if (t.empty() || isComment(t) || t[0] == '[') return false;
  std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  return true;
}

std::string unquote(const std::string& v) {
  if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

bool needsQuotes(const std::string& v) {
  if (v.empty()) return false;
  if (isBlank(v.front()) || isBlank(v.back())) return true;
  return v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'');
}

bool hasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

} // namespace

Status IniFile::load(const std::string& path) {
  lines_.clear();
  bom_ = false;
  if (pathKind(path) == PathKind::Missing) return {};
  Result<File> file = File::openRead(path);
  if (!file) return file.error();
  std::string text;
  char buffer[8192];
  for (;;) {
    const Result<std::size_t> done = file->read(buffer, sizeof buffer);
    if (!done) return done.error();
    if (*done == 0) break;
    text.append(buffer, *done);
  }
  parse(text);
  return {};
}

void IniFile::parse(const std::string& input) {
  lines_.clear();
  bom_ = input.compare(0, 3, kBom) == 0;
  std::size_t pos = bom_ ? 3 : 0;
  while (pos < input.size()) {
    std::size_t nl = input.find('\n', pos);
    std::size_t end = nl == std::string::npos ? input.size() : nl;
    std::size_t stop = end;
    if (stop > pos && input[stop - 1] == '\r') --stop;
    lines_.push_back(input.substr(pos, stop - pos));
    pos = nl == std::string::npos ? input.size() : nl + 1;
  }
}

std::optional<IniFile::SectionRange> IniFile::findSection(const std::string& section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    auto name = sectionName(lines_[i]);
    if (!name || !sameName(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && !sectionName(lines_[end])) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> IniFile::findKey(const SectionRange& range, const std::string& key) const {
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    std::string k, v;
    if (splitKeyLine(lines_[i], k, v) && sameName(k, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::get(const std::string& section, const std::string& key) const {
  auto range = findSection(section);
  if (!range) return std::nullopt;
  auto line = findKey(*range, key);
  if (!line) return std::nullopt;
  std::string k, v;
  splitKeyLine(lines_[*line], k, v);
  return unquote(v);
}

std::string IniFile::getString(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
  auto v = get(section, key);
  return v && !v->empty() ? *v : fallback;
}

std::int32_t IniFile::getInt(const std::string& section, const std::string& key,
                             std::int32_t fallback) const {
  auto v = get(section, key);
  if (!v || v->empty()) return fallback;
  const std::string& s = *v;
  std::size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  unsigned base = 10;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  // Wraps like a 32-bit register, as the system's own reader does with oversized numbers.
  std::uint32_t value = 0;
  for (; i < s.size(); ++i) {
    int c = std::tolower(static_cast<unsigned char>(s[i]));
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = unsigned(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = unsigned(c - 'a' + 10);
    } else {
      break;
    }
    value = value * base + digit;
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

bool IniFile::set(const std::string& section, const std::string& key, const std::string& value) {
  if (section.empty() || key.empty() || hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
    return false;
  if (section.find(']') != std::string::npos || trim(section) != section) return false;
  if (trim(key) != key || key.find('=') != std::string::npos || key[0] == '[' || key[0] == ';') return false;

  std::string line = key + "=" + (needsQuotes(value) ? "\"" + value + "\"" : value);
  auto range = findSection(section);
  if (!range) {
    if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.emplace_back(); // a blank line between
    lines_.push_back("[" + section + "]");
    lines_.push_back(line);
    return true;
  }
  if (auto existing = findKey(*range, key)) {
    lines_[*existing] = line;
    return true;
  }
  // After the section's last non-blank line, so that a blank line before the next section stays.
  std::size_t at = range->end;
  while (at > range->header + 1 && trim(lines_[at - 1]).empty()) --at;
  lines_.insert(lines_.begin() + std::ptrdiff_t(at), line);
  return true;
}

std::string IniFile::text() const {
  std::string out = bom_ ? kBom : "";
  for (const std::string& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

Status IniFile::save(const std::string& path) const {
  const std::string data = text();
  return saveFileAtomically(path, data.data(), data.size());
}

} // namespace zelvo

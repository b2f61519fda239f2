#include "platform/path.h"

#include <algorithm>
#include <cctype>

namespace zelvo {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::size_t lastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (isSeparator(folder.back())) return folder + name;
  return folder + '/' + name;
}

std::string folderOf(const std::string& path) {
  std::size_t sep = lastSeparator(path);
  if (sep == std::string::npos) return {};
  if (sep == 0) return path.substr(0, 1);
  return path.substr(0, sep);
}

std::string fileNameOf(const std::string& path) {
  std::size_t sep = lastSeparator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string stripExtension(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (path[i] == '.') return path.substr(0, i);
    if (isSeparator(path[i])) break;
  }
  return path;
}

std::string extensionOf(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (path[i] == '.') return path.substr(i);
    if (isSeparator(path[i])) break;
  }
  return {};
}

char lowerAscii(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

std::string toLowerAscii(std::string text) {
  for (char& c : text) c = lowerAscii(c);
  return text;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

bool lessNoCase(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    char x = lowerAscii(a[i]), y = lowerAscii(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b; // same letters: a stable, machine-independent tie-break
}

bool wildcardMatch(const std::string& pattern, const std::string& name) {
  // Iterative glob with backtracking to the last '*'.
  std::size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

} // namespace zelvo

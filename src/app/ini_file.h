// A settings file in the Windows private-profile text format: "[Section]" lines, "key=value"
// lines, anything else kept as it stands. Names match case-insensitively. Only the lines that are
// set change; every other section, key, comment and blank line is written back as it was read.
#pragma once

#include "platform/error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class IniFile {
public:
  // Reads `path`; lines may end in CRLF or LF. A file that does not exist leaves the object empty
  // and is no failure; one that exists but cannot be read fails, and the object is empty.
  Status load(const std::string& path);
  // Parses text as read from a file.
  void parse(const std::string& text);

  // The value of `key` in `section`: surrounding blanks removed, and one pair of matching quotes
  // around it. Nothing when the section or key is absent.
  std::optional<std::string> get(const std::string& section, const std::string& key) const;
  // The text value, or `fallback` when absent or empty.
  std::string getString(const std::string& section, const std::string& key,
                        const std::string& fallback = {}) const;
  // The leading integer of the value (decimal, or hexadecimal after "0x", optional sign), 0 when
  // it has no digits, `fallback` when the key is absent or empty.
  std::int32_t getInt(const std::string& section, const std::string& key, std::int32_t fallback) const;

  // Replaces the first line of `key` in `section`, or adds it at the end of the section; the
  // section is added at the end of the file when missing. A value that would not read back as
  // written (surrounding blanks, quotes) is written in quotes. False, and nothing changed, when
  // a name or the value holds a line break, or a name is empty or could not be read back.
  bool set(const std::string& section, const std::string& key, const std::string& value);

  // The whole text, every line ending in CRLF.
  std::string text() const;
  // Replaces `path` with the text, whole and on disk, or leaves the old file untouched.
  Status save(const std::string& path) const;

private:
  struct SectionRange {
    std::size_t header; // index of the "[...]" line
    std::size_t end;    // one past the section's last line
  };
  std::optional<SectionRange> findSection(const std::string& section) const;
  std::optional<std::size_t> findKey(const SectionRange& range, const std::string& key) const;

  std::vector<std::string> lines_; // without line endings
  bool bom_ = false;               // the file started with a UTF-8 byte order mark
};

} // namespace zelvo

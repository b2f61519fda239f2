// Pieces of paths, without touching the file system. Paths are UTF-8; '\' and '/' both separate.
// Names are compared without case (ASCII letters), as the folders of a game are listed.
#pragma once

#include <string>

namespace zelvo {

bool isSeparator(char c);
// Index of the last '\' or '/' in `path`, or std::string::npos.
std::size_t lastSeparator(const std::string& path);
// Joins a folder and a name with '/' unless the folder is empty or already ends in a separator.
std::string joinPath(const std::string& folder, const std::string& name);
// The folder part of `path` ("/" for a file in the root); empty when `path` is a bare name.
std::string folderOf(const std::string& path);
// The last piece of `path`, after its last separator.
std::string fileNameOf(const std::string& path);
// `path` without the extension that starts at the last '.' of its last piece.
std::string stripExtension(const std::string& path);
// The extension of the last piece of `path`, with its '.'; empty when there is none.
std::string extensionOf(const std::string& path);

char lowerAscii(char c);
std::string toLowerAscii(std::string text);
bool equalsNoCase(const std::string& a, const std::string& b);
// Order without case; names that differ only in case are ordered by their bytes.
bool lessNoCase(const std::string& a, const std::string& b);
// `pattern` with '*' and '?' against `name`, without case.
bool wildcardMatch(const std::string& pattern, const std::string& name);

} // namespace zelvo

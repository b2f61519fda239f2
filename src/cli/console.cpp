// What the `zelvo` program knows of its commands and of the terminal it writes to.
#include "cli/commands.h"
#include "platform/process_info.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zelvo::cli {

namespace {

constexpr std::array<const char*, 6> kCommands = {"inspect", "build", "export",
                                                  "preview", "sheet", "coverage"};

// Letters added, removed, changed, or two neighbours swapped, to turn `a` into `b`.
std::size_t editDistance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

} // namespace

bool isCommandName(const std::string& name) {
  return std::any_of(kCommands.begin(), kCommands.end(), [&](const char* c) { return name == c; });
}

std::string nearestCommand(const std::string& name) {
  std::string best;
  std::size_t bestDistance = 3;
  for (const char* c : kCommands) {
    const std::size_t d = editDistance(name, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

bool escapesAllowed(std::FILE* stream) {
  const char* noColor = std::getenv("NO_COLOR");
  if (!isTerminal(stream) || (noColor != nullptr && *noColor != '\0')) return false;
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

} // namespace zelvo::cli

// What the `zelvo` program knows of its commands and of the terminal it writes to.
#include "cli/commands.h"
#include "platform/process_info.h"
#include "platform/text.h"
#include "platform/thread_pool.h"
#include "tiles/screen_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
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

void occupyClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Read-only: reading gives the end at once, writing fails with EBADF.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void sayError(std::FILE* err, const std::string& command, const std::string& text) {
  std::fprintf(err, "zelvo %s: %s\n", command.c_str(), printable(text).c_str());
  std::fflush(err);
}

int checkOutputOrSay(const std::string& path, const OutputRule& rule, const std::string& command,
                     std::FILE* err) {
  if (Status named = checkOutputName(path, rule); !named) {
    sayError(err, command, named.error().message());
    return kExitUsage;
  }
  if (Status ready = checkOutput(path, rule); !ready) {
    sayError(err, command, ready.error().message());
    return kExitFailure;
  }
  return kExitSuccess;
}

namespace {

int gOutputError = 0; // the reason of the last write refused on an output stream

void sayOutputRefused(std::FILE* err, const std::string& command, int reason) {
  sayError(err, command,
           std::string("cannot write to standard output: ") + std::strerror(reason ? reason : EIO));
}

} // namespace

bool writeOutput(std::FILE* out, const std::string& text, std::FILE* err, const std::string& command) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
      !std::ferror(out))
    return true;
  gOutputError = errno;
  sayOutputRefused(err, command, gOutputError);
  return false;
}

int checkOutputWritten(std::FILE* out, std::FILE* err, const std::string& command, int status, int reason) {
  errno = 0;
  if (std::fflush(out) == 0 && !std::ferror(out)) return status;
  sayOutputRefused(err, command, errno ? errno : reason ? reason : gOutputError);
  return status == kExitSuccess ? kExitFailure : status;
}

bool loadScreenOrSay(ScreenFile& screen, const std::string& path, std::FILE* err,
                     const std::string& command) {
  const Status read = readScreenFile(screen, path);
  if (read) return true;
  // The reader names the file at fault: the screen file itself, or the tiles file beside it.
  const Error& why = read.error();
  if (why.path == path || why.path.empty())
    sayError(err, command, path + ": cannot load the screen file: " + why.detail);
  else
    sayError(err, command, path + ": cannot load the tiles file beside the screen file: " + why.message());
  return false;
}

unsigned boundedThreads(unsigned requested, std::FILE* err) {
  const unsigned cores = resolveThreadCount(0);
  if (requested <= cores) return requested;
  sayError(err, "build",
           "--threads " + std::to_string(requested) + " is more than the " + std::to_string(cores) +
               (cores == 1 ? " core" : " cores") + " of this machine: " + std::to_string(cores) +
               (cores == 1 ? " thread is" : " threads are") + " used");
  return cores;
}

bool escapesAllowed(std::FILE* stream) {
  const char* noColor = std::getenv("NO_COLOR");
  if (!isTerminal(stream) || (noColor != nullptr && *noColor != '\0')) return false;
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

} // namespace zelvo::cli

#include "platform/process_info.h"

#include <sys/resource.h>
#include <unistd.h>

namespace zelvo {

bool isTerminal(std::FILE* stream) { return stream && ::isatty(::fileno(stream)) == 1; }

std::uint64_t peakResidentBytes() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0 || usage.ru_maxrss < 0) return 0;
  return std::uint64_t(usage.ru_maxrss) * 1024u; // Linux reports kilobytes
}

} // namespace zelvo

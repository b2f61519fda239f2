#include "cli/commands.h"

namespace zelvo::cli {

int runInspect(const InspectOptions&, std::FILE*, std::FILE* err) {
  std::fputs("zelvo: inspect is not available yet\n", err);
  return 1;
}

} // namespace zelvo::cli

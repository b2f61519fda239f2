#include "cli/commands.h"

namespace zelvo::cli {

int runBuild(const BuildOptions&, std::FILE*, std::FILE* err) {
  std::fputs("zelvo: build is not available yet\n", err);
  return 1;
}

} // namespace zelvo::cli

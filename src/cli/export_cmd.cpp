#include "cli/commands.h"

namespace zelvo::cli {

int runExport(const ExportOptions&, std::FILE*, std::FILE* err) {
  std::fputs("zelvo: export is not available yet\n", err);
  return 1;
}

} // namespace zelvo::cli

// Placeholder build run: reports that nothing can be built yet. The real pipeline replaces this
// file.
#include "build/build_driver.h"

namespace zelvo {

bool RunBuild(const BuildJob& job) {
  if (job.log) {
    job.log->ClearLog();
    job.log->AppendLogLine("Error: invalid input folder");
  }
  return false;
}

} // namespace zelvo

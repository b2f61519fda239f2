// Runs the `zelvo` program as a user runs it from a shell, capturing what it prints.
#pragma once

#include "support/temp_dir.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace zelvo::test {

struct CliOutcome {
  int status = -1; // the exit status, -1 when the program did not exit normally
  std::string out, err;
};

// Runs `zelvo ARGUMENTS` (already quoted for the shell) in the folder `cwd`, with no input; its
// output goes through files in `dir`. `setup` is a shell command run first in the same shell
// (a limit such as "ulimit -f 1"), or empty. With `limitSeconds`, a program still running then is
// ended (and exits 124), so that a test of what could hang ends anyway.
inline CliOutcome runZelvo(const std::string& cwd, const std::string& arguments, const TempDir& dir,
                           const std::string& setup = {}, int limitSeconds = 0) {
  const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
  const std::string limit = limitSeconds > 0 ? "timeout -k 5 " + std::to_string(limitSeconds) + " " : "";
  const std::string command = "cd '" + cwd + "' && " + (setup.empty() ? "" : setup + " && ") + limit +
                              "'" ZELVO_CLI_PATH "' " + arguments + " >'" + out + "' 2>'" + err +
                              "' </dev/null";
  const int raw = std::system(command.c_str());
  CliOutcome o;
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.out = readFileBytes(out);
  o.err = readFileBytes(err);
  return o;
}

} // namespace zelvo::test

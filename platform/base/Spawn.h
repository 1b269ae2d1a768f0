// Starting host programs: the device's own programs, the desktop's opener,
// helper servers. One way to start them, so the environment, the standard
// streams and a failed start are handled alike.
#pragma once

#include <string>
#include <vector>

namespace plat {

struct SpawnOptions {
  // "NAME=value" entries set over this process's environment.
  std::vector<std::string> environment;
  // The program outlives this one: it runs in a session of its own as a child
  // of init, and nobody waits for it.
  bool detached = false;
  // Its standard output and error go to /dev/null.
  bool quiet = false;
};

// Starts args[0] (looked up on PATH when it holds no "/") with args. 0, with
// the program's process id in *pid; or the errno of the failed start (no
// process, or the program could not be executed: nothing then runs).
int SpawnProcess(const std::vector<std::string>& args, const SpawnOptions& options, int* pid);

// The program's path: program itself when it holds a "/", else the first
// executable of that name in the folders of PATH; program when there is none.
std::string FindOnPath(const std::string& program);

}  // namespace plat

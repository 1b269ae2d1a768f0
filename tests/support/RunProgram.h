// Runs a program of the build as a process of the test's device.
#pragma once

#include <string>
#include <vector>

namespace orvtest {

// Runs a program (on this process's device, whose environment it inherits)
// and waits for it: its exit code, 128 + n when ended by signal n.
int RunProgram(const std::string& program, const std::vector<std::string>& args = {});

}  // namespace orvtest

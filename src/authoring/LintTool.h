#pragma once
// The command line of prereq-lint (see its --help), shared by the Linux
// command and the Windows console program.
#include <string>
#include <vector>

namespace prereq {

// Runs the tool with its arguments (without the program name); returns the
// exit status.
int RunLintTool(const std::vector<std::wstring>& arguments);

}  // namespace prereq

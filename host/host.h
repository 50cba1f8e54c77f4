// The Linux host of the setup program: runs WinMain on a simulated machine
// loaded from an image, with the current directory mapped in as a drive.
#pragma once

#include <string>
#include <vector>

namespace host {

// Runs `setup --machine DIR [options]` with argv[0] left out; returns the
// process exit code. Never throws.
int run(const std::vector<std::string>& args);

// The command line WinMain receives: every argument but --machine DIR,
// joined with blanks; an argument with blanks is put in double quotes.
std::string programCommandLine(const std::vector<std::string>& args);

}  // namespace host

// The Linux host of the setup program: runs WinMain on a simulated machine
// loaded from an image, with the current directory mapped in as a drive.
#pragma once

#include <string>
#include <vector>

namespace host {

// Exit codes of the host itself; every other code is the program's.
constexpr int kExitUsage = 2;          // bad command line
constexpr int kExitImage = 3;          // the image is damaged or cannot be loaded
constexpr int kExitNotWritable = 4;    // the image cannot be written (refused before the first page,
                                       // or the save at the end failed)
constexpr int kExitBusy = 5;           // another writer holds the image

// Runs `setup --machine DIR [options]` with argv[0] left out; returns the
// process exit code. Never throws. The image is locked for the whole run.
int run(const std::vector<std::string>& args);

// The command line WinMain receives: every argument but --machine DIR,
// joined with blanks; an argument with blanks is put in double quotes.
std::string programCommandLine(const std::vector<std::string>& args);

}  // namespace host

// The simulated programs winsim knows by file name (see state.h,
// ProgramBehaviour), and how long the image says each one runs.
#pragma once

#include "winsim/processes/state.h"

#include <string>

namespace winsim {

// EXTRACT.EXE, the Windows 95 cabinet tool (extract.cpp).
ProgramBehaviour extractProgram();

// The run time the image declares for a program (file name, any case), or
// `fallback` when it declares none.
std::uint64_t programRunTime(const Machine& m, const std::string& fileName, std::uint64_t fallback);

}  // namespace winsim

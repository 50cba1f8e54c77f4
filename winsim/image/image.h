// Machine images on disk: machine.json, registry/*.reg, drives/<letter>/.
#pragma once

#include "winsim/core/machine.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace winsim {

// A damaged image: names the file and, where known, the line (0 = unknown).
struct ImageError : std::runtime_error {
    ImageError(std::string file, int line, const std::string& what);
    std::string file;
    int line;
};

// Loads the image in `dir`. The drives are worked on in a private working
// copy beside the image (hard links, so loading is cheap), so the image
// itself only changes when saveImage() succeeds. Throws ImageError.
std::unique_ptr<Machine> loadImage(const std::filesystem::path& dir);

// Writes `m` as an image into `dir` atomically: everything is written into
// a staging folder beside `dir`, which then replaces `dir`. The machine's
// drive folders move into the new image. Throws std::runtime_error.
void saveImage(Machine& m, const std::filesystem::path& dir);

// The JSON text of machine.json for `m` (used by save and by 'winsim diff').
std::string machineJsonText(const Machine& m);

// Removes the working copy of a machine that is dropped without saving.
void discardWorkingCopy(Machine& m);

}  // namespace winsim

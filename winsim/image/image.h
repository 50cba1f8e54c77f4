// Machine images on disk: machine.json, registry/*.reg, drives/<letter>/.
#pragma once

#include "winsim/core/machine.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace winsim {

// A damaged image: names the file and, where known, the line (0 = unknown).
struct ImageError : std::runtime_error {
    ImageError(std::string file, int line, const std::string& what);
    std::string file;
    int line;
};

// A piece of an input's own text for an error message: quoted, cut to 40
// characters with the full length noted, control characters shown as '?',
// so a huge or binary line never floods the terminal.
std::string quotedExcerpt(std::string_view text);

// Loads the image in `dir`. The drives are worked on in a private working
// copy beside the image (hard links, so loading is cheap), so the image
// itself only changes when saveImage() succeeds. Throws ImageError.
std::unique_ptr<Machine> loadImage(const std::filesystem::path& dir);

// Reads the text of a machine.json into `m` (the core and every family's
// section; drives are placed under `dir`/drives). Throws ImageError naming
// "machine.json" with the line of a syntax error, or the JSON pointer of
// the value at fault and the reason.
void machineFromJsonText(std::string_view text, Machine& m, const std::filesystem::path& dir);

// Writes `m` as an image into `dir` atomically: everything is written into
// a staging folder beside `dir`, which then replaces `dir`. The machine's
// drive folders move into the new image. Throws std::runtime_error.
void saveImage(Machine& m, const std::filesystem::path& dir);

// The JSON text of machine.json for `m` (used by save and by 'winsim diff').
std::string machineJsonText(const Machine& m);

// Removes the working copy of a machine that is dropped without saving.
void discardWorkingCopy(Machine& m);

}  // namespace winsim

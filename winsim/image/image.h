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

// Another writer holds the image: `holder` is its process id (0 when it
// could not be read).
struct ImageBusy : std::runtime_error {
    ImageBusy(const std::filesystem::path& dir, long holder);
    long holder;
};

// The image cannot be written: the reason names the folder and the cause.
struct ImageNotWritable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The writers' lock of an image: one writer at a time, held from before the
// load to after the save. It is an open-file lock on `.NAME.lock` beside the
// image, so it ends with the process however that ends. Readers take none.
class ImageLock {
public:
    ImageLock() = default;
    // Takes the lock at once or throws ImageBusy; throws ImageNotWritable
    // when the lock file cannot be created, ImageError when the folder that
    // should hold the image does not exist.
    explicit ImageLock(const std::filesystem::path& dir);
    ImageLock(ImageLock&& other) noexcept;
    ImageLock& operator=(ImageLock&& other) noexcept;
    ImageLock(const ImageLock&) = delete;
    ImageLock& operator=(const ImageLock&) = delete;
    ~ImageLock();
    bool held() const { return fd_ >= 0; }
    void release();

private:
    int fd_ = -1;
};

// Loads the image in `dir`. The drives are worked on in a private working
// copy beside the image (hard links, so loading is cheap), so the image
// itself only changes when saveImage() succeeds. What dead processes left
// beside the image is cleaned up first, with one line on stderr. A save
// switching a new version in while the image is read is noticed, and the
// load starts again, so a load sees one whole version. Throws ImageError.
std::unique_ptr<Machine> loadImage(const std::filesystem::path& dir);

// Writes `m` as an image into `dir` atomically: everything is written into
// a staging folder beside `dir` and flushed to the disk, then switched with
// `dir` in one step; at every instant `dir` holds the old or the new image,
// whole. The machine's drive folders move into the new image, and after the
// save the machine works on the image's own files. Throws
// std::runtime_error, with `dir` and the machine as they were.
void saveImage(Machine& m, const std::filesystem::path& dir);

// Checks, before a writer acts, that it will be able to save `dir`: every
// folder of the image can have its entries removed (the old version is
// deleted after the switch), and the stage beside it can be created and has
// room for the new machine state. Throws ImageNotWritable with the reason;
// leaves nothing behind.
void checkImageWritable(const std::filesystem::path& dir);

// The JSON text of machine.json for `m` (used by save and by 'winsim diff').
std::string machineJsonText(const Machine& m);

// Removes the working copy of a machine that is dropped without saving.
void discardWorkingCopy(Machine& m);

}  // namespace winsim

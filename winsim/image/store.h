// The image directory on the host file system: the names kept beside it,
// durable writes, the one-step switch of a new version, and the clean-up of
// what interrupted runs left behind.
//
// Beside an image NAME live, while a process works on it:
//   .NAME.work-PID   the drives a run works on (hard links of the image's files)
//   .NAME.save-PID   a new version being staged (after the switch: the old one)
//   .NAME.old-PID    the old version, only on file systems without an atomic exchange
//   .NAME.lock       the writers' lock (kept; it holds the writer's pid)
// and beside any image, `.winsim-new-PID`, the scratch folder of `winsim new`.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace winsim::store {

// `dir` made absolute and without a trailing separator.
std::filesystem::path normalized(const std::filesystem::path& dir);

// `.NAME.KIND-PID` beside the image (PID: this process).
std::filesystem::path sibling(const std::filesystem::path& dir, std::string_view kind);

// `.NAME.lock` beside the image.
std::filesystem::path lockPath(const std::filesystem::path& dir);

// Whether process `pid` exists (this process counts as alive).
bool processAlive(long pid);

// Removes or completes what dead processes left beside the image `dir`:
// when the image directory itself is missing (a switch without atomic
// exchange died between its two renames), the old version is put back;
// every other leftover of a dead process is removed. Leftovers of live
// processes are never touched. Returns one line saying what was done, or ""
// when there was nothing to do.
std::string recoverLeftovers(const std::filesystem::path& dir);

// Whether a live process is switching a new version of `dir` in right now
// (its stage or old version exists beside the image).
bool switchInProgress(const std::filesystem::path& dir);

// The first folder of the image `dir` (itself included) whose entries we
// may not remove, as "PATH: cause"; "" when there is none. The old version is
// deleted after a switch, so every folder of it must allow that.
std::string unwritableFolder(const std::filesystem::path& dir);

// Flushes every file and folder under `root`, and `root` itself, to the
// disk. Throws std::system_error naming the path that failed.
void syncTree(const std::filesystem::path& root);

// Flushes the entries of folder `dir` (after a rename in it).
void syncDir(const std::filesystem::path& dir);

// Puts the complete, synced `stage` in place of `dir` in one step: with an
// atomic exchange where the file system has it, else by renaming the old
// version aside, the stage in, and removing the old one. Throws
// std::system_error when the switch did not happen (`dir` untouched, the
// stage still in place). Once switched, never throws: what cannot be removed
// of the old version is left for the next load to clean.
void switchIn(const std::filesystem::path& stage, const std::filesystem::path& dir);

}  // namespace winsim::store

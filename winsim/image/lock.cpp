// The writers' lock of an image and the check that a writer will be able to
// save it.
#include "winsim/image/image.h"
#include "winsim/image/store.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace winsim {

namespace {

std::string busyText(const fs::path& dir, long holder) {
    std::string who = holder > 0 ? "process " + std::to_string(holder) : "another process";
    return "the machine image " + dir.string() + " is in use by " + who + " (one writer at a time)";
}

// The pid the holder wrote into the lock file. It writes it just after
// taking the lock, so an empty file is read again for a moment.
long readHolder(int fd) {
    for (int i = 0; i < 40; ++i) {
        char buf[32] = {};
        ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
        if (n > 0) {
            long pid = std::strtol(buf, nullptr, 10);
            if (pid > 0) return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

// An exclusive lock on the whole file, owned by the open file (so two opens
// in one process exclude each other too); plain process locks where the
// kernel has no open-file locks.
bool lockFile(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINVAL) return false;
    return ::fcntl(fd, F_SETLK, &fl) == 0;
}

}  // namespace

ImageBusy::ImageBusy(const fs::path& dir, long h) : std::runtime_error(busyText(dir, h)), holder(h) {}

ImageLock::ImageLock(const fs::path& dir) {
    fs::path abs = store::normalized(dir);
    std::error_code ec;
    if (!fs::is_directory(abs.parent_path(), ec))
        throw ImageError(dir.string(), 0, "not a machine image (no such directory)");
    fs::path path = store::lockPath(abs);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw ImageNotWritable("the machine image " + dir.string() + " cannot be written: cannot create the lock file " +
                               path.string() + ": " + std::strerror(errno));
    if (!lockFile(fd)) {
        int err = errno;
        if (err != EAGAIN && err != EACCES) {
            ::close(fd);
            throw ImageNotWritable("the machine image " + dir.string() + " cannot be locked: " + std::strerror(err));
        }
        long holder = readHolder(fd);
        ::close(fd);
        throw ImageBusy(dir, holder);
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != (ssize_t)pid.size()) {
        int err = errno;
        ::close(fd);
        throw ImageNotWritable("the machine image " + dir.string() + " cannot be written: cannot write the lock file " +
                               path.string() + ": " + std::strerror(err));
    }
    fd_ = fd;
}

ImageLock::ImageLock(ImageLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

ImageLock& ImageLock::operator=(ImageLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

ImageLock::~ImageLock() { release(); }

void ImageLock::release() {
    if (fd_ < 0) return;
    // Emptied first, so nobody names a holder that has gone.
    if (::ftruncate(fd_, 0) != 0) {
    }
    ::close(fd_);
    fd_ = -1;
}

void checkImageWritable(const fs::path& dir) {
    fs::path abs = store::normalized(dir);
    auto refuse = [&](const std::string& why) {
        throw ImageNotWritable("the machine image " + dir.string() + " cannot be written: " + why);
    };
    // The old version is deleted after the switch.
    if (std::string bad = store::unwritableFolder(abs); !bad.empty()) refuse(bad);
    // What the save writes anew: the machine state and the registry.
    std::error_code ec;
    std::uintmax_t stateBytes = 0;
    for (fs::recursive_directory_iterator it(abs / "registry", ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) stateBytes += it->file_size();
    stateBytes += fs::file_size(abs / "machine.json", ec);

    // The stage: a folder beside the image with room for the machine state
    // and registry written anew (the drives move in without copying).
    fs::path stage = store::sibling(abs, "save");
    fs::remove_all(stage, ec);
    if (::mkdir(stage.c_str(), 0755) != 0) refuse("cannot create " + stage.string() + ": " + std::strerror(errno));
    fs::path probe = stage / "room";
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        err = ::posix_fallocate(fd, 0, (off_t)(2 * stateBytes + 65536));
        ::close(fd);
    }
    fs::remove_all(stage, ec);
    if (err) refuse("no room for the new version beside it in " + abs.parent_path().string() + ": " + std::strerror(err));
}

}  // namespace winsim

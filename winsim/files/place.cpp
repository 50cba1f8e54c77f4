// Placing a file that a simulated program has written on the host.
#include "winsim/files/ops.h"

#include <windows.h>

namespace fs = std::filesystem;

namespace winsim {

DWORD placeHostFileOp(Machine& m, const fs::path& tmp, std::string_view to, bool replace) {
    std::error_code ec;
    auto drop = [&](DWORD e) {
        fs::remove(tmp, ec);
        return e;
    };
    ResolvedPath d;
    if (DWORD e = resolvePath(m, to, d)) return drop(e);
    if (d.blocked || d.isRoot || (d.exists && d.isDir)) return drop(ERROR_ACCESS_DENIED);
    std::uint64_t oldSize = 0;
    if (d.exists) {
        if (!replace) return drop(ERROR_FILE_EXISTS);
        if (attributesOf(m, d) & FILE_ATTRIBUTE_READONLY) return drop(ERROR_ACCESS_DENIED);
        const FileMeta* f = findMeta(m, d.winPath);
        if (f && f->inUse != InUse::None) return drop(ERROR_SHARING_VIOLATION);
        oldSize = fs::file_size(d.host, ec);
        if (ec) return drop(ERROR_ACCESS_DENIED);
    }
    std::uint64_t size = fs::file_size(tmp, ec);
    if (ec) return drop(ERROR_ACCESS_DENIED);
    if (size > oldSize && !reserveSpace(m, d.drive, size - oldSize)) return drop(ERROR_DISK_FULL);
    fs::rename(tmp, d.host, ec);
    if (ec) {
        if (size > oldSize) releaseSpace(m, d.drive, size - oldSize);
        return drop(ERROR_ACCESS_DENIED);
    }
    if (size < oldSize) releaseSpace(m, d.drive, oldSize - size);
    m.files->meta.erase(d.winPath);
    auto drive = m.drives.find(d.drive);
    if (!d.exists && drive != m.drives.end() && drive->second.fat) m.files->fatOrder[d.winPath] = m.files->nextFatOrder++;
    return 0;
}

}  // namespace winsim

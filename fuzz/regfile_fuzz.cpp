// The REGEDIT4 reader on arbitrary text: it either refuses the text with a
// line and a reason, or what it read goes into a registry, comes out as a
// file again, and that file reads back to the same registry.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"
#include "winsim/image/regfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<winsim::RegFileOp> ops;
    try {
        ops = winsim::parseRegFile(text, "fuzz.reg");
    } catch (const winsim::ImageError& e) {
        if (std::string_view(e.what()).size() > 400) std::abort();
        return 0;
    }
    winsim::Machine first;
    winsim::applyRegFile(*first.registry, ops, 0);
    std::string exported = winsim::exportRegistry(first, "");
    winsim::Machine second;
    winsim::applyRegFile(*second.registry, winsim::parseRegFile(exported, "exported.reg"), 0);
    if (winsim::exportRegistry(second, "") != exported) std::abort();
    return 0;
}

// machine.json on arbitrary text: it is either refused with a reason (a
// JSON pointer for a value at fault), or the machine it describes is
// written out again and that text loads back to the same text.
#include "winsim/core/machine.h"
#include "winsim/image/image.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    winsim::Machine m;
    try {
        winsim::machineFromJsonText(text, m, "/nonexistent/image");
    } catch (const winsim::ImageError& e) {
        if (std::string_view(e.what()).size() > 600) std::abort();
        return 0;
    }
    std::string saved = winsim::machineJsonText(m);
    winsim::Machine again;
    winsim::machineFromJsonText(saved, again, "/nonexistent/image");
    if (winsim::machineJsonText(again) != saved) std::abort();
    return 0;
}

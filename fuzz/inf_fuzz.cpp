// The INF reader on arbitrary text: it either refuses the text with a line
// and a reason, or every section, key and field it kept can be looked up
// again, and every file line carries a size the program can add up.
#include "kit/internal.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    kit::Inf inf;
    kit::InfError err;
    if (!kit::parseInf(text, inf, err)) {
        if (err.line < 1 || err.reason.empty() || err.reason.size() > 300) std::abort();
        return 0;
    }
    for (const kit::InfSection& s : inf.sections) {
        const kit::InfSection* found = inf.section(s.name);
        if (!found) std::abort();
        for (std::uint32_t li : s.lines) {
            const kit::InfLine& l = inf.lines[li];
            const kit::InfLine* again = inf.line(*found, inf.field(l, 0));
            if (!again) std::abort();
            for (unsigned f = 0; f <= l.fieldCount + 1; ++f) (void)inf.field(l, f);
            if (l.fieldCount > 0) {
                std::string size(inf.field(l, 15));
                if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos) std::abort();
                if (std::strtoull(size.c_str(), nullptr, 10) > 2147483647ull) std::abort();
            }
        }
    }
    return 0;
}

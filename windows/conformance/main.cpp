// conformance.exe: runs the conformance cases on a real Win32 (Wine) and
// prints one line per case: "PASS family.name" or "FAIL family.name: why"
// (one line per failed check), then a count. Arguments, when given, are
// family names: only those families run. Exit code 0 when all passed.
#include "conformance/conformance.h"

#include <string.h>

void conformance::onCaseRegistered(const conformance::Case&) {}

int main(int argc, char** argv) {
    int passed = 0, failed = 0;
    for (const conformance::Case& c : conformance::cases()) {
        if (argc > 1) {
            bool wanted = false;
            for (int i = 1; i < argc; ++i) wanted = wanted || strcmp(argv[i], c.family) == 0;
            if (!wanted) continue;
        }
        conformance::failures().clear();
        conformance::resetScratch();
        c.fn();
        conformance::resetScratch();
        if (conformance::failures().empty()) {
            printf("PASS %s.%s\n", c.family, c.name);
            ++passed;
        } else {
            for (const std::string& f : conformance::failures()) printf("FAIL %s.%s: %s\n", c.family, c.name, f.c_str());
            ++failed;
        }
        fflush(stdout);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}

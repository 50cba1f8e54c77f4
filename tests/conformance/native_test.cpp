// Runs every conformance case on fresh simulated machines: Windows NT 3.51
// (x86) and Windows 95, as `winsim new` creates them, with an administrator
// logged on. One test per case and platform.
#include "conformance/conformance.h"

#include "winsim/core/machine.h"
#include "winsim/image/newmachine.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class ConformanceCase : public ::testing::Test {
public:
    ConformanceCase(conformance::CaseFn fn, const char* os) : fn_(fn), os_(os) {}

    void TestBody() override {
        fs::path root = fs::temp_directory_path() / (std::string("conf-") + os_);
        fs::remove_all(root);
        winsim::NewMachineOptions opt;
        opt.os = os_;
        winsim::install(winsim::newMachine(opt, root));
        conformance::failures().clear();
        conformance::resetScratch();
        fn_();
        conformance::resetScratch();
        for (const std::string& f : conformance::failures()) ADD_FAILURE() << f;
        conformance::failures().clear();
    }

private:
    conformance::CaseFn fn_;
    const char* os_;
};

}  // namespace

// Each case becomes one test per platform as it registers, so the tests
// exist before gtest lists them, whatever order the objects start in.
void conformance::onCaseRegistered(const conformance::Case& c) {
    for (const char* os : {"nt351", "win95"}) {
        std::string suite = std::string(c.family) + "_" + os;
        ::testing::RegisterTest(suite.c_str(), c.name, nullptr, nullptr, __FILE__, __LINE__,
                                [fn = c.fn, os]() -> ::testing::Test* { return new ConformanceCase(fn, os); });
    }
}

// What the winsim tests share: a bare machine of a platform in a folder of
// its own, host paths of its drive C:, and the last-error checks.
#pragma once

#include <windows.h>

#include "common.h"
#include "winsim/core/machine.h"
#include "winsim/image/image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace sim {

namespace fs = std::filesystem;

// What the last error is set to before a call, to see whether it set one.
constexpr DWORD kSentinel = 0xdeadbeef;

// NT 3.51 on x86 (the default OsInfo), or Windows 95.
inline winsim::OsInfo os(winsim::Platform platform = winsim::Platform::NT) {
    winsim::OsInfo os;
    os.platform = platform;
    if (platform == winsim::Platform::Win95) os.major = 4, os.minor = 0, os.build = 950;
    return os;
}

// An empty scratch folder named after the running test, plus `tag`.
inline fs::path testDir(const std::string& tag = "") { return common::scratchDir("winsim-", tag); }

// Installs a bare machine with drive C: in <testDir>/C.
inline winsim::Machine& fresh(const winsim::OsInfo& info = os(), const std::string& tag = "") {
    return winsim::install(winsim::makeBareMachine(info, testDir(tag) / "C"));
}
inline winsim::Machine& fresh(winsim::Platform platform) { return fresh(os(platform)); }

// The host path of a Windows path on drive C: of the current machine.
inline fs::path hostPath(const std::string& winPath) {
    fs::path p = winsim::machine().drives.at('C').host;
    std::size_t i = 3;  // after "C:\"
    while (i < winPath.size()) {
        std::size_t j = winPath.find('\\', i);
        if (j == std::string::npos) j = winPath.size();
        p /= winPath.substr(i, j - i);
        i = j + 1;
    }
    return p;
}

inline void putFile(const std::string& winPath, const std::string& content = "x") {
    common::writeText(hostPath(winPath), content);
}
using common::readText;

// What `load` is refused with (the image error's text), or "accepted".
inline std::string refusal(const std::function<void()>& load) {
    try {
        load();
    } catch (const winsim::ImageError& e) {
        return e.what();
    }
    return "accepted";
}

// A test with a bare machine of its own; drive C: is the host folder `c`
// inside the test's scratch folder `root`.
class MachineTest : public ::testing::Test {
protected:
    fs::path root, c;
    void SetUp() override { make(); }
    void make(const winsim::OsInfo& info = os()) {
        root = testDir();
        c = root / "C";
        winsim::install(winsim::makeBareMachine(info, c));
    }
    void make(winsim::Platform platform) { make(os(platform)); }
    void TearDown() override {
        winsim::install(std::make_unique<winsim::Machine>());
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    winsim::Machine& m() { return winsim::machine(); }
    // A file below drive C:, by its host-relative path.
    void hostFile(const fs::path& rel, const std::string& text = "x") { common::writeText(c / rel, text); }
};

}  // namespace sim

// The call returns `result` and leaves `error` as the last error.
#define EXPECT_LASTERROR(call, result, error)                         \
    do {                                                              \
        SetLastError(sim::kSentinel);                                 \
        EXPECT_EQ((call), (result)) << #call;                         \
        EXPECT_EQ(GetLastError(), (DWORD)(error)) << #call;           \
    } while (0)
// The call fails (FALSE or null) and leaves `error` as the last error.
#define EXPECT_FAILS(call, error)                                     \
    do {                                                              \
        SetLastError(sim::kSentinel);                                 \
        EXPECT_FALSE(call) << #call;                                  \
        EXPECT_EQ(GetLastError(), (DWORD)(error)) << #call;           \
    } while (0)

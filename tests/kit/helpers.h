// Shared helpers of the kit tests: host files and a fresh simulated machine
// with the kit reset.
#pragma once

#include "common.h"
#include "winsim/core/handles.h"
#include "winsim/core/machine.h"

#include <setupkit.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kittest {

using common::readText;
using common::writeText;

inline INT startFrame(std::string cmd) { return InitializeFrame(cmd.data()); }

// A bare NT 3.51 machine whose drive C: lives in a fresh folder, the kit as
// before InitializeFrame, and a host folder for the answers file and the log.
class Kit : public testing::Test {
public:
    void SetUp() override {
        KitReset();
        m = &winsim::install(winsim::makeBareMachine(winsim::OsInfo{}, common::scratchDir("kit-") / "c"));
        dir = common::scratchDir("kit-", "-host");
        std::filesystem::create_directories(dir);
    }
    // Every handle a kit call opens is closed again before it returns.
    void TearDown() override { EXPECT_EQ(winsim::openHandleCount(), 0u) << "handles left open"; }
    std::string answers() const { return (dir / "answers.txt").string(); }
    std::string log() const { return readText(dir / "run.log"); }
    // Writes the answers and starts the frame unattended with its log.
    void start(const std::string& text, const std::string& more = "") {
        writeText(dir / "answers.txt", text);
        ASSERT_EQ(startFrame("--answers " + answers() + " --log " + (dir / "run.log").string() + more), 1);
    }
    std::string finish() {  // the log as the run leaves it
        KitLogExit(0);
        return log();
    }
    winsim::Machine* m = nullptr;
    std::filesystem::path dir;
};

}  // namespace kittest

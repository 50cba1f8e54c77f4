// setup killed with SIGKILL at random points of installation runs: after
// every kill the image loads, is the image before the run or the image after
// a complete one, and nothing the dead run left survives that load.
//
// WINSIM_STRESS_KILLS sets the number of kills (default 50; `make stress`
// runs 1000), WINSIM_STRESS_SEED the random seed (printed, to replay a
// failure). Every other run switches images with two renames instead of the
// atomic exchange, as on file systems without it.
#include "image_fixture.h"

#include "winsim/image/image.h"
#include "winsim/image/regfile.h"

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using namespace imagetest;

namespace {

// The machine an image holds, as the loader sees it: its state, its
// registry and every file and folder of its drives.
std::string machineState(const fs::path& dir) {
    auto m = winsim::loadImage(dir);
    std::string state = winsim::machineJsonText(*m) + winsim::exportRegistry(*m, "");
    for (auto& [letter, d] : m->drives)
        for (auto& e : fs::recursive_directory_iterator(d.host))
            state += std::string(1, letter) + ":" + fs::relative(e.path(), d.host).string() + "=" +
                     (e.is_regular_file() ? readText(e.path()) : "<dir>") + "\n";
    winsim::discardWorkingCopy(*m);
    return state;
}

TEST(Stress, SetupKilledAtRandomPointsLeavesTheImageBeforeOrAfter) {
    const char* env = std::getenv("WINSIM_STRESS_KILLS");
    const long kills = env && *env ? std::atol(env) : 50;
    env = std::getenv("WINSIM_STRESS_SEED");
    const unsigned seed = env && *env ? (unsigned)std::atol(env) : std::random_device{}() & 0x7fffffff;
    std::printf("stress: %ld kills, WINSIM_STRESS_SEED=%u\n", kills, seed);
    std::mt19937 random(seed);
    fs::path root = fs::temp_directory_path() / "stress", before = root / "before", after = root / "after", m = root / "m";
    fs::remove_all(root);
    fs::create_directories(root);
    ASSERT_EQ(finish(spawn({"winsim", "new", before.string(), "--os", "nt351", "--arch", "x86", "--user", "admin",
                            "--ps-modules", "driverdir"}, kDist)), 0);
    fs::copy(before, after, fs::copy_options::recursive);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(finish(spawn({"setup", "--machine", after.string(), "--answers", kInstall}, kDist)), 0);
    // How long a whole run takes; lowered whenever a run ends before its
    // kill, so the kills keep landing inside runs on a busy machine too.
    auto us = [](auto d) { return (long)std::chrono::duration_cast<std::chrono::microseconds>(d).count(); };
    long runUs = us(std::chrono::steady_clock::now() - t0);
    const std::string beforeState = machineState(before), afterState = machineState(after);
    ASSERT_NE(beforeState, afterState);
    // Runs go on until `kills` of them were killed; the runs that ended first are checked all the same.
    long killed = 0;
    for (long i = 0; killed < kills; ++i) {
        ASSERT_LT(i, 4 * kills + 20) << "the runs end before they can be killed";
        fs::remove_all(m);
        fs::copy(before, m, fs::copy_options::recursive);
        const bool exchange = i % 2 == 0;
        const long delay = std::uniform_int_distribution<long>(0, runUs * 5 / 4)(random);  // a little past the end too
        const auto started = std::chrono::steady_clock::now(), deadline = started + std::chrono::microseconds(delay);
        pid_t pid = spawn({"setup", "--machine", m.string(), "--answers", kInstall}, kDist, -1, -1, -1, exchange);
        int status = 0, code;
        pid_t done = 0;
        while (!done && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            done = ::waitpid(pid, &status, WNOHANG);
        }
        if (done == pid) {
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            runUs = (3 * runUs + us(std::chrono::steady_clock::now() - started)) / 4;
        } else {
            ::kill(pid, SIGKILL);
            code = finish(pid);
        }
        killed += code == -SIGKILL;
        const std::string where = "run " + std::to_string(i) + ", killed after " + std::to_string(delay) + " us (" +
                                  (exchange ? "exchange" : "two renames") + "), WINSIM_STRESS_SEED=" + std::to_string(seed);
        ASSERT_TRUE(code == 0 || code == -SIGKILL) << where << ": setup ended with " << code;
        ::testing::internal::CaptureStderr();
        std::string state;
        try {
            state = machineState(m);
        } catch (const std::exception& e) {
            state = std::string("does not load: ") + e.what();
        }
        std::string said = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(state == afterState || (code != 0 && state == beforeState))
            << where << ": the image is neither before nor after, or a finished run was lost\n" << state.substr(0, 2000);
        EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << where << ": " << said;
        ASSERT_EQ(othersIn(root, {"before", "after", "m", ".m.lock", ".before.lock", ".after.lock"}), std::vector<std::string>{})
            << where;
    }
    fs::remove_all(root);
}

}  // namespace

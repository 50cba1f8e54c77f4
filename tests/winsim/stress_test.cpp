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

const fs::path kDist = fs::path(SOURCE_ROOT) / "dist";
const std::string kAnswers = (kDist / "answers" / "install-default.ans").string();

long envNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

// Starts a program of build/bin in `cwd`, its output discarded.
pid_t start(const std::vector<std::string>& args, const fs::path& cwd, bool exchange) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (!exchange) ::setenv("WINSIM_RENAME_EXCHANGE", "0", 1);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<std::string> store = args;
        store[0] = std::string(BIN_DIR) + "/" + store[0];
        std::vector<char*> argv;
        for (auto& a : store) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The machine an image holds, as the loader sees it: its state, its
// registry and every file and folder of its drives.
std::string machineState(const fs::path& dir) {
    auto m = winsim::loadImage(dir);
    std::string state = winsim::machineJsonText(*m) + winsim::exportRegistry(*m, "");
    for (auto& [letter, d] : m->drives)
        for (auto& e : fs::recursive_directory_iterator(d.host))
            state += std::string(1, letter) + ":" + fs::relative(e.path(), d.host).string() + "=" +
                     (e.is_regular_file() ? readAll(e.path()) : "<dir>") + "\n";
    winsim::discardWorkingCopy(*m);
    return state;
}

TEST(Stress, SetupKilledAtRandomPointsLeavesTheImageBeforeOrAfter) {
    const long kills = envNumber("WINSIM_STRESS_KILLS", 50);
    const unsigned seed = (unsigned)envNumber("WINSIM_STRESS_SEED", (long)std::random_device{}() & 0x7fffffff);
    std::printf("stress: %ld kills, WINSIM_STRESS_SEED=%u\n", kills, seed);
    std::mt19937 random(seed);

    fs::path root = fs::temp_directory_path() / "stress";
    fs::remove_all(root);
    fs::create_directories(root);
    fs::path before = root / "before", after = root / "after", m = root / "m";
    ASSERT_EQ(finish(start({"winsim", "new", before.string(), "--os", "nt351", "--arch", "x86", "--user", "admin",
                            "--ps-modules", "driverdir"},
                           kDist, true)),
              0);
    // The length of a whole run: the middle one of three.
    std::vector<std::chrono::steady_clock::duration> times;
    for (int i = 0; i < 3; ++i) {
        fs::remove_all(after);
        fs::copy(before, after, fs::copy_options::recursive);
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(finish(start({"setup", "--machine", after.string(), "--answers", kAnswers}, kDist, true)), 0);
        times.push_back(std::chrono::steady_clock::now() - t0);
    }
    std::sort(times.begin(), times.end());
    auto runTime = times[1];
    const std::string beforeState = machineState(before), afterState = machineState(after);
    ASSERT_NE(beforeState, afterState);

    // Kill points spread over the whole run and a little past its end.
    std::uniform_int_distribution<long> delayUs(0, (long)std::chrono::duration_cast<std::chrono::microseconds>(runTime).count() * 5 / 4);
    long rolledBack = 0, completed = 0, finishedFirst = 0;
    for (long i = 0; i < kills; ++i) {
        fs::remove_all(m);
        fs::copy(before, m, fs::copy_options::recursive);
        bool exchange = i % 2 == 0;
        long delay = delayUs(random);
        pid_t pid = start({"setup", "--machine", m.string(), "--answers", kAnswers}, kDist, exchange);
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        ::kill(pid, SIGKILL);
        int code = finish(pid);
        if (code == 0) ++finishedFirst;
        ASSERT_TRUE(code == 0 || code == -SIGKILL) << "kill " << i << ": setup ended with " << code;

        ::testing::internal::CaptureStderr();
        std::string state;
        try {
            state = machineState(m);
        } catch (const std::exception& e) {
            state = std::string("does not load: ") + e.what();
        }
        std::string said = ::testing::internal::GetCapturedStderr();
        std::string where = "kill " + std::to_string(i) + " after " + std::to_string(delay) + " us (" +
                            (exchange ? "exchange" : "two renames") + "), WINSIM_STRESS_SEED=" + std::to_string(seed);
        ASSERT_TRUE(state == beforeState || state == afterState) << where << ": the image is neither before nor after\n"
                                                                 << state.substr(0, 2000);
        if (code == 0) {
            EXPECT_EQ(state, afterState) << where << ": a finished run was lost";
        }
        (state == beforeState ? rolledBack : completed)++;
        EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << where << ": " << said;
        ASSERT_EQ(othersIn(root, {"before", "after", "m", ".m.lock", ".before.lock", ".after.lock"}),
                  std::vector<std::string>{})
            << where;
    }
    std::printf("stress: a run takes %ld us; %ld kills: %ld images as before, %ld as after (%ld runs had ended)\n",
                (long)std::chrono::duration_cast<std::chrono::microseconds>(runTime).count(), kills, rolledBack, completed,
                finishedFirst);
    fs::remove_all(root);
}

}  // namespace

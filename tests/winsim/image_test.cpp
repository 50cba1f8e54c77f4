// Machine images on disk: saves that are all or nothing and switched in at
// once, what interrupted runs leave behind, the writers' lock, and the check
// that an image can be saved before a run starts.
#include "image_fixture.h"

#include "winsim/image/image.h"
#include "winsim/image/newmachine.h"
#include "winsim/image/regfile.h"
#include "winsim/image/store.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;
using namespace imagetest;

namespace {

class Image : public Scratch {
protected:
    // A fresh machine saved as `name`, its computer name and the value
    // HKLM\SOFTWARE\Tag\Name and the file C:\tag.txt all set to `tag`.
    fs::path makeImage(const std::string& name, const std::string& tag) {
        winsim::NewMachineOptions opt;
        auto& m = winsim::install(winsim::newMachine(opt, root / ("scratch-" + name)));
        m.computerName = tag;
        winsim::importRegistry(m, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tag]\n\"Name\"=\"" + tag + "\"\n\n", "tag.reg");
        writeText(m.drives['C'].host / "tag.txt", tag);
        winsim::saveImage(m, root / name);
        fs::remove_all(root / ("scratch-" + name));
        return root / name;
    }
};

TEST_F(Image, FailedSaveLeavesImageAndMachineAsTheyWere) {
    fs::path dir = makeImage("m", "FIRST");
    const auto before = snapshot(dir);
    auto& m = winsim::install(winsim::loadImage(dir));
    // A change to a file of the machine, then a key name REGEDIT4 cannot carry.
    HANDLE f = CreateFileA("C:\\note.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f, "hello", 5, &written, nullptr));
    CloseHandle(f);
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\two\nlines", &k), ERROR_SUCCESS);
    RegCloseKey(k);
    m.computerName = "CHANGED";
    EXPECT_ANY_THROW(winsim::saveImage(m, dir));
    EXPECT_EQ(snapshot(dir), before);
    EXPECT_EQ(othersIn(root, {"m", ".m.work-" + std::to_string(::getpid())}), std::vector<std::string>{});
    // The machine goes on working on its copy, and a later save succeeds,
    // by the atomic exchange and by the two renames of file systems without
    // it alike, leaving nothing beside the image.
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\two\nlines"), ERROR_SUCCESS);
    // Refused once the drives are staged: they are put back as well.
    ASSERT_TRUE(readOnly(dir / "drives" / "C"));
    EXPECT_ANY_THROW(winsim::saveImage(m, dir));
    ASSERT_TRUE(writable(dir / "drives" / "C"));
    EXPECT_NE(GetFileAttributesA("C:\\note.txt"), INVALID_FILE_ATTRIBUTES);
    struct stat work {}, saved {};  // the working copy's drive is moved in, a saved image's drive linked
    ASSERT_EQ(::stat(m.drives['C'].host.c_str(), &work), 0);
    for (const char* exchange : {"1", "0"}) {
        ::setenv("WINSIM_RENAME_EXCHANGE", exchange, 1);
        winsim::saveImage(m, dir);
        ::unsetenv("WINSIM_RENAME_EXCHANGE");
        ASSERT_EQ(::stat((dir / "drives" / "C").c_str(), &saved), 0);
        EXPECT_EQ(saved.st_ino == work.st_ino, *exchange == '1');
        EXPECT_EQ(readText(dir / "drives" / "C" / "note.txt"), "hello");
        EXPECT_NE(readText(dir / "machine.json").find("CHANGED"), std::string::npos);
        EXPECT_EQ(othersIn(root, {"m"}), std::vector<std::string>{});
    }
}

// Each case lays out what a run that died at some point leaves beside the
// image (copies of the image before or after), then loads the image.
TEST_F(Image, LoadCompletesOrRollsBackWhatDeadRunsLeftAndSaysSoInOneLine) {
    fs::path before = makeImage("before", "BEFORE");
    fs::path after = makeImage("after", "AFTER");
    auto beforeState = snapshot(before), afterState = snapshot(after);
    enum Src { Before, After };
    struct Leftover {
        const char* name;  // %d: the pid
        Src from;
    };
    struct Case {
        const char* what;
        bool imageThere;  // else the image folder itself is missing
        Src image;
        std::vector<Leftover> left;
        Src expected;
        const char* said;  // part of the one line on stderr
    };
    const Case cases[] = {
        {"a run's working copy", true, Before, {{".m.work-%d", Before}}, Before, "removed 1 folder left by"},
        {"a stage not switched in", true, Before, {{".m.save-%d", After}}, Before, "removed 1 folder left by"},
        {"switched, the old version not yet removed", true, After, {{".m.save-%d", Before}}, After, "removed 1 folder left by"},
        {"two renames, died between them", false, Before, {{".m.old-%d", Before}, {".m.save-%d", After}}, Before,
         "restored the image from .m.old-"},
        {"winsim new interrupted, and a working copy", true, Before, {{".winsim-new-%d", After}, {".m.work-%d", After}},
         Before, "removed 2 folders left by"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path dir = root / "m";
        fs::remove_all(dir);
        long pid = deadPid();
        if (c.imageThere) fs::copy(c.image == Before ? before : after, dir, fs::copy_options::recursive);
        for (const Leftover& l : c.left) {
            char name[64];
            std::snprintf(name, sizeof name, l.name, (int)pid);
            fs::copy(l.from == Before ? before : after, root / name, fs::copy_options::recursive);
        }
        ::testing::internal::CaptureStderr();
        auto m = winsim::loadImage(dir);
        std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_NE(said.find(std::to_string(pid)), std::string::npos) << said;
        EXPECT_EQ(m->computerName, c.expected == Before ? "BEFORE" : "AFTER");
        winsim::discardWorkingCopy(*m);
        EXPECT_EQ(snapshot(dir), c.expected == Before ? beforeState : afterState);
        EXPECT_EQ(othersIn(root, {"m", "before", "after"}), std::vector<std::string>{});
    }
    for (int newer : {0, 1}) {  // of two old versions the newer is put back, whichever is listed first
        fs::remove_all(root / "m");
        for (int i : {0, 1}) {
            fs::path old = root / (".m.old-" + std::to_string(deadPid()));
            fs::copy(i ? after : before, old, fs::copy_options::recursive);
            fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(i == newer ? 0 : 2));
        }
        EXPECT_EQ(winsim::loadImage(root / "m")->computerName, newer ? "AFTER" : "BEFORE");
    }

    // What a live process has beside the image is its own: left alone, and
    // nothing said; once it has died, the next load removes it.
    LiveProcess live;
    for (const char* kind : {"work", "save", "old"}) {
        fs::copy(before, root / (".m." + std::string(kind) + "-" + std::to_string(live.pid)), fs::copy_options::recursive);
        EXPECT_EQ(winsim::store::switchInProgress(root / "m"), kind[0] != 'w') << kind;  // a saver's, not a run's
    }
    ::testing::internal::CaptureStderr();
    winsim::discardWorkingCopy(*winsim::loadImage(root / "m"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(othersIn(root, {"m", "before", "after"}).size(), 3u);
    ::kill(live.pid, SIGKILL);
    ::waitpid(live.pid, nullptr, 0);
    ::testing::internal::CaptureStderr();
    winsim::discardWorkingCopy(*winsim::loadImage(root / "m"));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("removed 3 folders"), std::string::npos);
    EXPECT_EQ(othersIn(root, {"m", "before", "after"}), std::vector<std::string>{});
}

// A reader loading while a writer switches versions in sees one version
// whole: the computer name, a registry value and a file always agree.
TEST_F(Image, ReaderLoadingDuringSavesSeesOneWholeVersion) {
    fs::path a = makeImage("a", "ALPHA"), b = makeImage("b", "BRAVO");
    fs::path target = makeImage("t", "ALPHA");
    winsim::install(std::make_unique<winsim::Machine>());
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 30; ++i) {
            auto m = winsim::loadImage(i % 2 ? a : b);
            winsim::saveImage(*m, target);
        }
        done = true;
    });
    int loads = 0, torn = 0;
    std::string firstTear;
    while (!done || loads == 0) {
        ++loads;
        try {
            auto m = winsim::loadImage(target);
            std::string name = m->computerName;
            std::string reg = winsim::exportRegistry(*m, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tag");
            std::string file = readText(m->drives['C'].host / "tag.txt");
            winsim::discardWorkingCopy(*m);
            if ((name != "ALPHA" && name != "BRAVO") || reg.find("\"Name\"=\"" + name + "\"") == std::string::npos ||
                file != name)
                throw std::runtime_error("torn: " + name + " / " + reg + " / " + file);
        } catch (const std::exception& e) {
            if (!torn++) firstTear = e.what();
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0) << firstTear;
    EXPECT_EQ(othersIn(root, {"a", "b", "t"}), std::vector<std::string>{});
}

// Where the host lacks a call (ENOSYS) or a flag of it (EINVAL), the save takes the older way; any
// other refusal fails it (a child's kernel refuses the calls; it aborts), the image left alone.
TEST_F(Image, HostsWithoutRenameFlagsOrFlushesFallBackOtherRefusalsFail) {
    const std::pair<std::vector<std::pair<long, int>>, bool> cases[] = {  // refused calls, whether a save works
        {{{SYS_renameat2, ENOSYS}}, true}, {{{SYS_renameat2, EINVAL}}, true}, {{{SYS_renameat2, EPERM}}, false},
        {{{SYS_syncfs, ENOSYS}, {SYS_fsync, EINVAL}}, true}, {{{SYS_syncfs, ENOSYS}, {SYS_fsync, EROFS}}, true},
        {{{SYS_syncfs, ENOSYS}, {SYS_fsync, EIO}}, false}, {{{SYS_syncfs, EIO}}, false}};
    for (const auto& [refused, ok] : cases)
        for (bool imageThere : {true, false}) {
            SCOPED_TRACE(::testing::Message() << refused.back().first << ": " << refused.back().second << imageThere);
            const fs::path dir = root / "m", stage = root / "stage";
            fs::remove_all(dir);
            if (imageThere) writeText(dir / "v", "old");
            writeText(stage / "v", "new");
            pid_t pid = ::fork();
            if (pid == 0) {
                std::vector<sock_filter> f = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
                for (auto [nr, err] : refused)
                    f.insert(f.end(), {BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (__u32)nr, 0, 1),
                                       BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (__u32)err)});
                f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
                sock_fprog prog = {(unsigned short)f.size(), f.data()};
                if (::prctl(PR_SET_DUMPABLE, 0) || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) ||
                    ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog))
                    ::_exit(2);
                [&]() noexcept {
                    winsim::store::syncTree(stage);
                    winsim::store::switchIn(stage, dir);
                }();
                ::_exit(0);
            }
            EXPECT_EQ(finish(pid), ok ? 0 : -SIGABRT);
            EXPECT_EQ(readText(dir / "v"), ok ? "new" : imageThere ? "old" : "");
        }
}

TEST_F(Image, OneWriterHoldsTheLock) {
    fs::path dir = makeImage("m", "M");
    {
        winsim::ImageLock first(dir);
        EXPECT_TRUE(first.held());
        try {
            winsim::ImageLock second(dir);
            ADD_FAILURE() << "a second writer got the lock";
        } catch (const winsim::ImageBusy& e) {
            EXPECT_EQ(e.holder, (long)::getpid());
            EXPECT_NE(std::string(e.what()).find(dir.string() + " is in use by process " + std::to_string(::getpid())),
                      std::string::npos) << e.what();
        }
        // Moved, the lock stays held; released, it is free.
        winsim::ImageLock moved = std::move(first);
        EXPECT_THROW(winsim::ImageLock{dir}, winsim::ImageBusy);
        moved.release();
        EXPECT_TRUE(winsim::ImageLock(dir).held());
    }
    EXPECT_THROW(winsim::ImageLock(root / "no" / "m"), winsim::ImageError);
}

// Each case makes the image or its surroundings refuse the save; the check
// says why before anything is done, and leaves the image as it was.
TEST_F(Image, ImagesThatCannotBeSavedAreRefusedWithTheReason) {
    fs::path dir = makeImage("m", "M");
    auto state = snapshot(dir);
    struct rlimit unlimited {};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    const struct {
        fs::path readOnlyFolder;  // or empty: a file size limit of 1024 bytes instead
        std::string said;
    } cases[] = {
        {dir, dir.string() + ": "},
        {dir / "drives" / "C", (dir / "drives" / "C").string() + ": "},
        {root, "cannot create " + (root / ".m.save-").string()},
        {{}, "no room for the new version beside it"},
    };
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        struct rlimit limit = unlimited;
        limit.rlim_cur = 1024;
        ASSERT_TRUE(c.readOnlyFolder.empty() ? ::setrlimit(RLIMIT_FSIZE, &limit) == 0 : readOnly(c.readOnlyFolder));
        std::string said;
        try {
            winsim::checkImageWritable(dir);
        } catch (const winsim::ImageNotWritable& e) {
            said = e.what();
        }
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        ASSERT_TRUE(c.readOnlyFolder.empty() || writable(c.readOnlyFolder));
        EXPECT_EQ(said.find("the machine image " + dir.string() + " cannot be written: "), 0u) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(snapshot(dir), state);
        EXPECT_EQ(othersIn(root, {"m"}), std::vector<std::string>{});
    }
    std::signal(SIGXFSZ, oldHandler);
    fs::create_directories(winsim::store::sibling(dir, "save") / "room");  // left by a dead run of the same pid
    EXPECT_NO_THROW(winsim::checkImageWritable(dir));
    // A lock is not even taken where nothing can be written.
    ASSERT_TRUE(readOnly(root));
    EXPECT_THROW(winsim::ImageLock(root / "other"), winsim::ImageNotWritable);
    ASSERT_TRUE(writable(root));
    EXPECT_EQ(othersIn(root, {"m"}), std::vector<std::string>{});
}

}  // namespace

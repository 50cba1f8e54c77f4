// Saving a machine image: all or nothing.
#include "winsim/image/image.h"
#include "winsim/image/newmachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ImageSave, FailedSaveLeavesImageAndMachineAsTheyWere) {
    fs::path root = fs::temp_directory_path() / "image-save";
    fs::remove_all(root);
    fs::path dir = root / "m";
    {
        winsim::NewMachineOptions opt;
        auto& m = winsim::install(winsim::newMachine(opt, root / "scratch"));
        winsim::saveImage(m, dir);
    }
    std::string json = readAll(dir / "machine.json");
    auto& m = winsim::install(winsim::loadImage(dir));

    // A change to a file of the machine, then a key name REGEDIT4 cannot carry.
    HANDLE f = CreateFileA("C:\\note.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f, "hello", 5, &written, nullptr));
    CloseHandle(f);
    HKEY k;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\two\nlines", &k), ERROR_SUCCESS);
    RegCloseKey(k);
    m.computerName = "CHANGED";

    EXPECT_ANY_THROW(winsim::saveImage(m, dir));
    EXPECT_EQ(readAll(dir / "machine.json"), json);
    EXPECT_FALSE(fs::exists(dir / "drives" / "C" / "note.txt"));
    for (auto& e : fs::directory_iterator(root))
        EXPECT_EQ(e.path().filename().string().find(".save-"), std::string::npos) << e.path();

    // The machine goes on working on its copy, and a later save succeeds.
    DWORD attrs = GetFileAttributesA("C:\\note.txt");
    EXPECT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\two\nlines"), ERROR_SUCCESS);
    winsim::saveImage(m, dir);
    EXPECT_EQ(readAll(dir / "drives" / "C" / "note.txt"), "hello");
    EXPECT_NE(readAll(dir / "machine.json").find("CHANGED"), std::string::npos);
    fs::remove_all(root);
}

}  // namespace

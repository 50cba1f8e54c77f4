// Entry point of every test program. Each program (CTest runs one per test)
// gets a private temporary directory, so tests that run in parallel never
// share scratch folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    std::string base = std::filesystem::temp_directory_path().string() + "/vtest-XXXXXX";
    char* dir = mkdtemp(base.data());
    if (dir) setenv("TMPDIR", dir, 1);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    if (dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return rc;
}

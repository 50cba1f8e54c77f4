// The Files subkey and the version key: their values, the date text, and a
// key the registry refuses ending setup with its message.
#include <gtest/gtest.h>

#include "install/fixture.h"
#include "install/records.h"

namespace {

using namespace installtest;

std::string readSz(const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char data[600] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG e = RegQueryValueExA(key, name, nullptr, &type, (LPBYTE)data, &size);
    RegCloseKey(key);
    if (e != ERROR_SUCCESS || type != REG_SZ) return "<no value>";
    return std::string(data) + "|" + std::to_string(size);
}

TEST(RegistryRecords, FilesKeyAndVersionKeyHoldTheirTexts) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        SetFilesKeyInfo(FILES_KEY_PATH, "C:\\win32app\\vrdpsmon");
        SetVersionInfo(VERSION_KEY_PATH);
        for (const char* name : {"Mgmt Sess Key", "Root"})
            harness::report("%s=%s", name, readSz(FILES_KEY_PATH, name).c_str());
        for (const char* name : {"Title", "Software Type", "Installation Version", "Description", "Version Installed",
                                 "Install Date"})
            harness::report("%s=%s", name, readSz(VERSION_KEY_PATH, name).c_str());
        return 0;
    });
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.value("Mgmt Sess Key"), "mqtv42|7");
    EXPECT_EQ(r.value("Root"), "C:\\win32app\\vrdpsmon|21");
    EXPECT_EQ(r.value("Title"), "Quillar for Windows|20");
    EXPECT_EQ(r.value("Software Type"), "Print Monitor|14");
    EXPECT_EQ(r.value("Installation Version"), "V5.1-11i|9");
    EXPECT_EQ(r.value("Description"), "Native support for Varden's network printers|45");
    EXPECT_EQ(r.value("Version Installed"), "V5.1-1|7");
    std::string date = r.value("Install Date");
    ASSERT_EQ(date.size(), 23u) << date;  // 20 characters, "|21"
    EXPECT_EQ(date.substr(20), "|21");
}

TEST(RegistryRecords, DateTextIsAlwaysTwentyCharacters) {
    struct Row {
        SYSTEMTIME time;
        const char* text;
    } rows[] = {
        {{1996, 3, 2, 5, 14, 7, 9, 0}, "05-Mar-1996 14:07:09"},
        {{2026, 12, 1, 31, 23, 59, 59, 0}, "31-Dec-2026 23:59:59"},
        {{1995, 1, 0, 1, 0, 0, 0, 0}, "01-Jan-1995 00:00:00"},
        {{1999, 13, 0, 1, 0, 0, 0, 0}, "01-\?\?\?-1999 00:00:00"},  // no month beyond the table
    };
    for (const auto& row : rows) {
        char text[32];
        FormatInstallDate(row.time, text, sizeof text);
        EXPECT_STREQ(text, row.text);
    }
}

TEST(RegistryRecords, SecondRunOverwritesTheDate) {
    Harness h;
    ChildResult r = h.run("", [](LPSTR) {
        SetVersionInfo(VERSION_KEY_PATH);
        std::string first = readSz(VERSION_KEY_PATH, "Install Date");
        winsim::advance(61 * 1000);
        SetVersionInfo(VERSION_KEY_PATH);
        harness::report("changed=%d", first != readSz(VERSION_KEY_PATH, "Install Date"));
        return 0;
    });
    EXPECT_EQ(r.value("changed"), "1") << r.output;
}

// A key the registry refuses ends setup with the record's message.
TEST(RegistryRecords, RefusedKeyEndsSetupWithItsMessage) {
    struct Row {
        bool files;
        const char* message;
    } rows[] = {
        {true, "error Unable to access Registry to set files subkey, error = 5.  Please restart to a clean system "
               "before re-running this program."},
        {false, "error Unable to access Registry to set version, error = 5.  Please restart to a clean system "
                "before re-running this program."},
    };
    for (const auto& row : rows) {
        Harness h;
        failNext("RegCreateKeyExA", 0, ERROR_ACCESS_DENIED);
        bool files = row.files;
        ChildResult r = h.run("2300 CONTINUE\n", [files](LPSTR) {
            if (files)
                SetFilesKeyInfo(FILES_KEY_PATH, "C:\\x");
            else
                SetVersionInfo(VERSION_KEY_PATH);
            harness::report("returned=1");
            return 0;
        });
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.value("returned"), "");
        EXPECT_EQ(r.lines("error"), (std::vector<std::string>{row.message}));
    }
}

}  // namespace

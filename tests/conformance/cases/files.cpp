// File cases: errors of delete, move, copy and directory calls, attributes
// and finding files.
#include "conformance/conformance.h"

#include <string>

using conformance::isWin95;

namespace {

// A path in the scratch directory, which is made when first asked for.
std::string at(const char* name) {
    CreateDirectoryA(conformance::scratchDir().c_str(), nullptr);
    return conformance::scratchDir() + (*name ? "\\" : "") + name;
}

bool writeFile(const char* name, const char* text) {
    HANDLE h = CreateFileA(at(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, text, lstrlenA(text), &written, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

// Two files, a.txt and b.txt, for the calls that meet an existing target.
void twoFiles() {
    CHECK_TRUE(writeFile("a.txt", "a"));
    CHECK_TRUE(writeFile("b.txt", "b"));
}

}  // namespace

CASE(files, delete_errors) {
    CHECK_FAILS(DeleteFileA(at("missing.txt").c_str()), FALSE, ERROR_FILE_NOT_FOUND);
    CHECK_FAILS(DeleteFileA(at("nodir\\missing.txt").c_str()), FALSE, ERROR_PATH_NOT_FOUND);
    CHECK_EQ(CreateDirectoryA(at("sub").c_str(), nullptr), TRUE);
    CHECK_FAILS(DeleteFileA(at("sub").c_str()), FALSE, ERROR_ACCESS_DENIED);
}

CASE(files, directory_errors) {
    CHECK_FAILS(CreateDirectoryA(at("").c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS);
    CHECK_FAILS(CreateDirectoryA(at("a\\b").c_str(), nullptr), FALSE, ERROR_PATH_NOT_FOUND);
    CHECK_EQ(CreateDirectoryA(at("full").c_str(), nullptr), TRUE);
    CHECK_TRUE(writeFile("full\\a.txt", "a"));
    CHECK_FAILS(RemoveDirectoryA(at("full").c_str()), FALSE, ERROR_DIR_NOT_EMPTY);
    CHECK_FAILS(RemoveDirectoryA(at("none").c_str()), FALSE, ERROR_FILE_NOT_FOUND);
}

CASE(files, move_and_copy_errors) {
    twoFiles();
    CHECK_FAILS(MoveFileA(at("a.txt").c_str(), at("b.txt").c_str()), FALSE, ERROR_ALREADY_EXISTS);
    CHECK_FAILS(MoveFileA(at("none.txt").c_str(), at("b.txt").c_str()), FALSE, ERROR_FILE_NOT_FOUND);
    CHECK_FAILS(CopyFileA(at("a.txt").c_str(), at("b.txt").c_str(), TRUE), FALSE, ERROR_FILE_EXISTS);
    CHECK_EQ(CopyFileA(at("a.txt").c_str(), at("b.txt").c_str(), FALSE), TRUE);
    CHECK_FAILS(CopyFileA(at("none.txt").c_str(), at("c.txt").c_str(), FALSE), FALSE, ERROR_FILE_NOT_FOUND);
}

CASE(files, move_replace_existing) {
    twoFiles();
    SetLastError(0xdeadbeef);
    BOOL ok = MoveFileExA(at("a.txt").c_str(), at("b.txt").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (isWin95()) {
        CHECK_EQ(ok, FALSE);
        CHECK_ERROR(ERROR_CALL_NOT_IMPLEMENTED);
    } else {
        CHECK_EQ(ok, TRUE);
        CHECK_EQ(GetFileAttributesA(at("a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

CASE(files, missing_file) {
    CHECK_FAILS(GetFileAttributesA(at("none.txt").c_str()), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND);
    CHECK_TRUE((GetFileAttributesA(at("").c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
    CHECK_FAILS(CreateFileA(at("none.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    char shortName[MAX_PATH];  // the error differs between versions
    CHECK_EQ(GetShortPathNameA(at("none\\none.txt").c_str(), shortName, MAX_PATH), 0);
}

CASE(files, find_errors) {
    WIN32_FIND_DATAA found;
    CHECK_EQ(CreateDirectoryA(at("empty").c_str(), nullptr), TRUE);
    CHECK_FAILS(FindFirstFileA(at("empty\\*.txt").c_str(), &found), INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
    CHECK_FAILS(FindFirstFileA(at("none\\*").c_str(), &found), INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    CHECK_TRUE(writeFile("only.txt", "x"));
    HANDLE h = FindFirstFileA(at("*.txt").c_str(), &found);
    CHECK_TRUE(h != INVALID_HANDLE_VALUE);
    if (h == INVALID_HANDLE_VALUE) return;
    CHECK_STR(found.cFileName, "only.txt");
    CHECK_FAILS(FindNextFileA(h, &found), FALSE, ERROR_NO_MORE_FILES);
    FindClose(h);
}

CASE(files, delete_open_file) {
    CHECK_TRUE(writeFile("busy.txt", "x"));
    HANDLE h = CreateFileA(at("busy.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK_TRUE(h != INVALID_HANDLE_VALUE);
    CHECK_FAILS(DeleteFileA(at("busy.txt").c_str()), FALSE, isWin95() ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// File cases: errors of delete, move, copy and directory calls, attributes
// and finding files.
#include "conformance/conformance.h"

#include <string>

using conformance::isWin95;
using conformance::scratchDir;

namespace {

std::string scratch(const char* name) { return scratchDir() + "\\" + name; }

bool writeFile(const std::string& path, const char* text) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, text, lstrlenA(text), &written, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

void makeScratch() { CreateDirectoryA(scratchDir().c_str(), nullptr); }

}  // namespace

CASE(files, delete_missing) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(DeleteFileA(scratch("missing.txt").c_str()), FALSE);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
}

CASE(files, delete_in_missing_directory) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(DeleteFileA(scratch("nodir\\missing.txt").c_str()), FALSE);
    CHECK_ERROR(ERROR_PATH_NOT_FOUND);
}

CASE(files, delete_directory_with_deletefile) {
    makeScratch();
    CHECK_EQ(CreateDirectoryA(scratch("sub").c_str(), nullptr), TRUE);
    SetLastError(0xdeadbeef);
    CHECK_EQ(DeleteFileA(scratch("sub").c_str()), FALSE);
    CHECK_ERROR(ERROR_ACCESS_DENIED);
}

CASE(files, create_existing_directory) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(CreateDirectoryA(scratchDir().c_str(), nullptr), FALSE);
    CHECK_ERROR(ERROR_ALREADY_EXISTS);
}

CASE(files, create_directory_missing_parent) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(CreateDirectoryA(scratch("a\\b").c_str(), nullptr), FALSE);
    CHECK_ERROR(ERROR_PATH_NOT_FOUND);
}

CASE(files, remove_nonempty_directory) {
    makeScratch();
    CHECK_EQ(CreateDirectoryA(scratch("full").c_str(), nullptr), TRUE);
    CHECK_TRUE(writeFile(scratch("full\\a.txt"), "a"));
    SetLastError(0xdeadbeef);
    CHECK_EQ(RemoveDirectoryA(scratch("full").c_str()), FALSE);
    CHECK_ERROR(ERROR_DIR_NOT_EMPTY);
}

CASE(files, remove_missing_directory) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(RemoveDirectoryA(scratch("none").c_str()), FALSE);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
}

CASE(files, move_onto_existing) {
    makeScratch();
    CHECK_TRUE(writeFile(scratch("a.txt"), "a"));
    CHECK_TRUE(writeFile(scratch("b.txt"), "b"));
    SetLastError(0xdeadbeef);
    CHECK_EQ(MoveFileA(scratch("a.txt").c_str(), scratch("b.txt").c_str()), FALSE);
    CHECK_ERROR(ERROR_ALREADY_EXISTS);
}

CASE(files, move_missing_source) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(MoveFileA(scratch("none.txt").c_str(), scratch("b.txt").c_str()), FALSE);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
}

CASE(files, move_replace_existing) {
    makeScratch();
    CHECK_TRUE(writeFile(scratch("a.txt"), "a"));
    CHECK_TRUE(writeFile(scratch("b.txt"), "b"));
    SetLastError(0xdeadbeef);
    BOOL ok = MoveFileExA(scratch("a.txt").c_str(), scratch("b.txt").c_str(), MOVEFILE_REPLACE_EXISTING);
    if (isWin95()) {
        CHECK_EQ(ok, FALSE);
        CHECK_ERROR(ERROR_CALL_NOT_IMPLEMENTED);
    } else {
        CHECK_EQ(ok, TRUE);
        CHECK_EQ(GetFileAttributesA(scratch("a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

CASE(files, copy_fail_if_exists) {
    makeScratch();
    CHECK_TRUE(writeFile(scratch("a.txt"), "a"));
    CHECK_TRUE(writeFile(scratch("b.txt"), "b"));
    SetLastError(0xdeadbeef);
    CHECK_EQ(CopyFileA(scratch("a.txt").c_str(), scratch("b.txt").c_str(), TRUE), FALSE);
    CHECK_ERROR(ERROR_FILE_EXISTS);
    CHECK_EQ(CopyFileA(scratch("a.txt").c_str(), scratch("b.txt").c_str(), FALSE), TRUE);
}

CASE(files, copy_missing_source) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(CopyFileA(scratch("none.txt").c_str(), scratch("b.txt").c_str(), FALSE), FALSE);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
}

CASE(files, attributes_of_missing) {
    makeScratch();
    SetLastError(0xdeadbeef);
    CHECK_EQ(GetFileAttributesA(scratch("none.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
    CHECK_TRUE((GetFileAttributesA(scratchDir().c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
}

CASE(files, find_in_empty_directory) {
    makeScratch();
    CHECK_EQ(CreateDirectoryA(scratch("empty").c_str(), nullptr), TRUE);
    WIN32_FIND_DATAA found;
    SetLastError(0xdeadbeef);
    CHECK_TRUE(FindFirstFileA(scratch("empty\\*.txt").c_str(), &found) == INVALID_HANDLE_VALUE);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
}

CASE(files, find_in_missing_directory) {
    makeScratch();
    WIN32_FIND_DATAA found;
    SetLastError(0xdeadbeef);
    CHECK_TRUE(FindFirstFileA(scratch("none\\*").c_str(), &found) == INVALID_HANDLE_VALUE);
    CHECK_ERROR(ERROR_PATH_NOT_FOUND);
}

CASE(files, find_end_of_list) {
    makeScratch();
    CHECK_TRUE(writeFile(scratch("only.txt"), "x"));
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(scratch("*.txt").c_str(), &found);
    CHECK_TRUE(h != INVALID_HANDLE_VALUE);
    if (h == INVALID_HANDLE_VALUE) return;
    CHECK_STR(found.cFileName, "only.txt");
    SetLastError(0xdeadbeef);
    CHECK_EQ(FindNextFileA(h, &found), FALSE);
    CHECK_ERROR(ERROR_NO_MORE_FILES);
    FindClose(h);
}

CASE(files, open_missing_for_reading) {
    makeScratch();
    SetLastError(0xdeadbeef);
    HANDLE h = CreateFileA(scratch("none.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK_TRUE(h == INVALID_HANDLE_VALUE);
    CHECK_ERROR(ERROR_FILE_NOT_FOUND);
}

CASE(files, delete_open_file) {
    makeScratch();
    CHECK_TRUE(writeFile(scratch("busy.txt"), "x"));
    HANDLE h = CreateFileA(scratch("busy.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK_TRUE(h != INVALID_HANDLE_VALUE);
    SetLastError(0xdeadbeef);
    CHECK_EQ(DeleteFileA(scratch("busy.txt").c_str()), FALSE);
    CHECK_ERROR(isWin95() ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

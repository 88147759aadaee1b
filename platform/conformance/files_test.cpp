// Files, folders, listings and the current directory as Windows handles
// them, in a scratch folder.
#include <string>
#include <vector>

#include "platform/conformance/testing/conformance.h"

namespace {

using namespace win32_files;
using conformance::WineDeviates;
using NameList = std::vector<std::wstring>;

class FileTest : public conformance::ConformanceTest {};

TEST_F(FileTest, CreateReadWriteAndTheErrorsOfOpening) {
    HANDLE file = CreateFileW(Scratch(L"a.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, CloseHandle(file));

    // Opening for appending reports the file that was there; the end is where writing goes on.
    file = CreateFileW(Scratch(L"a.txt").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError());
    DWORD high = 0xdeadbeef;
    EXPECT_EQ(5u, GetFileSize(file, &high));
    EXPECT_EQ(0u, high);
    char start[2] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, start, 2, &read, nullptr));
    EXPECT_EQ("he", std::string(start, read));
    EXPECT_EQ(5u, SetFilePointer(file, 0, nullptr, FILE_END));
    ASSERT_TRUE(WriteFile(file, " you", 4, &written, nullptr));
    ASSERT_TRUE(ReadFile(file, start, 2, &read, nullptr));
    EXPECT_EQ(0u, read);  // at the end ReadFile succeeds with nothing
    CloseHandle(file);
    EXPECT_EQ("hello you", ReadWholeFile(Scratch(L"a.txt")));
    // A handle opened for reading takes no writes.
    file = CreateFileW(Scratch(L"a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, WriteFile(file, "x", 1, &written, nullptr));
    CloseHandle(file);
    // The size a handle tells is the file's now, also after a write through another handle.
    file = CreateFileW(Scratch(L"a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    HANDLE other = CreateFileW(Scratch(L"a.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(WriteFile(other, "!", 1, &written, nullptr));
    EXPECT_EQ(10u, GetFileSize(file, nullptr));
    CloseHandle(other);
    CloseHandle(file);

    file = CreateFileW(Scratch(L"a.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError());
    CloseHandle(file);
    EXPECT_EQ("", ReadWholeFile(Scratch(L"a.txt")));

    struct {
        std::wstring path;
        DWORD disposition, error;
    } cases[] = {
        {Scratch(L"none.txt"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {Scratch(L"no\\none.txt"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {Scratch(L"no\\new.txt"), CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {Scratch(L"a.txt"), CREATE_NEW, ERROR_FILE_EXISTS},
        {ScratchFolder(), OPEN_EXISTING, ERROR_ACCESS_DENIED},  // a folder, not a file
    };
    for (const auto& c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  CreateFileW(c.path.c_str(), GENERIC_READ, 0, nullptr, c.disposition, 0, nullptr));
        EXPECT_EQ(c.error, GetLastError()) << testing::PrintToString(c.path);
    }
}

TEST_F(FileTest, ListingsMatchWildcardsIgnoringCaseWithDotEntries) {
    for (const wchar_t* name : {L"b.txt", L"A.txt", L"_under", L"Zeta", L"c.doc", L"noext", L"ab.TXT", L"x.tar.gz"})
        ASSERT_TRUE(WriteNewFile(Scratch(name), ""));
    ASSERT_TRUE(CreateDirectoryW(Scratch(L"Sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Scratch(L"Empty").c_str(), nullptr));

    // NTFS lists names by their upper-case forms, so "_" (after "Z") comes last.
    if (!WineDeviates("FindNextFileW lists in the host file system's order, not NTFS's")) {
        EXPECT_EQ((NameList{L".", L"..", L"A.txt", L"ab.TXT", L"b.txt", L"c.doc", L"Empty", L"noext", L"Sub",
                         L"x.tar.gz", L"Zeta", L"_under"}),
                  Names(Scratch(L"*")));
        EXPECT_EQ((NameList{L"A.txt", L"ab.TXT", L"b.txt"}), Names(Scratch(L"*.txt")));
    }
    EXPECT_EQ((NameList{L".", L".."}), Names(Scratch(L"Empty\\*.*")));
    EXPECT_EQ((NameList{L"c.doc"}), Names(Scratch(L"?.DoC")));
    EXPECT_EQ((NameList{L"noext"}), Names(Scratch(L"noext.*")));
    EXPECT_EQ((NameList{L"x.tar.gz"}), Names(Scratch(L"*.gz")));
    EXPECT_EQ((NameList{L"Zeta"}), Names(Scratch(L"zeta")));  // one name, spelt as stored

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Scratch(L"sub").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_DIRECTORY}, data.dwFileAttributes);
    EXPECT_TRUE(FindClose(find));

    struct {
        const wchar_t* pattern;
        DWORD error;
    } cases[] = {
        {L"nothing.txt", ERROR_FILE_NOT_FOUND},
        {L"*.xls", ERROR_FILE_NOT_FOUND},
        {L"Sub\\", ERROR_FILE_NOT_FOUND},
        {L"Missing\\*.*", ERROR_PATH_NOT_FOUND},
        {L"Missing\\Deeper\\x", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return FindFirstFileW(Scratch(c.pattern).c_str(), &data) != INVALID_HANDLE_VALUE; }))
            << testing::PrintToString(std::wstring(c.pattern));
}

TEST_F(FileTest, CopyKeepsTheTargetsNameAndRefusesWhatItCannotDo) {
    ASSERT_TRUE(WriteNewFile(Scratch(L"src.txt"), "source"));
    ASSERT_TRUE(WriteNewFile(Scratch(L"dest.txt"), "old"));
    ASSERT_TRUE(CreateDirectoryW(Scratch(L"Folder").c_str(), nullptr));
    EXPECT_FAILS_WITH(ERROR_FILE_EXISTS, CopyFileW(Scratch(L"src.txt").c_str(), Scratch(L"DEST.TXT").c_str(), TRUE));
    EXPECT_EQ("old", ReadWholeFile(Scratch(L"dest.txt")));
    ASSERT_TRUE(CopyFileW(Scratch(L"src.txt").c_str(), Scratch(L"DEST.TXT").c_str(), FALSE));
    EXPECT_EQ("source", ReadWholeFile(Scratch(L"dest.txt")));
    EXPECT_EQ((NameList{L"dest.txt"}), Names(Scratch(L"dest.*")));

    WIN32_FIND_DATAW source, copy;
    FindClose(FindFirstFileW(Scratch(L"src.txt").c_str(), &source));
    FindClose(FindFirstFileW(Scratch(L"dest.txt").c_str(), &copy));
    EXPECT_EQ(Ticks(source.ftLastWriteTime), Ticks(copy.ftLastWriteTime));

    struct {
        const wchar_t *source, *target;
        DWORD error;
    } cases[] = {
        {L"none.txt", L"copy.txt", ERROR_FILE_NOT_FOUND},
        {L"NoFolder\\none.txt", L"copy.txt", ERROR_PATH_NOT_FOUND},
        {L"src.txt", L"NoFolder\\copy.txt", ERROR_PATH_NOT_FOUND},
        {L"Folder", L"copy.txt", ERROR_ACCESS_DENIED},
        {L"src.txt", L"Folder", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return CopyFileW(Scratch(c.source).c_str(), Scratch(c.target).c_str(), FALSE); }))
            << testing::PrintToString(std::wstring(c.source)) << " -> " << testing::PrintToString(std::wstring(c.target));
    EXPECT_EQ(NameList{}, Names(Scratch(L"copy.txt")));

    // The attributes go with the bytes.
    ASSERT_TRUE(SetFileAttributesW(Scratch(L"src.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(CopyFileW(Scratch(L"src.txt").c_str(), Scratch(L"hidden.txt").c_str(), TRUE));
    EXPECT_TRUE(GetFileAttributesW(Scratch(L"hidden.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

// An open file lets other opens, moves and deletes do only what its share
// mode allows; asking for attributes alone clashes with nothing.
TEST_F(FileTest, AnOpenFileSharesOnlyWhatItsOpenAllows) {
    const std::wstring held = Scratch(L"held.txt"), other = Scratch(L"other.txt"), moved = Scratch(L"moved.txt");
    ASSERT_TRUE(WriteNewFile(held, "kept"));
    ASSERT_TRUE(WriteNewFile(other, "other"));
    HANDLE file = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    struct {
        DWORD access, share, disposition, error;
    } opens[] = {
        {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, ERROR_SUCCESS},
        {GENERIC_READ, FILE_SHARE_WRITE, OPEN_EXISTING, ERROR_SHARING_VIOLATION},  // the held open reads
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
        {FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
        {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING, ERROR_SUCCESS},
    };
    for (const auto& c : opens) {
        SCOPED_TRACE(testing::Message() << std::hex << "access " << c.access << " share " << c.share);
        SetLastError(0xdeadbeef);
        HANDLE second = CreateFileW(held.c_str(), c.access, c.share, nullptr, c.disposition, 0, nullptr);
        EXPECT_EQ(c.error, c.error ? GetLastError() : ERROR_SUCCESS);
        EXPECT_EQ(c.error != ERROR_SUCCESS, second == INVALID_HANDLE_VALUE);
        if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    }
    EXPECT_FAILS_WITH(ERROR_SHARING_VIOLATION, DeleteFileW(held.c_str()));
    EXPECT_FAILS_WITH(ERROR_SHARING_VIOLATION, MoveFileExW(held.c_str(), moved.c_str(), 0));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, MoveFileExW(other.c_str(), held.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("kept", ReadWholeFile(held));
    EXPECT_EQ("other", ReadWholeFile(other));
    CloseHandle(file);

    // Closed, it is free again; a move that changes only the case renames it.
    ASSERT_TRUE(MoveFileExW(held.c_str(), moved.c_str(), 0));
    ASSERT_TRUE(MoveFileExW(moved.c_str(), Scratch(L"MOVED.txt").c_str(), 0));
    if (!WineDeviates("MoveFileExW to a name differing only in case keeps the old spelling"))
        EXPECT_EQ(NameList{L"MOVED.txt"}, Names(Scratch(L"moved.*")));
    // A move over a file spelled in another case replaces it: one file is left.
    ASSERT_TRUE(MoveFileExW(other.c_str(), Scratch(L"Moved.TXT").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(1u, Names(Scratch(L"moved.*")).size());
    EXPECT_EQ("other", ReadWholeFile(moved));
    EXPECT_TRUE(DeleteFileW(moved.c_str()));
}

TEST_F(FileTest, FoldersTheirAttributesAndTheCurrentDirectory) {
    ASSERT_TRUE(CreateDirectoryW(Scratch(L"Sub").c_str(), nullptr));
    ASSERT_TRUE(WriteNewFile(Scratch(L"file.txt"), "x"));
    EXPECT_FAILS_WITH(ERROR_ALREADY_EXISTS, CreateDirectoryW(Scratch(L"SUB").c_str(), nullptr));
    EXPECT_FAILS_WITH(ERROR_ALREADY_EXISTS, CreateDirectoryW(Scratch(L"file.txt").c_str(), nullptr));
    EXPECT_FAILS_WITH(ERROR_PATH_NOT_FOUND, CreateDirectoryW(Scratch(L"Missing\\Child").c_str(), nullptr));
    EXPECT_FAILS_WITH(ERROR_PATH_NOT_FOUND, CreateDirectoryW(L"", nullptr));

    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_DIRECTORY}, GetFileAttributesW(Scratch(L"sub").c_str()));
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_ARCHIVE}, GetFileAttributesW(Scratch(L"FILE.TXT").c_str()));
    EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, GetFileAttributesW(Scratch(L"new.txt").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_FAILS_WITH(ERROR_PATH_NOT_FOUND,
                      GetFileAttributesW(Scratch(L"None\\new.txt").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_FAILS_WITH(ERROR_PATH_NOT_FOUND, GetFileAttributesW(L"") != INVALID_FILE_ATTRIBUTES);
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_FAILS_WITH(ERROR_PATH_NOT_FOUND, GetFileAttributesExW(L"", GetFileExInfoStandard, &data));
    ASSERT_TRUE(GetFileAttributesExW(Scratch(L"FILE.TXT").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_ARCHIVE}, data.dwFileAttributes);

    // The current directory anchors relative paths.
    ASSERT_TRUE(SetCurrentDirectoryW(Scratch(L"Sub").c_str()));
    WCHAR buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(Scratch(L"Sub"), std::wstring(buffer, length));
    // Too small a buffer reports the size needed, NUL included.
    EXPECT_EQ(length + 1, GetCurrentDirectoryW(length, buffer));
    EXPECT_EQ(length + 1, GetCurrentDirectoryW(0, nullptr));

    HANDLE file = CreateFileW(L"..\\Sub\\rel.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_EQ((NameList{L"rel.txt"}), Names(Scratch(L"Sub\\*.txt")));
    ASSERT_TRUE(CreateDirectoryW(L"Made", nullptr));
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_DIRECTORY}, GetFileAttributesW(Scratch(L"Sub\\Made").c_str()));

    EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, SetCurrentDirectoryW(L"missing"));
    EXPECT_FAILS_WITH(ERROR_DIRECTORY, SetCurrentDirectoryW(Scratch(L"file.txt").c_str()));
    length = GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(Scratch(L"Sub"), std::wstring(buffer, length));  // unchanged by a failure
}

}  // namespace

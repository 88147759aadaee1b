// The simulated file calls' own side: drives of the world's machines,
// network paths, attributes, times and sizes kept beside or taken from the
// host, volumes, long paths, inherited security, and what is refused on paths
// of the host. What the calls do on one folder is stated in
// platform/conformance/files_test.cpp.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/testing/win32_files.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

using namespace win32_files;
using NameList = std::vector<std::wstring>;

constexpr DWORD kFailed = 0x80000000u;

// SRV01 is the local machine with drives C and D; SRV02 is a second server.
// D:\Attr is empty, D:\Logs holds run.log, D:\Ops holds a folder Sub and
// four files, hidden.txt hidden and ro.txt read-only.
class FilesTest : public sim::SimWorldTest {
protected:
    void SetUp() override {
        SimWorldTest::SetUp();
        SetLocalMachine(L"SRV01");
        AddMachine(L"SRV02");
        AddDirectory(L"SRV01", L"D:\\");
        AddDirectory(L"SRV02", L"D:\\");
        AddFile(L"SRV01", L"D:\\Logs\\run.log", "one");
        ASSERT_TRUE(CreateDirectoryW(kRoot, nullptr));
        ASSERT_TRUE(CreateDirectoryW(L"D:\\Ops", nullptr));
        ASSERT_TRUE(CreateDirectoryW(L"D:\\Ops\\Sub", nullptr));
        for (const wchar_t* name : {L"src.txt", L"hidden.txt", L"ro.txt", L"plain.txt"})
            ASSERT_TRUE(WriteNewFile(std::wstring(L"D:\\Ops\\") + name, corvan::ToUtf8(name)));
        ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\hidden.txt", FILE_ATTRIBUTE_HIDDEN));
        ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\ro.txt", FILE_ATTRIBUTE_READONLY));
    }
    static constexpr const wchar_t* kRoot = L"D:\\Attr";
    static std::wstring At(const std::wstring& name) { return std::wstring(kRoot) + L"\\" + name; }

    WIN32_FIND_DATAW Found(const std::wstring& path) {
        WIN32_FIND_DATAW data;
        std::memset(&data, 0xAB, sizeof data);
        HANDLE find = FindFirstFileW(path.c_str(), &data);
        EXPECT_NE(INVALID_HANDLE_VALUE, find) << corvan::ToUtf8(path);
        FindClose(find);
        return data;
    }

    // The handle's last error, or kFailed and the failure's; the handle is closed.
    DWORD Open(const wchar_t* path, DWORD access, DWORD disposition) {
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, 0, nullptr);
        DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return h == INVALID_HANDLE_VALUE ? error | kFailed : error;
    }
    std::string Content() { return ReadHostFile(HostPathOf(L"SRV01", L"D:\\Logs\\run.log")); }
    // A path of the host, outside every machine.
    std::wstring HostPath(const std::string& name) const { return corvan::FromUtf8((WorldRoot() / name).string()); }
};

// ---- opening ----

TEST_F(FilesTest, EachDispositionReportsWhatWasThere) {
    struct Case {
        const wchar_t* path;
        DWORD access;
        DWORD disposition;
        DWORD result;  // last error after success, or kFailed | error
    };
    for (const Case& c : {
             Case{L"d:\\LOGS\\RUN.LOG", GENERIC_READ, OPEN_EXISTING, ERROR_SUCCESS},
             Case{L"D:\\Logs\\run.log", GENERIC_READ, TRUNCATE_EXISTING, kFailed | ERROR_INVALID_PARAMETER},
             Case{L"D:\\Logs\\run.log", GENERIC_READ, 99, kFailed | ERROR_INVALID_PARAMETER},
             // Folders are not files, whichever way they are asked for.
             Case{L"D:\\logs", GENERIC_WRITE, OPEN_ALWAYS, kFailed | ERROR_ACCESS_DENIED},
             Case{L"D:\\Logs", FILE_APPEND_DATA, OPEN_ALWAYS, kFailed | ERROR_ACCESS_DENIED},
             Case{L"D:\\Logs\\new.log", GENERIC_WRITE, OPEN_ALWAYS, ERROR_SUCCESS},
             Case{L"D:\\LOGS\\NEW.LOG", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ALREADY_EXISTS},
         }) {
        EXPECT_EQ(c.result, Open(c.path, c.access, c.disposition)) << corvan::ToUtf8(c.path);
    }
    EXPECT_TRUE(fs::exists(HostPathOf(L"SRV01", L"D:\\Logs\\new.log")));

    // TRUNCATE_EXISTING empties the file it finds, whatever the case.
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, Open(L"D:\\LOGS\\RUN.LOG", GENERIC_WRITE, TRUNCATE_EXISTING));
    EXPECT_EQ("", Content());
}

TEST_F(FilesTest, AppendAccessWritesAtTheEndWhateverThePointerSays) {
    HANDLE appenders[2];
    for (HANDLE& h : appenders) {
        h = CreateFileW(L"d:\\logs\\RUN.LOG", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
    }
    // The second writer adds a line after the first handle was opened.
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(appenders[1], "-two", 4, &written, nullptr));
    CloseHandle(appenders[1]);
    SetFilePointer(appenders[0], 0, nullptr, FILE_BEGIN);
    ASSERT_TRUE(WriteFile(appenders[0], "-three", 6, &written, nullptr));
    CloseHandle(appenders[0]);
    EXPECT_EQ("one-two-three", Content());

    // Write access alone writes where the pointer is.
    HANDLE h = CreateFileW(L"D:\\Logs\\run.log", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_TRUE(WriteFile(h, "ONE", 3, &written, nullptr));
    CloseHandle(h);
    EXPECT_EQ("ONE-two-three", Content());
}

// ---- attributes and times ----

TEST_F(FilesTest, BitsTheHostLacksAreKeptAndTimesAreSetOnlyWhereAttributesMayBeWritten) {
    ASSERT_TRUE(WriteNewFile(At(L"f.txt"), "x"));
    ASSERT_TRUE(CreateDirectoryW(At(L"dir").c_str(), nullptr));
    struct {
        const wchar_t* name;
        DWORD set;
        DWORD reported;
    } cases[] = {
        {L"f.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {L"f.txt", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
        // Nothing set is reported as "normal".
        {L"f.txt", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {L"f.txt", FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED},
        {L"dir", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {L"dir", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& c : cases) {
        std::wstring path = At(c.name);
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.set)) << corvan::ToUtf8(path);
        EXPECT_EQ(c.reported, GetFileAttributesW(path.c_str())) << corvan::ToUtf8(path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(c.reported, data.dwFileAttributes);
        EXPECT_EQ(c.reported, Found(path).dwFileAttributes);
    }
    // A read-only folder still takes new files; a read-only file takes no writes.
    EXPECT_TRUE(WriteNewFile(At(L"dir\\inside.txt"), "y"));
    ASSERT_TRUE(SetFileAttributesW(At(L"f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(kFailed | ERROR_ACCESS_DENIED, Open(At(L"f.txt").c_str(), GENERIC_WRITE, OPEN_EXISTING));
    // Nor is it emptied by a refused replacement.
    EXPECT_EQ(kFailed | ERROR_ACCESS_DENIED, Open(At(L"f.txt").c_str(), GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ("x", ReadWholeFile(At(L"f.txt")));
    // A copy over a hidden file is refused the same way.
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, CopyFileW(L"D:\\Ops\\src.txt", L"D:\\Ops\\hidden.txt", FALSE));
    EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, SetFileAttributesW(At(L"none").c_str(), FILE_ATTRIBUTE_HIDDEN));
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_FAILS_WITH(ERROR_PATH_NOT_FOUND,
                      GetFileAttributesExW(At(L"none\\x").c_str(), GetFileExInfoStandard, &data));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, GetFileAttributesExW(kRoot, GetFileExMaxInfoLevel, &data));

    // Times are set through a handle that may write attributes; a folder opens
    // only with backup semantics.
    ASSERT_TRUE(CreateDirectoryW(At(L"folder").c_str(), nullptr));
    EXPECT_EQ(kFailed | ERROR_ACCESS_DENIED, Open(At(L"folder").c_str(), FILE_WRITE_ATTRIBUTES, OPEN_EXISTING));
    FILETIME time = FileTimeOf(125911584000000000ULL);
    HANDLE readOnly = CreateFileW(L"D:\\Ops\\src.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, readOnly);
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, SetFileTime(readOnly, &time, &time, &time));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, SetEndOfFile(readOnly));
    CloseHandle(readOnly);
    EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, SetFileTime(readOnly, &time, &time, &time));
}

// ---- copies, moves, paths ----

TEST_F(FilesTest, FullPathNamesAndTheirFilePart) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\Ops\\Sub"));
    struct {
        const wchar_t* path;
        const wchar_t* full;
        const wchar_t* filePart;  // null: none
    } cases[] = {
        {L"a.txt", L"D:\\Ops\\Sub\\a.txt", L"a.txt"},
        {L"..\\b\\.\\c.txt", L"D:\\Ops\\b\\c.txt", L"c.txt"},
        {L".a\\..\\.b", L"D:\\Ops\\Sub\\.b", L".b"},  // a short name starting with a dot is a name
        {L"d:x", L"D:\\Ops\\Sub\\x", L"x"},
        {L"\\\\SRV02\\D$\\Data\\..\\y", L"\\\\SRV02\\D$\\y", L"y"},
        {L"D:\\Ops\\", L"D:\\Ops\\", nullptr},
    };
    for (const auto& c : cases) {
        WCHAR buffer[MAX_PATH];
        LPWSTR filePart = nullptr;
        DWORD n = GetFullPathNameW(c.path, MAX_PATH, buffer, &filePart);
        EXPECT_EQ(std::wstring(c.full), std::wstring(buffer, n)) << corvan::ToUtf8(c.path);
        EXPECT_EQ(std::wstring(c.filePart ? c.filePart : L"<none>"), filePart ? filePart : L"<none>");
    }
    // Too small a buffer gives the size needed, terminator included.
    WCHAR small[4];
    EXPECT_EQ(std::wstring(L"D:\\Ops\\Sub\\a.txt").size() + 1, GetFullPathNameW(L"a.txt", 4, small, nullptr));
    EXPECT_FAILS_WITH(ERROR_INVALID_NAME, GetFullPathNameW(L"", 4, small, nullptr));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, GetFullPathNameW(nullptr, 4, small, nullptr));
}

TEST_F(FilesTest, LongFormsLiftTheLengthLimitButNotTheNameLimit) {
    // CreateDirectoryW leaves room for a short name: a path may end at 248 characters, not at 249.
    const std::wstring base = L"D:\\Ops\\";
    EXPECT_TRUE(CreateDirectoryW((base + std::wstring(248 - base.size(), L'a')).c_str(), nullptr));
    EXPECT_FAILS_WITH(ERROR_FILENAME_EXCED_RANGE,
                      CreateDirectoryW((base + std::wstring(249 - base.size(), L'b')).c_str(), nullptr));

    // Five folders of 60 characters and a name of 255: 566 characters to the file.
    std::wstring plain = L"D:\\Ops";
    for (int i = 0; i < 5; ++i) {
        plain += L"\\" + std::wstring(59, static_cast<wchar_t>(L'a' + i)) + L"x";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + plain).c_str(), nullptr)) << i;
    }
    const std::wstring file = plain + L"\\" + std::wstring(255, L'n');
    const std::wstring local = L"\\\\?\\" + file;
    const std::wstring network = L"\\\\?\\UNC\\SRV01\\D$" + file.substr(2);
    ASSERT_TRUE(WriteNewFile(local, "deep"));
    EXPECT_EQ("deep", ReadWholeFile(network));
    EXPECT_EQ((NameList{L".", L"..", std::wstring(255, L'n')}), Names(L"\\\\?\\" + plain + L"\\*"));
    std::vector<WCHAR> buffer(network.size() + 1);
    EXPECT_EQ(network.size(), GetFullPathNameW(network.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr));
    EXPECT_EQ(network, std::wstring(buffer.data()));
    std::wstring huge = L"\\\\?\\D:";
    while (huge.size() <= 32767) huge += L"\\" + std::wstring(200, L'z');

    const std::wstring below260 = L"D:\\Ops\\" + std::wstring(259 - 7, L'n');
    struct {
        std::wstring path;
        DWORD error;
    } cases[] = {
        {file, ERROR_PATH_NOT_FOUND},  // 260 characters or more without the prefix
        {below260 + L"n", ERROR_PATH_NOT_FOUND},
        {below260, ERROR_FILE_NOT_FOUND},
        {L"\\\\?\\D:\\Ops\\" + std::wstring(256, L'n'), ERROR_INVALID_NAME},
        {L"\\\\?\\D:\\Ops\\Sub\\..\\src.txt", ERROR_INVALID_NAME},
        {L"\\\\?\\D:\\Ops/src.txt", ERROR_INVALID_NAME},
        {huge, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return GetFileAttributesW(c.path.c_str()) != INVALID_FILE_ATTRIBUTES; }))
            << c.path.size() << " characters";
}

// ---- other machines and the host ----

TEST_F(FilesTest, NetworkPathsReachEveryDriveEachAVolumeAndReadOnlyFilesStay) {
    ASSERT_TRUE(CreateDirectoryW(L"\\\\SRV02\\D$\\Data", nullptr));
    EXPECT_TRUE(fs::is_directory(HostPathOf(L"SRV02", L"D:\\Data")));
    // A drive's root has no "." and "..", and is the root wherever the drive's current directory is.
    EXPECT_EQ((NameList{L"Data"}), Names(L"\\\\SRV02\\D$\\*"));
    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\Logs"));
    EXPECT_EQ((NameList{L"Attr", L"Logs", L"Ops"}), Names(L"D:\\*"));

    ASSERT_TRUE(MoveFileExW(L"D:\\Ops\\Sub", L"D:\\Ops\\Moved", 0));  // folders move within a volume
    struct {
        const wchar_t* source;
        const wchar_t* target;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {L"D:\\Ops\\plain.txt", L"\\\\SRV02\\D$\\x.txt", 0, ERROR_NOT_SAME_DEVICE},
        {L"D:\\Ops\\plain.txt", L"\\\\SRV01\\C$\\x.txt", 0, ERROR_NOT_SAME_DEVICE},
        {L"D:\\Ops\\Moved", L"\\\\SRV02\\D$\\Moved", MOVEFILE_COPY_ALLOWED, ERROR_NOT_SAME_DEVICE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, ErrorOf([&] { return MoveFileExW(c.source, c.target, c.flags); }))
            << corvan::ToUtf8(c.source) << " -> " << corvan::ToUtf8(c.target);
    // Another volume takes a file when a copy is allowed; the same volume by another name is no other.
    ASSERT_TRUE(MoveFileExW(L"D:\\Ops\\plain.txt", L"\\\\SRV02\\D$\\x.txt", MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ("plain.txt", ReadWholeFile(L"\\\\SRV02\\D$\\x.txt"));
    ASSERT_TRUE(MoveFileExW(L"D:\\Ops\\src.txt", L"\\\\SRV01\\D$\\Ops\\moved.txt", 0));

    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, DeleteFileW(L"D:\\Ops\\ro.txt"));
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Ops\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileW(L"d:\\ops\\RO.TXT"));
    EXPECT_EQ((NameList{L".", L"..", L"hidden.txt", L"Moved", L"moved.txt"}), Names(L"D:\\Ops\\*"));
}

TEST_F(FilesTest, TimesSizesAndAttributesComeFromTheHost) {
    AddFile(L"SRV01", L"D:\\T\\old.txt", "abc");
    AddFile(L"SRV01", L"D:\\T\\.profile", "");
    AddFile(L"SRV01", L"D:\\T\\locked.txt", "");
    // 2001-09-09 01:46:40 UTC, and 500 ns later.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, HostPathOf(L"SRV01", L"D:\\T\\old.txt").c_str(), times, 0));
    ASSERT_EQ(0, ::chmod(HostPathOf(L"SRV01", L"D:\\T\\locked.txt").c_str(), 0444));
    // Sparse, so the test writes no 4 GB.
    int fd = ::open(HostPathOf(L"SRV01", L"D:\\T\\big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, (1LL << 33) - 1));
    ::close(fd);

    WIN32_FIND_DATAW data = Found(L"D:\\T\\old.txt");
    EXPECT_EQ(126444736000000005ULL, Ticks(data.ftLastWriteTime));  // 100-ns units since 1601
    EXPECT_EQ(126444736000000000ULL, Ticks(data.ftLastAccessTime));
    EXPECT_EQ(3u, data.nFileSizeLow);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), data.dwFileAttributes);
    EXPECT_EQ(0u, Found(L"D:\\T").nFileSizeLow);  // a folder has no size, whatever the host says
    data = Found(L"D:\\T\\big.bin");
    EXPECT_EQ(std::make_pair(1u, INVALID_FILE_SIZE), std::make_pair(data.nFileSizeHigh, data.nFileSizeLow));
    // Through a handle a low part of all ones is told from a failure by the last error alone.
    HANDLE big = CreateFileW(L"D:\\T\\big.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD high = 0;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(big, &high));
    EXPECT_EQ(std::make_pair(DWORD{ERROR_SUCCESS}, 1u), std::make_pair(GetLastError(), high));
    CloseHandle(big);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY),
              Found(L"D:\\T\\locked.txt").dwFileAttributes);
    // A link made on the host is a reparse point, whose attributes may be set.
    fs::create_symlink("old.txt", HostPathOf(L"SRV01", L"D:\\T\\link"));
    EXPECT_EQ(DWORD{FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE}, GetFileAttributesW(L"D:\\T\\link"));
    EXPECT_TRUE(SetFileAttributesW(L"D:\\T\\link", FILE_ATTRIBUTE_ARCHIVE));
    // A leading dot hides nothing on Windows; an attribute word left empty on the host is none.
    ASSERT_EQ(0, ::setxattr(HostPathOf(L"SRV01", L"D:\\T\\.profile").c_str(), "user.corvan.attributes", "", 0, 0));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), Found(L"D:\\T\\.profile").dwFileAttributes);
    // The host's own attributes, more than one listing holds, hide nothing of ours.
    ASSERT_TRUE(SetFileAttributesW(L"D:\\T\\old.txt", FILE_ATTRIBUTE_HIDDEN));
    const std::string tagged = HostPathOf(L"SRV01", L"D:\\T\\old.txt").string();
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(0, ::setxattr(tagged.c_str(), ("user.host.tag" + std::to_string(i)).c_str(), "x", 1, 0));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(L"D:\\T\\old.txt"));
}

// ---- security ----

// Own entries come first, then what the folders above pass on, flagged as
// inherited; a protected list takes nothing from above.
TEST_F(FilesTest, InheritedListsFollowTheFoldersAboveUnlessProtected) {
    // Deep enough below Team for the walk to go folder by folder.
    std::wstring plan = L"D:\\Sec\\Team";
    for (int i = 0; i < 16; ++i) plan += L"\\d";
    AddFile(L"SRV01", plan += L"\\plan.doc", "plan");
    const wchar_t* const contractors = L"S-1-5-21-1004336348-1177238915-682003330-1211";
    const wchar_t* const finance = L"S-1-5-21-1004336348-1177238915-682003330-1210";
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const AceEntry deny{ACCESS_DENIED_ACE_TYPE, inherit, 0x000D0116, contractors};
    const AceEntry allow{ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001F01FF, finance};
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {deny, allow}, SE_DACL_PROTECTED));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    EXPECT_EQ((std::vector<AceEntry>{deny, allow}), DaclOf(L"D:\\Sec\\Team", &control));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_EQ((std::vector<AceEntry>{{ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 0x000D0116, contractors},
                                     {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, finance}}),
              DaclOf(plan));

    // An entry given as inherited is the folder's to pass on, not the file's own.
    ASSERT_TRUE(SetDacl(plan, {{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, contractors},
                               {ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, L"S-1-5-32-545"}}, 0));
    EXPECT_EQ((std::vector<AceEntry>{{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001200A9, L"S-1-5-32-545"},
                                     {ACCESS_DENIED_ACE_TYPE, INHERITED_ACE, 0x000D0116, contractors},
                                     {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, finance}}),
              DaclOf(plan));

    // A list set again replaces the one before.
    ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {allow}, SE_DACL_PROTECTED));
    EXPECT_EQ((std::vector<AceEntry>{allow}), DaclOf(L"D:\\Sec\\Team"));
    // An empty, unprotected list of its own (twice: the second time there is none to take away)
    // leaves the folder with what every folder below an untouched drive root inherits.
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(SetDacl(L"D:\\Sec\\Team", {}, 0));
    const std::vector<AceEntry> standard = {{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, L"S-1-5-32-544"},
                                            {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, L"S-1-5-18"},
                                            {ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001200A9, L"S-1-5-32-545"}};
    std::vector<AceEntry> passedOn = standard;  // the same entries, for the folders below to inherit
    for (AceEntry& entry : passedOn) entry.flags |= inherit;
    EXPECT_EQ(passedOn, DaclOf(L"D:\\Sec\\Team"));

    // A file's inherited list follows the folders above it, however they change.
    AddFile(L"SRV01", L"D:\\Fin\\Team\\report.doc", "report");
    const std::vector<AceEntry> financeOnly = {{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, 0x001F01FF, finance}};
    const wchar_t* const report = L"D:\\Fin\\Team\\report.doc";
    // Asked often enough for the folders' lists to be kept.
    for (int i = 0; i < 100; ++i) ASSERT_EQ(standard, DaclOf(report));

    // Set through the calls, two levels up.
    ASSERT_TRUE(SetDacl(L"D:\\Fin", {allow}, SE_DACL_PROTECTED));
    EXPECT_EQ(financeOnly, DaclOf(report));

    // Taken away on the host.
    fs::path fin = HostPathOf(L"SRV01", L"D:\\Fin");
    ASSERT_EQ(0, ::removexattr(fin.c_str(), "user.corvan.security"));
    EXPECT_EQ(standard, DaclOf(report));

    // The folder moved away on the host and another made in its place.
    ASSERT_TRUE(SetDacl(L"D:\\Fin", {allow}, SE_DACL_PROTECTED));
    EXPECT_EQ(financeOnly, DaclOf(report));
    fs::rename(fin, fin.parent_path() / "Old");
    AddFile(L"SRV01", report, "new report");
    EXPECT_EQ(standard, DaclOf(report));
    EXPECT_EQ(financeOnly, DaclOf(L"D:\\Old\\Team\\report.doc"));
    // The new folders are the ones followed now.
    ASSERT_TRUE(SetDacl(L"D:\\Fin\\Team", {allow}, SE_DACL_PROTECTED));
    EXPECT_EQ(financeOnly, DaclOf(report));
}

// ---- what Windows refuses, on paths of the host ----

TEST_F(FilesTest, MoveFileExReplacesOnlyWhenAskedAndWhatIsNoFileIsRefused) {
    fs::create_directories(WorldRoot() / "folder");
    auto put = [&](const char* name, const char* text) { std::ofstream(WorldRoot() / name) << text; };
    auto get = [&](const char* name) { return ReadHostFile(WorldRoot() / name); };
    put("read-only", "kept");
    fs::permissions(WorldRoot() / "read-only", fs::perms::owner_read);
    // The last error of the move, or 0 when it succeeded.
    auto move = [&](const char* from, const char* to, DWORD flags) {
        SetLastError(0xdeadbeef);
        return MoveFileExW(HostPath(from).c_str(), HostPath(to).c_str(), flags) ? 0 : GetLastError();
    };
    const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    put("new", "new");
    put("old", "old");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), move("new", "old", MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), move("new", "folder", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), move("new", "read-only", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), move("missing", "old", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), move("new", "no/such/file", replace));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, MoveFileExW(HostPath("new").c_str(), L"/dev/null", replace));
    // Nor a file held open, though its handle shares everything.
    HANDLE held = CreateFileW(HostPath("old").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), move("new", "old", replace));
    CloseHandle(held);
    EXPECT_EQ("old", get("old"));
    EXPECT_EQ("kept", get("read-only"));

    EXPECT_EQ(0u, move("new", "old", replace));
    EXPECT_EQ("new", get("old"));
    EXPECT_FALSE(fs::exists(WorldRoot() / "new"));
    EXPECT_EQ(0u, move("old", "renamed", 0));
    EXPECT_EQ(0u, move("renamed", "renamed", 0));  // onto itself: nothing to replace
    EXPECT_EQ("new", get("renamed"));

    // Another file system of the host is another volume: a file crosses it
    // as a copy when one is allowed, a folder never.
    const std::wstring far = L"/dev/shm/" + corvan::FromUtf8(WorldRoot().filename()), here = HostPath("renamed");
    struct stat shm {}, world {};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(WorldRoot().c_str(), &world) == 0 && shm.st_dev != world.st_dev) {
        EXPECT_FAILS_WITH(ERROR_NOT_SAME_DEVICE, MoveFileExW(here.c_str(), far.c_str(), 0));
        EXPECT_FAILS_WITH(ERROR_NOT_SAME_DEVICE,
                          MoveFileExW(HostPath("folder").c_str(), far.c_str(), MOVEFILE_COPY_ALLOWED));
        EXPECT_TRUE(MoveFileExW(here.c_str(), far.c_str(), MOVEFILE_COPY_ALLOWED));
        ASSERT_TRUE(MoveFileExW(far.c_str(), here.c_str(), MOVEFILE_COPY_ALLOWED));
    }

    EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, DeleteFileW(HostPath("missing").c_str()));
    EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, DeleteFileW(HostPath("folder").c_str()));
    EXPECT_TRUE(DeleteFileW(HostPath("renamed").c_str()));
    EXPECT_FALSE(fs::exists(WorldRoot() / "renamed"));

    // Outside the world the host is one volume, whatever its folders are called.
    std::string twin = (fs::temp_directory_path() / "corvan-world-XXXXXX").string();
    ASSERT_TRUE(mkdtemp(twin.data()));
    ASSERT_EQ(WorldRoot().string().size(), twin.size()) << "a folder beside the world, as long as its name";
    for (const char* drive : {"/m/drives/A", "/m/drives/B"}) fs::create_directories(twin + drive);
    std::ofstream(twin + "/m/drives/A/f") << "f";
    EXPECT_TRUE(MoveFileExW(corvan::FromUtf8(twin + "/m/drives/A/f").c_str(),
                            corvan::FromUtf8(twin + "/m/drives/B/f").c_str(), 0));
    fs::remove_all(twin);

    // A FIFO would block the open, a device would read without end: neither is
    // a file, and each is refused at once, for reading and for writing.
    ASSERT_EQ(0, mkfifo((WorldRoot() / "fifo").c_str(), 0600));
    for (const std::wstring& name : {HostPath("fifo"), std::wstring(L"/dev/zero"), std::wstring(L"/dev/null")}) {
        for (DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}})
            EXPECT_EQ(kFailed | ERROR_INVALID_NAME, Open(name.c_str(), access, OPEN_EXISTING)) << corvan::ToUtf8(name);
    }
}

}  // namespace

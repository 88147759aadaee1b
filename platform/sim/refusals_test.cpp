// What Windows refuses, refused as Windows refuses it: replacing files,
// names of things that are not files, keys deeper than the registry keeps,
// descriptors of another revision. The checks use the Win32 API alone.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/sim/testing/test_world.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

namespace fs = std::filesystem;

class RefusalsTest : public sim::SimWorldTest {
protected:
    std::wstring Path(const std::string& name) const { return corvan::FromUtf8((WorldRoot() / name).string()); }
    void Put(const std::string& name, const std::string& text) { std::ofstream(WorldRoot() / name) << text; }
    std::string Get(const std::string& name) { return ReadHostFile(WorldRoot() / name); }

    // The last error of a call that must fail, or 0 when it succeeded.
    template <class Call>
    static DWORD FailureOf(Call call) {
        SetLastError(0xdeadbeef);
        return call() ? 0 : GetLastError();
    }
};

TEST_F(RefusalsTest, MoveFileExReplacesOnlyWhenAskedAndNeverAFolderOrAReadOnlyFile) {
    fs::create_directories(WorldRoot() / "folder");
    Put("read-only", "kept");
    fs::permissions(WorldRoot() / "read-only", fs::perms::owner_read);
    auto move = [&](const char* from, const char* to, DWORD flags) {
        return FailureOf([&] { return MoveFileExW(Path(from).c_str(), Path(to).c_str(), flags); });
    };
    const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    Put("new", "new");
    Put("old", "old");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), move("new", "old", MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), move("new", "folder", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), move("new", "read-only", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), move("missing", "old", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), move("new", "no/such/file", replace));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              FailureOf([&] { return MoveFileExW(Path("new").c_str(), L"/dev/null", replace); }));
    EXPECT_EQ("old", Get("old"));
    EXPECT_EQ("kept", Get("read-only"));

    EXPECT_EQ(0u, move("new", "old", replace));
    EXPECT_EQ("new", Get("old"));
    EXPECT_FALSE(fs::exists(WorldRoot() / "new"));
    EXPECT_EQ(0u, move("old", "renamed", 0));
    EXPECT_EQ("new", Get("renamed"));

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              FailureOf([&] { return DeleteFileW(Path("missing").c_str()); }));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
              FailureOf([&] { return DeleteFileW(Path("folder").c_str()); }));
    EXPECT_EQ(0u, FailureOf([&] { return DeleteFileW(Path("renamed").c_str()); }));
    EXPECT_FALSE(fs::exists(WorldRoot() / "renamed"));
}

// A FIFO would block the open, a device would read without end: neither is
// a file, and each is refused at once, for reading and for writing.
TEST_F(RefusalsTest, NamesOfThingsThatAreNoFilesAreRefused) {
    ASSERT_EQ(0, mkfifo((WorldRoot() / "fifo").c_str(), 0600));
    for (const std::wstring& name : {Path("fifo"), std::wstring(L"/dev/zero"), std::wstring(L"/dev/null")}) {
        for (DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
            SetLastError(0);
            HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            EXPECT_EQ(INVALID_HANDLE_VALUE, file) << corvan::ToUtf8(name);
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), GetLastError()) << corvan::ToUtf8(name);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        }
    }
}

std::wstring Levels(size_t count) {
    std::wstring path;
    for (size_t i = 0; i < count; ++i) path += (i ? L"\\k" : L"k");
    return path;
}

// Windows keeps keys at most 512 levels deep from the registry's root, of
// which HKEY_LOCAL_MACHINE is the first: 510 levels below it.
TEST_F(RefusalsTest, KeysDeeperThanTheRegistryKeepsAreNotCreated) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_LOCAL_MACHINE, Levels(511).c_str(), 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"k", 0, KEY_READ, &key));

    HKEY deepest = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, Levels(510).c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &deepest, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExW(deepest, L"below", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(deepest);
}

// The descriptor's last byte is the last byte before an unreadable page: a
// check that reads past what the revision allows faults.
TEST_F(RefusalsTest, DescriptorsOfAnotherRevisionAreRefusedWithoutReadingTheirHeader) {
    const long page = sysconf(_SC_PAGESIZE);
    void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, pages);
    ASSERT_EQ(0, mprotect(static_cast<char*>(pages) + page, page, PROT_NONE));
    BYTE* descriptor = static_cast<BYTE*>(pages) + page - 4;
    const BYTE header[4] = {2, 0, 0, 0};  // revision 2, no self-relative bit
    std::memcpy(descriptor, header, sizeof(header));

    EXPECT_EQ(0u, FailureOf([&] { return !IsValidSecurityDescriptor(descriptor); }));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), GetLastError());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_UNKNOWN_REVISION),
              FailureOf([&] { return GetSecurityDescriptorControl(descriptor, &control, &revision); }));
    EXPECT_EQ(2u, revision);
    munmap(pages, 2 * page);
}

}  // namespace

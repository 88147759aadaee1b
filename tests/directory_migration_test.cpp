// Directories migrated end to end through the built binary: backed up,
// the target's folder wiped, restored, and compared name by name, byte by
// byte, with attributes, times and permissions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "platform/sim/testing/win32_files.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/corvan_world_test.h"

namespace {

namespace fs = std::filesystem;
using corvan_test::kShares;
using corvan_test::Lines;
using namespace win32_files;

const wchar_t kContractors[] = L"S-1-5-21-1004336348-1177238915-682003330-1211";
const wchar_t kFinance[] = L"S-1-5-21-1004336348-1177238915-682003330-1210";
const wchar_t kJdoe[] = L"S-1-5-21-1004336348-1177238915-682003330-1105";

// What a test compares of one file or folder.
struct Seen {
    DWORD attributes = 0;
    uint64_t created = 0;
    uint64_t written = 0;
    std::string bytes;  // files only
    bool operator==(const Seen&) const = default;
};
using Tree = std::map<std::wstring, Seen>;  // by path below the root, the root itself as ""

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << std::hex << s.attributes << std::dec << " c" << s.created << " w" << s.written << " "
               << s.bytes.size() << "B";
}

// The root and every file and folder below it, read through the file calls.
Tree ReadTree(const std::wstring& root) {
    Tree tree;
    WIN32_FILE_ATTRIBUTE_DATA top{};
    if (GetFileAttributesExW(root.c_str(), GetFileExInfoStandard, &top))
        tree[L""] = {top.dwFileAttributes, Ticks(top.ftCreationTime), Ticks(top.ftLastWriteTime), ""};
    std::vector<std::wstring> pending{L""};
    while (!pending.empty()) {
        std::wstring relative = pending.back();
        pending.pop_back();
        std::wstring folder = root + relative;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = relative + L"\\" + name;
            Seen seen{data.dwFileAttributes, Ticks(data.ftCreationTime), Ticks(data.ftLastWriteTime), ""};
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) pending.push_back(path);
            } else {
                seen.bytes = ReadWholeFile(L"\\\\?\\" + root + path);
            }
            tree[path] = seen;
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return tree;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

bool SetTimes(const std::wstring& path, uint64_t created, uint64_t written) {
    HANDLE h = CreateFileW((L"\\\\?\\" + path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME c = FileTimeOf(created), w = FileTimeOf(written);
    BOOL ok = SetFileTime(h, &c, nullptr, &w);
    CloseHandle(h);
    return ok;
}

using NameList = std::vector<std::wstring>;
NameList Paths(const Tree& tree) {
    NameList paths;
    for (const auto& entry : tree) paths.push_back(entry.first);
    return paths;
}

class DirectoryMigrationTest : public corvan_test::CorvanWorldTest {
protected:
    void SetUp() override {
        CorvanWorldTest::SetUp();
        AddDomainAccount(L"CORP\\Contractors", kContractors);
        AddDomainAccount(L"CORP\\Finance Team", kFinance);
        AddDomainAccount(L"CORP\\jdoe", kJdoe);
        WriteControl("[BACKUP]\r\nDIRECTORY=D:\\Data,data.bkp\r\n");
    }
    void WriteControl(const std::string& sections) {
        Write("ControlBackup.ini", corvan_test::kMigLocations + sections);
    }
    corvan_test::CorvanRun Backup() { return Corvan({"/B", "/S:SRV01"}); }
    corvan_test::CorvanRun Restore(const std::string& control = "D:\\Mig\\ControlRestore.ini") {
        return Corvan({"/R", "/C:" + control, "/S:SRV01"});
    }
    fs::path BackupFolder() { return HostPathOf(L"SRV01", corvan::FromUtf8(Outcome("BackupLocation"))); }
    // How often the status report holds the text.
    size_t InReport(const std::string& text) {
        return Count(ReadHostFile(Mig("Log\\SRV01\\SRV01_StatusReport.log")), text);
    }
    void Wipe(const std::wstring& path) { fs::remove_all(HostPathOf(L"SRV01", path)); }
};

// A tree comes back name by name, byte by byte, with attributes, times and
// permissions: own lists in their order, inherited ones still inherited.
// Below Sub lies a file whose path is longer than 700 characters; a link back
// to the root is recorded, not followed, and not made again.
TEST_F(DirectoryMigrationTest, ATreeComesBackWithItsBytesAttributesTimesAndPermissions) {
    for (const wchar_t* folder : {L"D:\\Data", L"D:\\Data\\.cache", L"D:\\Data\\Empty", L"D:\\Data\\Sub",
                                  L"D:\\Data\\Sub\\Deeper", L"D:\\Data\\Finance", L"D:\\Data\\Public"})
        ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
    // Sixteen folders of 30 characters: 500 characters before the file's 255.
    std::wstring deep = L"D:\\Data\\Sub";
    for (int i = 0; i < 16; ++i) {
        deep += L"\\" + std::wstring(29, static_cast<wchar_t>(L'a' + i)) + L"0";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    ASSERT_TRUE(WriteNewFile(L"\\\\?\\" + deep + L"\\" + std::wstring(251, L'n') + L".bin", RandomBytes(10000, 3)));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\.profile", "export X=1\n"));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\zero.bin", ""));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\four.bin", RandomBytes(4096, 1)));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\Sub\\Deeper\\five.bin", RandomBytes(5 << 20, 2)));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\hidden.txt", "hidden and read-only"));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\Sub\\system.dat", "system"));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\Sub\\Отчёт €.txt", "non-Latin-1"));
    for (const wchar_t* file :
         {L"D:\\Data\\Finance\\q3.csv", L"D:\\Data\\Public\\readme.txt", L"D:\\Data\\Public\\plan.doc"})
        ASSERT_TRUE(WriteNewFile(file, "x"));
    ASSERT_TRUE(CreateSymbolicLinkW(L"D:\\Data\\loop", L"D:\\Data", SYMBOLIC_LINK_FLAG_DIRECTORY));
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const std::vector<AceEntry> finance = {{ACCESS_DENIED_ACE_TYPE, inherit, 0x000D0116, kContractors},
                                           {ACCESS_ALLOWED_ACE_TYPE, inherit, 0x001F01FF, kFinance}};
    const std::vector<AceEntry> plan = {{ACCESS_ALLOWED_ACE_TYPE, 0, 0x001301BF, kJdoe}};
    ASSERT_TRUE(SetDacl(L"D:\\Data\\Finance", finance, SE_DACL_PROTECTED));
    ASSERT_TRUE(SetDacl(L"D:\\Data\\Public\\plan.doc", plan, 0));
    // Each list with whether it is protected from its parent's.
    auto aclOf = [](const std::wstring& path) {
        SECURITY_DESCRIPTOR_CONTROL bits = 0;
        std::vector<AceEntry> aces = DaclOf(path, &bits);
        return std::make_pair(aces, (bits & SE_DACL_PROTECTED) != 0);
    };
    std::map<std::wstring, std::pair<std::vector<AceEntry>, bool>> acls;
    for (const wchar_t* path : {L"D:\\Data\\Finance", L"D:\\Data\\Finance\\q3.csv", L"D:\\Data\\Public",
                                L"D:\\Data\\Public\\readme.txt", L"D:\\Data\\Public\\plan.doc"})
        acls[path] = aclOf(path);
    ASSERT_EQ(std::make_pair(finance, true), acls[L"D:\\Data\\Finance"]);
    // Files that only inherit have nothing of their own.
    ASSERT_FALSE(acls[L"D:\\Data\\Public\\readme.txt"].first.empty());
    for (const auto& ace : acls[L"D:\\Data\\Public\\readme.txt"].first) ASSERT_TRUE(ace.flags & INHERITED_ACE);
    ASSERT_EQ(plan[0], acls[L"D:\\Data\\Public\\plan.doc"].first.at(0));
    uint64_t t = 130000000000000000ULL;
    for (const auto& [path, seen] : ReadTree(L"D:\\Data")) {
        if (path.empty() || path == L"\\loop") continue;
        t += 11111111111ULL;
        ASSERT_TRUE(SetTimes(L"D:\\Data" + path, t, t + 7777777777ULL)) << corvan::ToUtf8(path);
    }
    ASSERT_TRUE(SetTimes(L"D:\\Data", 120000000000000000ULL, 125000000000000000ULL));
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Data\\hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Data\\Sub\\system.dat", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Data\\Empty", FILE_ATTRIBUTE_HIDDEN));
    Tree before = ReadTree(L"D:\\Data");
    ASSERT_EQ(35u, before.size());

    auto backup = Backup();
    ASSERT_EQ(0, backup.exitCode) << backup.out;
    EXPECT_EQ("success", Outcome("BackupStatus")) << Outcome("BackupErrorText");
    std::string backupFile = ReadHostFile(BackupFolder() / "data.bkp");

    Wipe(L"D:\\Data");
    auto restore = Restore();
    ASSERT_EQ(0, restore.exitCode) << restore.out;
    EXPECT_EQ("success", Outcome("RestoreStatus")) << Outcome("RestoreErrorText");
    EXPECT_EQ(std::vector<std::string>{"DIRECTORY=D:\\Data,\"data.bkp\""}, Section("RESTORE"));
    EXPECT_EQ(std::vector<std::string>{"DIRECTORY=D:\\Data,\"0,Success.\""}, Section("STATUS"));
    EXPECT_TRUE(Section("RESTOREERROR").empty());
    before.erase(L"\\loop");
    EXPECT_EQ(before, ReadTree(L"D:\\Data"));
    // One line per run, with the counts; the backup file is as the backup wrote it.
    EXPECT_EQ(Golden("directory_tree_report.txt"), Report());
    EXPECT_EQ(backupFile, ReadHostFile(BackupFolder() / "data.bkp"));

    // Own lists in their order, inherited ones still inherited.
    for (const auto& [path, acl] : acls) EXPECT_EQ(acl, aclOf(path)) << corvan::ToUtf8(path);
}

// What fails on backup is reported and left out; a restore run again copies
// only what failed and keeps what is newer on the target.
TEST_F(DirectoryMigrationTest, WhatFailsIsReportedAndARestoreRunAgainCopiesOnlyThat) {
    for (const wchar_t* folder : {L"D:\\Data", L"D:\\Data\\Secret", L"D:\\Data\\Open"})
        ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
    for (const wchar_t* file : {L"D:\\Data\\Secret\\keys.txt", L"D:\\Data\\Open\\locked.db", L"D:\\Data\\Open\\a.txt",
                                L"D:\\Data\\b.txt", L"D:\\Data\\c.txt", L"D:\\Data\\d.txt"})
        ASSERT_TRUE(WriteNewFile(file, corvan::ToUtf8(file)));
    ASSERT_TRUE(SetTimes(L"D:\\Data\\d.txt", 130000000000000000ULL, 130000000000000000ULL));
    // The host tells names apart by case, Windows does not: the second is not
    // copied over the first's copy.
    std::ofstream(HostPathOf(L"SRV01", L"D:\\Data\\Open") / "SAME.TXT") << "1";
    std::ofstream(HostPathOf(L"SRV01", L"D:\\Data\\Open") / "Same.txt") << "2";
    AddFault(L"FindFirstFileW:Secret\\*=5");
    AddFault(L"CopyFileW:locked.db=32");

    ASSERT_EQ(0, Backup().exitCode);
    EXPECT_EQ("error", Outcome("BackupStatus"));
    EXPECT_EQ("5", Outcome("BackupLastError"));  // the first failure of the tree
    EXPECT_EQ("DIRECTORY", Outcome("BackupErrorStep"));
    EXPECT_EQ("D:\\Data,\"data.bkp\"", Control("RESTOREERROR", "DIRECTORY"));
    // The backup file is whole, so the rest can be restored from it.
    EXPECT_EQ("D:\\Data,\"data.bkp\"", Control("RESTORE", "DIRECTORY"));
    EXPECT_EQ(1u, InReport("Result: NOK;Type: Directory;Name: \\\\SRV01\\D$\\Data\\Secret;"));
    EXPECT_EQ(1u, InReport("Result: NOK;Type: File;Name: \\\\SRV01\\D$\\Data\\Open\\locked.db;"));
    EXPECT_EQ(1u, InReport("Result: NOK;Type: File;Name: \\\\SRV01\\D$\\Data\\Open\\Same.txt;"));
    EXPECT_EQ(1u, InReport("Result: NOK;Type: Directory;Name: D:\\Data;Prediction: Folders=2 Files=5 "
                           "Bytes=58 Skipped=0 Failed=3 ;"));

    fs::remove(WorldRoot() / "faults.ini");
    Wipe(L"D:\\Data");
    AddFault(L"MoveFileExW:b.txt=112,1");  // once its copy is whole
    ASSERT_EQ(0, Restore().exitCode);
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("112", Outcome("RestoreLastError"));
    // No part of the failed file and no temporary file is left.
    EXPECT_EQ((NameList{L"", L"\\Open", L"\\Open\\SAME.TXT", L"\\Open\\a.txt", L"\\c.txt", L"\\d.txt"}),
              Paths(ReadTree(L"D:\\Data")));
    EXPECT_EQ(1u, InReport("Result: NOK;Type: File;Name: \\\\SRV01\\D$\\Data\\b.txt;"));

    // The disk has room again; somebody works on d.txt, and an older c.txt,
    // hidden and read-only, comes back from somewhere before the second try.
    fs::remove(WorldRoot() / "faults.ini");
    ASSERT_TRUE(SetTimes(L"D:\\Data\\d.txt", 130000000000000000ULL, 140000000000000000ULL));
    ASSERT_TRUE(SetTimes(L"D:\\Data\\c.txt", 120000000000000000ULL, 120000000000000000ULL));
    ASSERT_TRUE(SetFileAttributesW(L"D:\\Data\\c.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    std::map<std::wstring, ino_t> inodes;
    for (const wchar_t* name : {L"Open\\a.txt", L"d.txt"}) {
        struct stat st;
        ASSERT_EQ(0, ::stat(HostPathOf(L"SRV01", std::wstring(L"D:\\Data\\") + name).c_str(), &st));
        inodes[name] = st.st_ino;
    }
    auto second = Restore();
    ASSERT_EQ(0, second.exitCode);
    EXPECT_EQ("success", Outcome("RestoreStatus")) << Outcome("RestoreErrorText");
    EXPECT_EQ((NameList{L"", L"\\Open", L"\\Open\\SAME.TXT", L"\\Open\\a.txt", L"\\b.txt", L"\\c.txt", L"\\d.txt"}),
              Paths(ReadTree(L"D:\\Data")));
    EXPECT_NE(std::string::npos, second.out.find("\\\\SRV01\\D$\\Data\\Secret is missing from the backup"));
    EXPECT_NE(std::string::npos, second.out.find("\\\\SRV01\\D$\\Data\\Open\\locked.db is missing from the backup"));
    EXPECT_EQ("D:\\Data\\b.txt", ReadWholeFile(L"D:\\Data\\b.txt"));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(L"D:\\Data\\c.txt"));
    for (const auto& [name, inode] : inodes) {
        struct stat st;
        ASSERT_EQ(0, ::stat(HostPathOf(L"SRV01", L"D:\\Data\\" + name).c_str(), &st));
        EXPECT_EQ(inode, st.st_ino) << corvan::ToUtf8(name);
    }
    WIN32_FILE_ATTRIBUTE_DATA kept{};
    ASSERT_TRUE(GetFileAttributesExW(L"D:\\Data\\d.txt", GetFileExInfoStandard, &kept));
    EXPECT_EQ(140000000000000000ULL, Ticks(kept.ftLastWriteTime));
    EXPECT_EQ(1u, InReport("Result: OK;Type: File;Name: \\\\SRV01\\D$\\Data\\d.txt;"));
    // Skipped: the three items the backup lacks, and a.txt, SAME.TXT and d.txt as they are.
    EXPECT_EQ(1u, InReport("Prediction: Folders=2 Files=2 Bytes=26 Skipped=6 Failed=0 ;"));
    EXPECT_NE(std::string::npos, second.out.find("d.txt is newer on the target"));
}

TEST_F(DirectoryMigrationTest, HostileBackupFilesAreRefusedBeforeAnythingIsWritten) {
    ASSERT_TRUE(CreateDirectoryW(L"D:\\Data", nullptr));
    ASSERT_TRUE(CreateDirectoryW(L"D:\\Data\\Sub", nullptr));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\evil.dll", "payload"));
    ASSERT_TRUE(WriteNewFile(L"D:\\Data\\Sub\\x.txt", "x"));
    ASSERT_EQ(0, Backup().exitCode);
    // A name that climbs out of its folder; the other ways a tree can leave
    // its folders are refused by the same check before anything is written.
    const fs::path folder = BackupFolder();
    std::string text = ReadHostFile(folder / "data.bkp");
    const std::string name = "FileName=\"evil.dll\"";
    ASSERT_NE(std::string::npos, text.find(name));
    std::ofstream(folder / "name.bkp", std::ios::binary)
        << text.replace(text.find(name), name.size(), "FileName=\"..\\..\\Windows\\evil.dll\"");
    std::ofstream(folder / "notree.bkp") << "[1]\r\nclass=CShare\r\nparent=NULL\r\n";  // a share's file
    Write("Hostile.ini", corvan_test::kMigLocations + "BackupLocation=" + Outcome("BackupLocation") +
                             "\r\n[RESTORE]\r\nDIRECTORY=D:\\Data,\"gone.bkp\"\r\n"  // gone.bkp is missing
                             "DIRECTORY=D:\\Data,\"name.bkp\"\r\nDIRECTORY=D:\\Data,\"notree.bkp\"\r\n");
    Wipe(L"D:\\Data\\Sub");
    auto world = Snapshot(WorldRoot(), "SRV01/drives/D/Mig");

    auto restore = Restore("Hostile.ini");
    ASSERT_EQ(0, restore.exitCode);
    // The missing file is reported as not found, not as a tree that is refused.
    EXPECT_NE(std::string::npos, restore.out.find("gone.bkp),,2,The system cannot find the file specified."));
    EXPECT_EQ(std::string::npos, restore.out.find("gone.bkp is refused")) << restore.out;
    EXPECT_NE(std::string::npos, restore.out.find("name.bkp is refused: ")) << restore.out;
    EXPECT_EQ("error", Outcome("RestoreStatus"));
    EXPECT_EQ("13", Outcome("RestoreLastError"));
    EXPECT_EQ(Outcome("BackupLocation") + "\\notree.bkp holds no directory tree.", Outcome("RestoreErrorText"));
    EXPECT_EQ(std::vector<std::string>({"DIRECTORY=D:\\Data,\"gone.bkp\"", "DIRECTORY=D:\\Data,\"name.bkp\"",
                                        "DIRECTORY=D:\\Data,\"notree.bkp\""}),
              Section("RESTOREERROR"));
    EXPECT_EQ(std::string::npos, ReadHostFile(Mig("ControlRestore.ini")).find("[STATUS]"));
    // Only the tool's own folders changed.
    EXPECT_EQ(world, Snapshot(WorldRoot(), "SRV01/drives/D/Mig"));
}

TEST_F(DirectoryMigrationTest, EntriesThatNameNoFolderAreRefusedWithTheirReason) {
    ASSERT_TRUE(CreateDirectoryW(L"D:\\Data", nullptr));
    ASSERT_TRUE(WriteNewFile(L"D:\\boot.ini", "[boot loader]"));
    // The name in the control file and the report, its file, its error line in the log, its code.
    const struct {
        std::string name, file, logged, code;
    } expected[] = {{"D:\\boot.ini", "file.bkp", "\\D$\\boot.ini", "267"},
                    {"Data", "relative.bkp", "Enum(Data)", "123"},
                    {"\\\\SRV01\\D$\\Data", "unc.bkp", "Enum(\\\\SRV01\\D$\\Data)", "123"},
                    {"D:\\Da*", "wild.bkp", "Da*", "123"},
                    {"D:\\Missing", "missing.bkp", "\\D$\\Missing", "2"},
                    {"Z:\\Data", "z.bkp", "\\Z$\\Data", "67"},  // a drive the machine lacks
                    {"z:\\", "zroot.bkp", "\\z$", "67"}};  // a drive letter in lower case too
    std::string entries = "[BACKUP]\r\n";
    for (const auto& e : expected) entries += "DIRECTORY=" + e.name + "," + e.file + "\r\n";
    WriteControl(entries);
    auto backup = Backup();
    ASSERT_EQ(0, backup.exitCode);
    EXPECT_EQ("error", Outcome("BackupStatus"));
    EXPECT_EQ("67", Outcome("BackupLastError"));  // the last item's
    EXPECT_EQ("<missing>", Control("RESTORE", "DIRECTORY"));
    const std::string control = ReadHostFile(Mig("ControlRestore.ini"));
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(1u, InReport("Result: NOK;Type: Directory;Name: " + e.name + ";"));
        EXPECT_NE(std::string::npos, control.find("DIRECTORY=" + e.name + ",\"" + e.file + "\""));
        const auto lines = Lines(backup.out);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find("ERROR") != std::string::npos && line.find(e.logged) != std::string::npos &&
                   line.find("," + e.code + ",") != std::string::npos;
        })) << backup.out;
    }
}

// A whole drive leaves out the system's files and the tool's own folders.
// On a new server (no shares, no data, not even the folder above Public) the
// folders are restored before the shares made of them.
TEST_F(DirectoryMigrationTest, AWholeDriveLeavesOutTheSystemsFilesAndFoldersComeBeforeTheirShares) {
    for (const wchar_t* folder :
         {L"D:\\Data", L"D:\\Data\\Public", L"D:\\System Volume Information", L"D:\\$Recycle.Bin"})
        ASSERT_TRUE(CreateDirectoryW(folder, nullptr));
    for (const wchar_t* file : {L"D:\\Data\\pagefile.sys", L"D:\\Data\\Public\\readme.txt", L"D:\\pagefile.sys",
                                L"D:\\System Volume Information\\x"})
        ASSERT_TRUE(WriteNewFile(file, "x"));
    AddShare(L"SRV01", L"Public", L"D:\\Data\\Public");
    WriteControl(
        "[EXCLUSION]\r\nShareType=80000000\r\nShareType=80000003\r\n"
        "[BACKUP]\r\nSHARE=ALL\r\nDIRECTORY=D:\\Data\\Public,public.bkp\r\nDIRECTORY=D:\\,drive.bkp\r\n");
    ASSERT_EQ(0, Backup().exitCode);
    ASSERT_EQ("success", Outcome("BackupStatus")) << Outcome("BackupErrorText");
    // The root, Data, Public and the ordinary files below them; nothing of the system, nothing of D:\Mig.
    EXPECT_EQ(1u, InReport("Name: D:\\;Prediction: Folders=3 Files=2 Bytes=2 Skipped=0 Failed=0 ;"));

    fs::remove(WorldRoot() / "SRV01" / "HKLM.reg");
    Wipe(L"D:\\Data");
    ASSERT_EQ(0, Restore().exitCode);
    EXPECT_EQ("success", Outcome("RestoreStatus")) << Outcome("RestoreErrorText");
    EXPECT_TRUE(ReadRegistryMultiString(L"SRV01", kShares, L"Public"));
    EXPECT_EQ("x", ReadWholeFile(L"D:\\Data\\pagefile.sys"));
    EXPECT_EQ("x", ReadWholeFile(L"D:\\Data\\Public\\readme.txt"));
}

}  // namespace

// Backs up a server with many shares through the real command line, replaces
// it by a fresh one and times the restore of all of them, at 800 and 8,000
// shares by default, and prints how the larger restore compares with the
// smaller one measured in the same run: linear growth gives a ratio near 10.
// Usage: bench_share_restore_bench [small count] [large count]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/sim/hive.h"
#include "platform/sim/world.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kShares[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
const wchar_t kSecurity[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security";

// Everyone: full control, as a self-relative descriptor.
std::vector<BYTE> EveryoneFullControl() {
    BYTE everyone[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};  // S-1-1-0
    std::vector<BYTE> aclBuffer(64);
    auto* acl = reinterpret_cast<PACL>(aclBuffer.data());
    InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION);
    AddAccessAllowedAce(acl, ACL_REVISION, 0x001F01FF, everyone);
    SECURITY_DESCRIPTOR absolute;
    InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&absolute, TRUE, acl, FALSE);
    DWORD size = 0;
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    std::vector<BYTE> bytes(size);
    MakeSelfRelativeSD(&absolute, bytes.data(), &size);
    return bytes;
}

std::wstring ShareName(int i) { return corvan::Format(L"Share%05d", i); }

// A world of SRV01 (local, where the migration folder lives) and SRV02 with
// `count` shares, each on its own folder; SRV02's hive without the shares is
// kept as fresh.reg.
bool BuildWorld(const fs::path& folder, int count) {
    fs::path world = folder / "world";
    setenv("CORVAN_WORLD", world.c_str(), 1);
    sim::ResetWorld();
    sim::SetWorldSetting(L"World", L"LocalMachine", L"SRV01");
    sim::CreateMachine(L"SRV01");
    sim::CreateMachine(L"SRV02");
    fs::create_directories(world / "SRV01/drives/D");
    sim::FlushWorld();
    fs::copy_file(world / "SRV02/HKLM.reg", folder / "fresh.reg");

    std::vector<BYTE> descriptor = EveryoneFullControl();
    for (int i = 0; i < count; ++i) {
        std::wstring name = ShareName(i);
        fs::create_directories(world / "SRV02/drives/D/Shares" / corvan::ToUtf8(name));
        std::vector<std::wstring> lines = {L"CSCFlags=0", L"MaxUses=4294967295",
                                           L"Path=D:\\Shares\\" + name, L"Permissions=0",
                                           L"Remark=Share number " + std::to_wstring(i), L"Type=0"};
        if (sim::RegistrySetValue(L"SRV02", kShares, name, REG_MULTI_SZ, sim::MultiTextBytes(lines)) ||
            sim::RegistrySetValue(L"SRV02", kSecurity, name, REG_BINARY, descriptor))
            return false;
    }
    sim::FlushWorld();
    sim::ResetWorld();
    std::ofstream(folder / "ControlBackup.ini")
        << "[Control]\r\nDefaultMigLocation=D:\\Mig\r\nDefaultLogLocation=D:\\Mig\\Log\r\n"
           "DefaultDataLocation=D:\\Mig\\Data\r\n[EXCLUSION]\r\nShareType=80000000\r\nShareType=80000003\r\n"
           "[BACKUP]\r\nSHARE=ALL\r\n";
    return true;
}

size_t StoredShares(const fs::path& world) {
    setenv("CORVAN_WORLD", world.c_str(), 1);
    sim::ResetWorld();
    std::vector<std::wstring> names;
    sim::RegistryValueNames(L"SRV02", kShares, names);
    sim::ResetWorld();
    return names.size();
}

// The restore's times, or a negative wall time when a step failed; the
// backup's are reported on the way.
bench::Times MeasureRestore(int count) {
    bench::ScratchFolder folder("corvan-share-bench");
    fs::path world = folder.path() / "world";
    if (!BuildWorld(folder.path(), count)) {
        std::fprintf(stderr, "could not build the world of %d shares\n", count);
        return {-1, 0};
    }
    bench::Run backup = bench::RunCorvan({"/B", "/C:ControlBackup.ini", "/S:SRV02"}, folder.path(), world);
    if (backup.exitCode != 0) {
        std::fprintf(stderr, "the backup of %d shares failed (exit code %d)\n", count, backup.exitCode);
        return {-1, 0};
    }
    std::printf("%8d %11.2fs %11.2fs   (backup)\n", count, backup.times.cpu, backup.times.wall);
    fs::copy_file(folder.path() / "fresh.reg", world / "SRV02/HKLM.reg", fs::copy_options::overwrite_existing);
    // A run's folder is named after the second it starts in: the restore's
    // must not be the backup's.
    sleep(1);
    if (StoredShares(world) != 0) return {-1, 0};

    bench::Run restore = bench::RunCorvan({"/R", "/C:D:\\Mig\\ControlRestore.ini", "/S:SRV02"}, folder.path(), world);
    size_t restored = StoredShares(world);
    if (restore.exitCode != 0 || restored != static_cast<size_t>(count)) {
        std::fprintf(stderr, "the restore of %d shares failed (exit code %d, %zu restored); it said:\n", count,
                     restore.exitCode, restored);
        std::ifstream out(folder.path() / "corvan.out");
        std::fprintf(stderr, "%s\n", std::string(std::istreambuf_iterator<char>(out), {}).c_str());
        return {-1, 0};
    }
    return restore.times;
}

}  // namespace

int main(int argc, char** argv) {
    int small = argc > 1 ? std::atoi(argv[1]) : 800;
    int large = argc > 2 ? std::atoi(argv[2]) : 8000;
    std::printf("%8s %12s %12s\n", "shares", "CPU", "wall");
    bench::Times times[2];
    int counts[2] = {small, large};
    for (int i = 0; i < 2; ++i) {
        times[i] = MeasureRestore(counts[i]);
        if (times[i].wall < 0) return 1;
        std::printf("%8d %11.2fs %11.2fs   (restore)\n", counts[i], times[i].cpu, times[i].wall);
        std::fflush(stdout);
    }
    std::printf("%d/%d shares: CPU time ratio %.1f, wall time ratio %.1f (linear is %.1f)\n", large, small,
                times[1].cpu / times[0].cpu, times[1].wall / times[0].wall, static_cast<double>(large) / small);
    return 0;
}

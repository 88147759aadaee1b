// The share list of the simulated server service. Shares live where the
// server keeps them: one REG_MULTI_SZ value per share under
// LanmanServer\Shares ("Path=D:\Data", "Remark=...", "Type=0", ...) and the
// share's self-relative security descriptor as a binary value of the same
// name under Shares\Security. The administrative shares (X$ per drive folder,
// ADMIN$, IPC$) are not stored; they are reported after the stored ones.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <system_error>

#include "platform/sim/hive.h"
#include "platform/sim/winapi.h"
#include "platform/sim/world.h"
#include "platform/text.h"

namespace {

constexpr wchar_t kSharesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
constexpr wchar_t kSecurityKey[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security";

struct Share {
    std::wstring name;
    DWORD type = STYPE_DISKTREE;
    std::wstring remark;
    DWORD permissions = 0;
    DWORD maxUses = SHI_USES_UNLIMITED;
    std::wstring path;
    std::vector<BYTE> descriptor;  // self-relative, empty when none
};

// The machine the caller named; unknown and unreachable servers give 53.
// `faultMachine` is the name injected failures are matched against, also for
// a machine that does not resolve.
DWORD ResolveServer(LPCWSTR server, std::wstring& machine, std::wstring& faultMachine) {
    DWORD error = sim::ResolveMachine(server, machine, ERROR_BAD_NETPATH);
    faultMachine = machine;
    if (error != ERROR_SUCCESS && server) {
        faultMachine = server;
        while (!faultMachine.empty() && faultMachine.front() == L'\\') faultMachine.erase(0, 1);
    }
    return error;
}

DWORD ReadLe32(const std::vector<BYTE>& data, size_t offset) {
    DWORD value;
    std::memcpy(&value, data.data() + offset, sizeof(value));
    return value;
}

// A stored descriptor is used only when every part it points to lies
// inside the stored bytes and the security calls accept it.
bool UsableDescriptor(const std::vector<BYTE>& data) {
    const size_t header = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
    if (data.size() < header || data[0] != SECURITY_DESCRIPTOR_REVISION) return false;
    WORD control = static_cast<WORD>(data[2] | (data[3] << 8));
    if (!(control & SE_SELF_RELATIVE)) return false;
    auto sidFits = [&](DWORD offset) {
        return offset == 0 || (offset >= header && offset + 8 <= data.size() &&
                               offset + 8 + 4 * size_t(data[offset + 1]) <= data.size());
    };
    auto aclFits = [&](DWORD offset) {
        if (offset == 0) return true;
        if (offset < header || offset + sizeof(ACL) > data.size()) return false;
        size_t size = data[offset + 2] | (data[offset + 3] << 8);
        return size >= sizeof(ACL) && offset + size <= data.size();
    };
    if (!sidFits(ReadLe32(data, 4)) || !sidFits(ReadLe32(data, 8))) return false;
    if ((control & SE_SACL_PRESENT) && !aclFits(ReadLe32(data, 12))) return false;
    if ((control & SE_DACL_PRESENT) && !aclFits(ReadLe32(data, 16))) return false;
    std::vector<BYTE> copy = data;
    return IsValidSecurityDescriptor(copy.data()) &&
           GetSecurityDescriptorLength(copy.data()) <= copy.size();
}

Share ParseShare(const std::wstring& name, const std::vector<std::wstring>& lines) {
    Share share;
    share.name = name;
    for (const auto& line : lines) {
        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) continue;
        std::wstring key = line.substr(0, equals);
        std::wstring value = line.substr(equals + 1);
        auto number = [&] { return static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10)); };
        if (corvan::EqualsNoCase(key, L"Path"))
            share.path = value;
        else if (corvan::EqualsNoCase(key, L"Remark"))
            share.remark = value;
        else if (corvan::EqualsNoCase(key, L"Type"))
            share.type = number();
        else if (corvan::EqualsNoCase(key, L"Permissions"))
            share.permissions = number();
        else if (corvan::EqualsNoCase(key, L"MaxUses"))
            share.maxUses = number();
    }
    return share;
}

std::vector<std::wstring> ShareLines(const Share& share) {
    std::vector<std::wstring> lines = {
        L"CSCFlags=0",
        corvan::Format(L"MaxUses=%u", share.maxUses),
        L"Path=" + share.path,
        corvan::Format(L"Permissions=%u", share.permissions),
    };
    if (!share.remark.empty()) lines.push_back(L"Remark=" + share.remark);
    lines.push_back(corvan::Format(L"Type=%u", share.type));
    return lines;
}

// Stored shares in the order of their values; a machine without the key has
// none. Read straight from the hive, as the server reads its own settings.
DWORD ReadStoredShares(const std::wstring& machine, std::vector<Share>& shares) {
    shares.clear();
    std::vector<std::wstring> names;
    DWORD status = sim::RegistryValueNames(machine, kSharesKey, names);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    for (const auto& name : names) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (name.empty() || sim::RegistryGetValue(machine, kSharesKey, name, type, data) != ERROR_SUCCESS ||
            type != REG_MULTI_SZ)
            continue;
        Share share = ParseShare(name, sim::BytesToMultiText(data));
        if (sim::RegistryGetValue(machine, kSecurityKey, name, type, data) == ERROR_SUCCESS &&
            type == REG_BINARY && UsableDescriptor(data))
            share.descriptor = std::move(data);
        shares.push_back(std::move(share));
    }
    return ERROR_SUCCESS;
}

std::vector<wchar_t> DriveLetters(const std::wstring& machine) {
    std::vector<wchar_t> letters;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sim::MachineDir(machine) / "drives", ec)) {
        std::wstring name = corvan::FromUtf8(entry.path().filename().string());
        if (name.size() != 1 || !entry.is_directory(ec)) continue;
        wchar_t letter = static_cast<wchar_t>(std::towupper(name[0]));
        if (letter >= L'A' && letter <= L'Z') letters.push_back(letter);
    }
    std::sort(letters.begin(), letters.end());
    letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
    return letters;
}

std::vector<Share> AdministrativeShares(const std::wstring& machine) {
    std::vector<Share> shares;
    for (wchar_t letter : DriveLetters(machine)) {
        Share drive;
        drive.name = std::wstring(1, letter) + L"$";
        drive.type = STYPE_DISKTREE | STYPE_SPECIAL;
        drive.remark = L"Default share";
        drive.path = std::wstring(1, letter) + L":\\";
        shares.push_back(drive);
    }
    Share admin;
    admin.name = L"ADMIN$";
    admin.type = STYPE_DISKTREE | STYPE_SPECIAL;
    admin.remark = L"Remote Admin";
    admin.path = L"C:\\Windows";
    shares.push_back(admin);
    Share ipc;
    ipc.name = L"IPC$";
    ipc.type = STYPE_IPC | STYPE_SPECIAL;
    ipc.remark = L"Remote IPC";
    shares.push_back(ipc);
    return shares;
}

bool IsAdministrative(const std::wstring& machine, const std::wstring& name) {
    // Only "X$", "ADMIN$" and "IPC$" can be; the drives are listed for the first form only.
    if (corvan::EqualsNoCase(name, L"ADMIN$") || corvan::EqualsNoCase(name, L"IPC$")) return true;
    if (name.size() != 2 || name[1] != L'$') return false;
    for (wchar_t letter : DriveLetters(machine))
        if (static_cast<wchar_t>(std::towupper(name[0])) == letter) return true;
    return false;
}

// Whether the machine keeps a share of that name (ignoring case): its entry
// looked up directly, so adding the n-th share does not read the other n-1.
DWORD FindStoredShare(const std::wstring& machine, const std::wstring& name, bool& stored) {
    stored = false;
    if (name.empty()) return ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    DWORD status = sim::RegistryGetValue(machine, kSharesKey, name, type, data);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    stored = type == REG_MULTI_SZ;
    return ERROR_SUCCESS;
}

DWORD ListShares(const std::wstring& machine, std::vector<Share>& shares) {
    DWORD status = ReadStoredShares(machine, shares);
    if (status != ERROR_SUCCESS) return status;
    for (auto& admin : AdministrativeShares(machine)) {
        bool stored = std::any_of(shares.begin(), shares.end(),
                                  [&](const Share& s) { return corvan::EqualsNoCase(s.name, admin.name); });
        if (!stored) shares.push_back(std::move(admin));
    }
    return ERROR_SUCCESS;
}

size_t RoundUp(size_t n) { return (n + 7) & ~size_t(7); }

// Bytes a record takes in the returned buffer beyond its SHARE_INFO_502.
size_t VariableSize(const Share& share) {
    size_t chars = share.name.size() + share.remark.size() + share.path.size() + 3;
    return RoundUp(chars * sizeof(WCHAR)) + RoundUp(share.descriptor.size());
}

// One block: the records, then each record's texts and descriptor.
LPBYTE PackShares(std::vector<Share>::const_iterator first, std::vector<Share>::const_iterator last) {
    size_t count = static_cast<size_t>(last - first);
    size_t size = RoundUp(count * sizeof(SHARE_INFO_502));
    for (auto it = first; it != last; ++it) size += VariableSize(*it);
    auto* block = static_cast<LPBYTE>(sim::NetApiAllocate(size));
    if (!block) return nullptr;
    std::memset(block, 0, size);
    auto* records = reinterpret_cast<SHARE_INFO_502*>(block);
    LPBYTE next = block + RoundUp(count * sizeof(SHARE_INFO_502));
    auto text = [&](const std::wstring& value) {
        auto* out = reinterpret_cast<LMSTR>(next);
        std::memcpy(out, value.c_str(), (value.size() + 1) * sizeof(WCHAR));
        next += (value.size() + 1) * sizeof(WCHAR);
        return out;
    };
    for (size_t i = 0; i < count; ++i) {
        const Share& share = *(first + static_cast<ptrdiff_t>(i));
        SHARE_INFO_502& record = records[i];
        LPBYTE start = next;
        record.shi502_netname = text(share.name);
        record.shi502_type = share.type;
        record.shi502_remark = text(share.remark);
        record.shi502_permissions = share.permissions;
        record.shi502_max_uses = share.maxUses;
        record.shi502_current_uses = 0;
        record.shi502_path = text(share.path);
        record.shi502_passwd = nullptr;
        record.shi502_reserved = 0;
        next = start + RoundUp(static_cast<size_t>(next - start));
        if (!share.descriptor.empty()) {
            std::memcpy(next, share.descriptor.data(), share.descriptor.size());
            record.shi502_security_descriptor = next;
            next += RoundUp(share.descriptor.size());
        } else {
            record.shi502_security_descriptor = nullptr;
        }
    }
    return block;
}

bool ValidShareName(const std::wstring& name) {
    if (name.size() > NNLEN) return false;
    for (wchar_t c : name)
        if (c < 0x20 || std::wcschr(L"\"\\/[]:|<>+;,?*=", c)) return false;
    return true;
}

// The host folder of a drive path ("D:\Data") on the machine, through its
// administrative share so the case rules of paths apply.
bool FolderExists(const std::wstring& machine, const std::wstring& path) {
    if (path.size() < 2 || path[1] != L':' || !std::iswalpha(path[0])) return false;
    if (path.size() > 2 && path[2] != L'\\') return false;
    std::wstring unc = L"\\\\" + machine + L"\\" + path[0] + L"$" + (path.size() > 2 ? path.substr(2) : L"\\");
    std::filesystem::path host;
    if (sim::MapPath(unc, host) != ERROR_SUCCESS) return false;
    std::error_code ec;
    return std::filesystem::is_directory(host, ec);
}

// The descriptor as the server keeps it: self-relative.
bool SelfRelativeBytes(PSECURITY_DESCRIPTOR descriptor, std::vector<BYTE>& bytes) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) return false;
    if (control & SE_SELF_RELATIVE) {
        const auto* begin = static_cast<const BYTE*>(descriptor);
        bytes.assign(begin, begin + GetSecurityDescriptorLength(descriptor));
        return true;
    }
    DWORD size = 0;
    MakeSelfRelativeSD(descriptor, nullptr, &size);
    if (size == 0) return false;
    bytes.assign(size, 0);
    return MakeSelfRelativeSD(descriptor, bytes.data(), &size) != FALSE;
}

}  // namespace

NET_API_STATUS WINAPI NetShareEnum(LMSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                   LPDWORD entriesread, LPDWORD totalentries, LPDWORD resume_handle) {
    std::wstring machine, faultMachine;
    DWORD error = ResolveServer(servername, machine, faultMachine);
    if (DWORD fault = sim::InjectedFault("NetShareEnum", faultMachine, {})) return fault;
    if (error != ERROR_SUCCESS) return error;
    if (level != 502) return ERROR_INVALID_LEVEL;
    if (!bufptr || !entriesread || !totalentries) return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = 0;
    *totalentries = 0;

    std::vector<Share> shares;
    if (DWORD status = ListShares(machine, shares); status != ERROR_SUCCESS) return status;
    size_t start = resume_handle ? *resume_handle : 0;
    *totalentries = static_cast<DWORD>(shares.size());
    if (start >= shares.size()) {
        if (resume_handle) *resume_handle = 0;
        return NERR_Success;
    }

    // As many records as the preferred length holds, but at least one.
    size_t end = start + 1;
    if (prefmaxlen == MAX_PREFERRED_LENGTH) {
        end = shares.size();
    } else {
        size_t used = sizeof(SHARE_INFO_502) + VariableSize(shares[start]);
        while (end < shares.size()) {
            size_t more = sizeof(SHARE_INFO_502) + VariableSize(shares[end]);
            if (used + more > prefmaxlen) break;
            used += more;
            ++end;
        }
    }
    LPBYTE block = PackShares(shares.begin() + static_cast<ptrdiff_t>(start),
                              shares.begin() + static_cast<ptrdiff_t>(end));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    *bufptr = block;
    *entriesread = static_cast<DWORD>(end - start);
    if (end < shares.size()) {
        if (resume_handle) *resume_handle = static_cast<DWORD>(end);
        return ERROR_MORE_DATA;
    }
    if (resume_handle) *resume_handle = 0;
    return NERR_Success;
}

NET_API_STATUS WINAPI NetShareAdd(LMSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err) {
    std::wstring machine, faultMachine;
    DWORD error = ResolveServer(servername, machine, faultMachine);
    const auto* info = reinterpret_cast<const SHARE_INFO_502*>(buf);
    std::wstring name = level == 502 && info && info->shi502_netname ? info->shi502_netname : L"";
    if (DWORD fault = sim::InjectedFault("NetShareAdd", faultMachine, {name})) return fault;
    if (error != ERROR_SUCCESS) return error;
    if (level != 502) return ERROR_INVALID_LEVEL;
    auto invalid = [&](DWORD parameter) {
        if (parm_err) *parm_err = parameter;
        return static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER);
    };
    if (!info) return invalid(PARM_ERROR_UNKNOWN);
    if (name.empty()) return invalid(SHARE_NETNAME_PARMNUM);
    if (!ValidShareName(name)) return ERROR_INVALID_NAME;
    DWORD baseType = info->shi502_type & STYPE_MASK;
    if ((baseType != STYPE_DISKTREE && baseType != STYPE_PRINTQ) ||
        (info->shi502_type & ~(STYPE_MASK | STYPE_SPECIAL | STYPE_TEMPORARY)))
        return invalid(SHARE_TYPE_PARMNUM);
    std::wstring remark = info->shi502_remark ? info->shi502_remark : L"";
    if (remark.size() > MAXCOMMENTSZ) return invalid(SHARE_REMARK_PARMNUM);
    std::wstring path = info->shi502_path ? info->shi502_path : L"";
    if (path.empty()) return invalid(SHARE_PATH_PARMNUM);
    std::vector<BYTE> descriptor;
    if (info->shi502_security_descriptor &&
        (!IsValidSecurityDescriptor(info->shi502_security_descriptor) ||
         !SelfRelativeBytes(info->shi502_security_descriptor, descriptor)))
        return invalid(SHARE_FILE_SD_PARMNUM);

    bool stored = false;
    if (DWORD status = FindStoredShare(machine, name, stored); status != ERROR_SUCCESS) return status;
    if (stored || IsAdministrative(machine, name)) return NERR_DuplicateShare;
    if (baseType == STYPE_DISKTREE && !FolderExists(machine, path)) return NERR_UnknownDevDir;

    Share share;
    share.name = name;
    share.type = info->shi502_type;
    share.remark = remark;
    share.permissions = info->shi502_permissions;
    share.maxUses = info->shi502_max_uses;
    share.path = path;

    DWORD status = sim::RegistrySetValue(machine, kSharesKey, name, REG_MULTI_SZ,
                                         sim::MultiTextBytes(ShareLines(share)));
    if (status != ERROR_SUCCESS) return status;
    if (descriptor.empty()) {
        sim::RegistryDeleteValue(machine, kSecurityKey, name);  // one left behind by an earlier share
    } else if ((status = sim::RegistrySetValue(machine, kSecurityKey, name, REG_BINARY, descriptor)) !=
               ERROR_SUCCESS) {
        sim::RegistryDeleteValue(machine, kSharesKey, name);
        return status;
    }
    return NERR_Success;
}

NET_API_STATUS WINAPI NetShareDel(LMSTR servername, LMSTR netname, DWORD reserved) {
    std::wstring machine, faultMachine;
    DWORD error = ResolveServer(servername, machine, faultMachine);
    std::wstring name = netname ? netname : L"";
    if (DWORD fault = sim::InjectedFault("NetShareDel", faultMachine, {name})) return fault;
    if (error != ERROR_SUCCESS) return error;
    if (name.empty() || reserved != 0) return ERROR_INVALID_PARAMETER;

    bool stored = false;
    if (DWORD status = FindStoredShare(machine, name, stored); status != ERROR_SUCCESS) return status;
    if (!stored) {
        // The administrative shares belong to the server itself.
        return IsAdministrative(machine, name) ? ERROR_ACCESS_DENIED : NERR_NetNameNotFound;
    }
    // The registry matches value names ignoring case, as the share list does.
    if (DWORD status = sim::RegistryDeleteValue(machine, kSharesKey, name); status != ERROR_SUCCESS) return status;
    sim::RegistryDeleteValue(machine, kSecurityKey, name);
    return NERR_Success;
}

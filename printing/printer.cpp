#include "printing/printer.h"

#include "core/object_store.h"
#include "core/preview.h"
#include "core/server_name.h"
#include "core/store_value.h"
#include "diagnostics/log_message.h"
#include "diagnostics/status_line.h"
#include "platform/text.h"
#include "printing/print_calls.h"
#include "registry/composite_reg_key.h"

using corvan::Format;

const wchar_t CPrinter::kDriverMapFileName[] = L"SupportedDrivers.txt";

namespace {

const wchar_t kPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

std::wstring Trim(const std::wstring& text) {
    size_t begin = text.find_first_not_of(L" \t");
    if (begin == std::wstring::npos) return L"";
    return text.substr(begin, text.find_last_not_of(L" \t") - begin + 1);
}

// Closes a printer handle when it leaves scope.
class PrinterHandle {
public:
    PrinterHandle() = default;
    ~PrinterHandle() {
        if (handle_) ClosePrinter(handle_);
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    HANDLE* Receive() { return &handle_; }
    HANDLE Get() const { return handle_; }
    void Reset(HANDLE handle) { handle_ = handle; }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace

CPrinter::CPrinter() = default;

CPrinter::CPrinter(const std::wstring& serverName) : CBaseObject(serverName) {}

CPrinter::CPrinter(const PRINTER_INFO_2W& info) { CopyFrom(info); }

CPrinter::~CPrinter() = default;

void CPrinter::SetDriverData(std::unique_ptr<CCompositeRegKey> data) { driverData_ = std::move(data); }

std::wstring CPrinter::ShortName() const { return PrinterName.substr(PrinterName.find_last_of(L'\\') + 1); }

void CPrinter::CopyFrom(const PRINTER_INFO_2W& info) {
    ServerName = SpoolerText(info.pServerName);
    PrinterName = SpoolerText(info.pPrinterName);
    ShareName = SpoolerText(info.pShareName);
    PortName = SpoolerText(info.pPortName);
    DriverName = SpoolerText(info.pDriverName);
    Comment = SpoolerText(info.pComment);
    Location = SpoolerText(info.pLocation);
    SepFile = SpoolerText(info.pSepFile);
    PrintProcessor = SpoolerText(info.pPrintProcessor);
    Datatype = SpoolerText(info.pDatatype);
    Parameters = SpoolerText(info.pParameters);
    Attributes = info.Attributes;
    Priority = info.Priority;
    DefaultPriority = info.DefaultPriority;
    StartTime = info.StartTime;
    UntilTime = info.UntilTime;
    Status = info.Status;
    Jobs = info.cJobs;
    AveragePPM = info.AveragePPM;
    if (info.pSecurityDescriptor && IsValidSecurityDescriptor(info.pSecurityDescriptor))
        SecurityDescriptor.Enum(info.pSecurityDescriptor);
    if (info.pDevMode) DeviceMode.Enum(info.pDevMode);
}

int CPrinter::Enum(const PRINTER_INFO_2W& info) {
    const std::wstring function = L"CPrinter::Enum()";
    CopyFrom(info);
    ReportFlag = 1;
    Task = L"Backup Printer";
    auto data = std::make_unique<CCompositeRegKey>(ServerName);
    HKEY handle = nullptr;
    int read = data->Enum(Format(L"%ls\\%ls", kPrintersKey, ShortName().c_str()), L"PrinterDriverData", handle);
    CRegKeyHandle guard(handle);
    if (read) {
        driverData_ = std::move(data);
    } else if (data->LastErrorCode != ERROR_FILE_NOT_FOUND) {
        // Saved without its driver data the queue would come back without it.
        SetError(function, data->ErrorWin32API, data->LastErrorCode ? data->LastErrorCode : ERROR_CANTREAD);
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

std::wstring CPrinter::PortsForTarget(DWORD major) const {
    if (major <= 4) return PortName;
    // Each port of a pool is cut at its first colon, unless that colon ends
    // it (LPT1:) or the port is a file path (C:\out.prn).
    std::wstring ports;
    size_t start = 0;
    while (start <= PortName.size()) {
        size_t comma = PortName.find(L',', start);
        if (comma == std::wstring::npos) comma = PortName.size();
        std::wstring port = PortName.substr(start, comma - start);
        size_t colon = port.find(L':');
        if (port.find(L'\\') == std::wstring::npos && colon != std::wstring::npos && colon + 1 != port.size())
            port.erase(colon);
        ports += (start == 0 ? L"" : L",") + port;
        start = comma + 1;
    }
    return ports;
}

int CPrinter::CheckDriverInFile(const std::wstring& driverName, const std::wstring& fileName, std::wstring& newName) {
    const std::wstring function = L"CPrinter::CheckDriverInFile()";
    newName.clear();
    int found = 0;
    CObjectStore file;
    if (GetFileAttributesW(fileName.c_str()) != INVALID_FILE_ATTRIBUTES && file.LoadFromFile(fileName)) {
        for (size_t i = 0; i < file.GetEntryCount(); ++i) {
            const CStoreEntry& entry = file.GetEntryAt(i);
            if (!corvan::EqualsNoCase(entry.Section, L"MIGRATION") ||
                !corvan::EqualsNoCase(Trim(entry.Key), driverName))
                continue;
            newName = Trim(StoreTextRule(Trim(entry.Value)));
            found = newName.empty() ? 0 : 1;
            break;
        }
    }
    SetError(function, function, 0);
    return found;
}

void CPrinter::ApplyDriverMapping() {
    if (mappingApplied_) return;
    mappingApplied_ = true;
    DWORD major = 0;
    std::wstring mapped;
    if (!GetServerMajorVersion(major) || major <= 4 || !CheckDriverInFile(DriverName, DriverMapFile, mapped)) return;
    LogLine(*this, kLogInformation,
            Format(L"Printer %ls: driver '%ls' is installed as '%ls', the mapping in %ls.", PrinterName.c_str(),
                   DriverName.c_str(), mapped.c_str(), DriverMapFile.c_str()));
    DriverName = mapped;
}

void CPrinter::RefuseMissingDriver() {
    const DWORD code = 0xE0081797;
    ErrorCode = L"0xE0081797";
    LastErrorCode = code;
    ErrorDescription = Format(L"Printer Driver '%ls', is not installed.", DriverName.c_str());
    ErrorFunction = Format(L"CPrinter::Add(%ls, %ls, %ls)", PrinterName.c_str(), PortName.c_str(), DriverName.c_str());
    ErrorWin32API = Format(L"AddPrinter(%ls)", PrinterName.c_str());
    ReportFlag = 1;
    Task = L"Restore Printer";
    LogLine(*this, kLogError,
            Format(L"%ls%ls,%ls,%ls,%ls", corvan::PreviewOnly() ? L"Preview: " : L"", ErrorFunction.c_str(),
                   ErrorWin32API.c_str(), ErrorCode.c_str(), ErrorDescription.c_str()));
}

int CPrinter::ReplaceServerName(const std::wstring& oldText, const std::wstring& newText) {
    int count = CBaseObject::ReplaceServerName(oldText, newText) + ReplaceServerPart(PrinterName, oldText, newText) +
                SecurityDescriptor.ReplaceServerName(oldText, newText);
    if (driverData_) count += driverData_->ReplaceServerName(oldText, newText);
    return count;
}

DWORD CPrinter::CheckTarget(LPWSTR server, const std::wstring& ports, std::wstring& errorText,
                            std::wstring& description) {
    DWORD needed = 0, count = 0;
    std::vector<BYTE> buffer;
    DWORD error = EnumPortsW(server, 1, nullptr, 0, &needed, &count) ? 0 : LastErrorOf();
    if (error == ERROR_INSUFFICIENT_BUFFER) {
        buffer.resize(needed);
        error = EnumPortsW(server, 1, buffer.data(), needed, &needed, &count) ? 0 : LastErrorOf();
    }
    if (error) {
        errorText = Format(L"EnumPorts(%ls)", ServerName.c_str());
        return error;
    }
    const auto* listed = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (size_t start = 0; start <= ports.size();) {
        size_t comma = ports.find(L',', start);
        if (comma == std::wstring::npos) comma = ports.size();
        const std::wstring port = ports.substr(start, comma - start);
        bool found = corvan::Previewed(L"Port", ServerName, port);
        for (DWORD i = 0; !found && listed && i < count; ++i)
            found = corvan::EqualsNoCase(SpoolerText(listed[i].pName), port);
        if (!found) {
            errorText = Format(L"AddPrinter(%ls)", PrinterName.c_str());
            description = Format(L"The port %ls is not on %ls.", port.c_str(), ServerName.c_str());
            return ERROR_UNKNOWN_PORT;
        }
        start = comma + 1;
    }

    std::vector<WCHAR> existing = WideBuffer(ServerName.empty() ? ShortName() : ServerName + L"\\" + ShortName());
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
    PrinterHandle printer;
    if (OpenPrinterW(existing.data(), printer.Receive(), &defaults))
        Warning = Format(L"Printer %ls exists on %ls and is updated.", ShortName().c_str(), ServerName.c_str());
    return 0;
}

DWORD CPrinter::MakeQueue(LPWSTR server, PRINTER_INFO_2W& info, std::wstring& errorText) {
    const std::wstring shortName = ShortName();
    PrinterHandle printer;
    DWORD errorCode = 0;
    for (int wait = 0;; ++wait) {
        printer.Reset(AddPrinterW(server, 2, reinterpret_cast<LPBYTE>(&info)));
        if (printer.Get() || GetLastError() != RPC_S_SERVER_UNAVAILABLE || wait == kUnavailableWaits) break;
        Sleep(kUnavailableWaitMs);
    }
    if (!printer.Get()) {
        errorCode = LastErrorOf();
        errorText = Format(L"AddPrinter(%ls)", PrinterName.c_str());
    }
    if (errorCode == ERROR_PRINTER_ALREADY_EXISTS) {
        // The queue is there: made equal to the saved one, permissions included.
        std::vector<WCHAR> existing =
            WideBuffer(ServerName.empty() ? shortName : ServerName + L"\\" + shortName);
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterW(existing.data(), printer.Receive(), &defaults)) {
            errorCode = LastErrorOf();
        } else if (!SetPrinterW(printer.Get(), 2, reinterpret_cast<LPBYTE>(&info), 0)) {
            errorCode = LastErrorOf();
            errorText = Format(L"SetPrinter(%ls)", shortName.c_str());
        } else {
            errorCode = 0;
        }
    }
    if (!errorCode && (Attributes & PRINTER_ATTRIBUTE_SHARED)) {
        PRINTER_INFO_7W publish{nullptr, DSPRINT_PUBLISH};
        SetPrinterW(printer.Get(), 7, reinterpret_cast<LPBYTE>(&publish), 0);
    }
    return errorCode;
}

int CPrinter::Add() {
    const std::wstring function = Format(L"CPrinter::Add(%ls)", PrinterName.c_str());
    if (!Restore) return 1;
    if (corvan::PreviewOnly()) ClearError();
    ApplyDriverMapping();
    std::vector<WCHAR> serverBuffer;
    LPWSTR server = SpoolerServer(*this, serverBuffer);
    DWORD major = 0;
    if (!GetServerMajorVersion(major)) major = 0;

    std::wstring errorText;
    std::wstring description;  // of what failed below, when it names more than the number
    DWORD errorCode = 0;
    // Created without its permissions the queue would be open to everybody;
    // one whose backup held none gets the spooler's own.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const bool hasSecurity = SecurityDescriptor.DiscretionaryAcl.GetCount() > 0 ||
                             !SecurityDescriptor.DiscretionaryAcl.NullAcl ||
                             SecurityDescriptor.SystemAcl.GetCount() > 0;
    if (hasSecurity) {
        for (CAcl* acl : {&SecurityDescriptor.SystemAcl, &SecurityDescriptor.DiscretionaryAcl})
            for (int i = 0; i < acl->GetCount(); ++i)
                if (CAce* ace = acl->GetAt(i); ace && ace->ServerName.empty()) ace->ServerName = ServerName;
        SecurityDescriptor.Get(descriptor);
        if (!descriptor) {
            errorText = Format(L"CSecurityDescriptor::Get(%ls)", PrinterName.c_str());
            errorCode = SecurityDescriptor.LastErrorCode ? SecurityDescriptor.LastErrorCode : ERROR_INVALID_SECURITY_DESCR;
            description = SecurityDescriptor.ErrorDescription;
        } else if (SecurityDescriptor.SystemAcl.GetCount() == 0) {
            // An audit list is set only where the printer had one: setting
            // even an empty one takes a privilege the restore need not hold.
            SetSecurityDescriptorSacl(descriptor, FALSE, nullptr, FALSE);
        }
    }

    if (!errorCode) {
        std::vector<WCHAR> name = WideBuffer(ShortName()), port = WideBuffer(PortsForTarget(major)),
                           driver = WideBuffer(DriverName), share, comment, location, sep, processor, datatype,
                           parameters;
        DEVMODEW* mode = nullptr;
        DeviceMode.Get(mode);
        PRINTER_INFO_2W info{};
        info.pServerName = server;
        info.pPrinterName = name.data();
        info.pShareName = TextOrNull(ShareName, share);
        info.pPortName = port.data();
        info.pDriverName = driver.data();
        info.pComment = TextOrNull(Comment, comment);
        info.pLocation = TextOrNull(Location, location);
        info.pDevMode = mode;
        info.pSepFile = TextOrNull(SepFile, sep);
        info.pPrintProcessor = TextOrNull(PrintProcessor, processor);
        info.pDatatype = TextOrNull(Datatype, datatype);
        info.pParameters = TextOrNull(Parameters, parameters);
        info.pSecurityDescriptor = descriptor;
        info.Attributes = Attributes & kSettableAttributes;
        info.Priority = Priority;
        info.DefaultPriority = DefaultPriority;
        info.StartTime = StartTime;
        info.UntilTime = UntilTime;

        // A preview asks what the queue would meet instead of making it.
        errorCode = corvan::PreviewOnly() ? CheckTarget(server, PortsForTarget(major), errorText, description)
                                          : MakeQueue(server, info, errorText);
    }
    // The driver's data goes into the queue's key once the queue is there.
    if (!errorCode && driverData_ && !corvan::PreviewOnly()) {
        HKEY handle = nullptr;
        if (!driverData_->Apply(handle)) {
            errorText = driverData_->ErrorWin32API;
            errorCode = driverData_->LastErrorCode ? driverData_->LastErrorCode : ERROR_CANTWRITE;
        }
    }

    ReportFlag = 1;
    Task = L"Restore Printer";
    // After a preview the printer is still to be restored.
    if (!corvan::PreviewOnly()) Restore = errorCode ? 1 : 0;
    if (errorCode) {
        if (description.empty())
            SetError(function, errorText, errorCode);
        else
            SetError(function, errorText, errorCode, description);
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

int CPrinter::Delete() {
    const std::wstring function = L"CPrinter::Delete()";
    if (!Restore) return 1;
    std::wstring name = ShortName();
    if (ServerName.empty())
        Warning = L"ServerName not defined, using local machine.";
    else
        name = ServerName + L"\\" + name;
    std::vector<WCHAR> buffer = WideBuffer(name);
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, DELETE};
    PrinterHandle printer;
    if (!OpenPrinterW(buffer.data(), printer.Receive(), &defaults)) {
        SetError(function, Format(L"OpenPrinter(%ls)", name.c_str()), LastErrorOf());
        return 0;
    }
    if (!DeletePrinter(printer.Get())) {
        SetError(function, Format(L"DeletePrinter(%ls)", name.c_str()), LastErrorOf());
        return 0;
    }
    SetError(function, function, 0);
    return 1;
}

void CPrinter::SetRestoreByName(const std::wstring& text, DWORD flag) {
    if (corvan::ToUpper(PrinterName).find(corvan::ToUpper(text)) != std::wstring::npos) Restore = flag;
}

void CPrinter::SetRestoreByDriver(const std::wstring& text, DWORD flag) {
    if (corvan::ToUpper(DriverName).find(corvan::ToUpper(text)) != std::wstring::npos) Restore = flag;
}

void CPrinter::SetRestoreByType(DWORD, DWORD flag) { Restore = flag; }

int CPrinter::SaveProperties(CObjectStore& store) {
    BeginLeafSection(store, kClassName);
    const std::wstring own = store.GetCurrentSection();
    const std::pair<const wchar_t*, const std::wstring*> texts[] = {
        {L"PrinterName", &PrinterName}, {L"ShareName", &ShareName},   {L"PortName", &PortName},
        {L"DriverName", &DriverName},   {L"Comment", &Comment},       {L"Location", &Location},
        {L"SepFile", &SepFile},         {L"PrintProcessor", &PrintProcessor}, {L"Datatype", &Datatype},
        {L"Parameters", &Parameters}};
    for (const auto& [key, field] : texts) store.AddStringToSection(key, *field);
    const std::pair<const wchar_t*, DWORD> numbers[] = {
        {L"Attributes", Attributes}, {L"Priority", Priority}, {L"DefaultPriority", DefaultPriority},
        {L"StartTime", StartTime},   {L"UntilTime", UntilTime}, {L"Status", Status},
        {L"Jobs", Jobs},             {L"AveragePPM", AveragePPM}, {L"Restore", Restore}};
    for (const auto& [key, value] : numbers) store.AddDwordToSection(key, value);
    CBaseObject::SaveProperties(store);
    SaveChildSection(store, own, SecurityDescriptor);
    SaveChildSection(store, own, DeviceMode);
    if (driverData_) SaveChildSection(store, own, *driverData_);
    return 1;
}

int CPrinter::LoadProperty(CObjectStore& store) {
    const std::pair<const wchar_t*, std::wstring*> texts[] = {
        {L"PrinterName", &PrinterName}, {L"ShareName", &ShareName},   {L"PortName", &PortName},
        {L"DriverName", &DriverName},   {L"Comment", &Comment},       {L"Location", &Location},
        {L"SepFile", &SepFile},         {L"PrintProcessor", &PrintProcessor}, {L"Datatype", &Datatype},
        {L"Parameters", &Parameters}};
    const std::pair<const wchar_t*, DWORD*> numbers[] = {
        {L"Attributes", &Attributes}, {L"Priority", &Priority}, {L"DefaultPriority", &DefaultPriority},
        {L"StartTime", &StartTime},   {L"UntilTime", &UntilTime}, {L"Status", &Status},
        {L"Jobs", &Jobs},             {L"AveragePPM", &AveragePPM}, {L"Restore", &Restore}};
    LoadSectionEntries(store, [&](const std::wstring& key, const std::wstring& value) {
        for (const auto& [name, field] : texts)
            if (key == name) return (void)CStoreValue::GetString(value, *field);
        for (const auto& [name, field] : numbers)
            if (key == name) return (void)CStoreValue::GetDword(value, *field);
    });
    // The children follow: the permissions, the device mode, the driver data.
    while (store.Next()) {
        const std::wstring className = corvan::EqualsNoCase(store.CurrentKey(), L"class") ? store.CurrentValue() : L"";
        if (className == L"CSecurityDescriptor") {
            SecurityDescriptor.LoadProperty(store);
        } else if (className == L"CDeviceMode") {
            DeviceMode.LoadProperty(store);
        } else if (className == L"CCompositeRegKey") {
            auto data = std::make_unique<CCompositeRegKey>();
            data->LoadProperty(store);
            driverData_ = std::move(data);
        } else {
            store.Previous();
            break;
        }
    }
    return 1;
}

void CPrinter::ReportStatus(CObjectStore& reportStore) {
    if (!ReportFlag || !Restore) return;
    ReportStatusLine(reportStore, L"Printer", PrinterName, L"Printer", Format(L"Driver=%ls ", DriverName.c_str()),
                     Task, LastErrorCode, PreviewState(*this));
}

void CPrinter::Dump() {
    corvan::ConsoleOut(Format(L"\nprinter: %ls, location: \"%ls\", comment=%ls \n", PrinterName.c_str(),
                              Location.c_str(), Comment.c_str()));
    SecurityDescriptor.Dump();
    DeviceMode.Dump();
}

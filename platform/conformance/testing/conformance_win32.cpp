// The Windows side of the conformance fixture: the real registry, file
// system and service manager, cleaned before and after every test. The
// test program's entry is here too; started with --serve it is the test
// service's program.
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <string>

#include "platform/conformance/testing/conformance.h"

namespace conformance {

bool WineDeviates(const char* deviation) {
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (wine) std::printf("[ WINE     ] not checked: %s\n", deviation);
    return wine;
}

namespace test_system {
namespace {

std::wstring TemporaryScratchFolder() {
    WCHAR buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring folder(buffer, length);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder + L"\\CorvanConformance";
}

void RemoveService(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    if (SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS)) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        WaitForState(service, SERVICE_STOPPED);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

}  // namespace

std::wstring Prepare() {
    CleanUp();
    return TemporaryScratchFolder();
}

void InstallService(const wchar_t* name) {
    WCHAR program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program, length) + L"\" --serve " + name;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager) << GetLastError();
    // The service of the test before may still be on its way out.
    SC_HANDLE service = nullptr;
    for (int i = 0; i < 100 && !service; ++i) {
        service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
        if (!service && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) break;
        if (!service) Sleep(50);
    }
    EXPECT_NE(nullptr, service) << GetLastError();
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void CleanUp() {
    RemoveService(ConformanceTest::kTestService);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, ConformanceTest::kScratchKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, ConformanceTest::kScratchKey);
    std::error_code ec;
    std::filesystem::remove_all(TemporaryScratchFolder(), ec);
}

}  // namespace test_system

// ---- the test service -----------------------------------------------------
namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS serviceStatus = {SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
HANDLE stopEvent = nullptr;

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    if (control != SERVICE_CONTROL_STOP) return ERROR_CALL_NOT_IMPLEMENTED;
    SetEvent(stopEvent);
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPWSTR* argv) {
    statusHandle = RegisterServiceCtrlHandlerExW(argv[0], Control, nullptr);
    if (!statusHandle) return;
    SetServiceStatus(statusHandle, &serviceStatus);
    WaitForSingleObject(stopEvent, INFINITE);
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwControlsAccepted = 0;
    SetServiceStatus(statusHandle, &serviceStatus);
}

}  // namespace
}  // namespace conformance

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"--serve") == 0) {
        conformance::stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SERVICE_TABLE_ENTRYW table[] = {{argv[2], conformance::ServiceMain}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(table) ? 0 : 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "platform/conformance/testing/conformance.h"

namespace conformance {

void ConformanceTest::SetUp() {
    WCHAR directory[MAX_PATH];
    directory_.assign(directory, GetCurrentDirectoryW(MAX_PATH, directory));
    folder_ = test_system::Prepare();
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key_, nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError();
}

void ConformanceTest::TearDown() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
    SetCurrentDirectoryW(directory_.c_str());
    test_system::CleanUp();
}

void ConformanceTest::InstallTestService() { test_system::InstallService(kTestService); }

}  // namespace conformance

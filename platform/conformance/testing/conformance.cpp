#include "platform/conformance/testing/conformance.h"

#include "platform/conformance/testing/system.h"

namespace conformance {

void ConformanceTest::SetUp() {
    folder_ = test_system::Prepare();
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key_, nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError();
}

void ConformanceTest::TearDown() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
    test_system::CleanUp();
}

void ConformanceTest::InstallTestService() { test_system::InstallService(kTestService); }

}  // namespace conformance

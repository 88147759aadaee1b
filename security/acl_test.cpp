#include "security/acl.h"

#include <gtest/gtest.h>

#include "security/security_test_support.h"

namespace {

using namespace security_test;

class CAclTest : public SecurityWorldTest {};

TEST_F(CAclTest, EnumOfAnUnreadableListKeepsNoEntriesAndRecordsIt) {
    Bytes broken(16, 0);
    broken[0] = 9;  // no such revision
    CAcl acl;
    EXPECT_EQ(1, acl.Enum(reinterpret_cast<PACL>(broken.data())));
    EXPECT_EQ(0, acl.GetCount());
    EXPECT_EQ(nullptr, acl.GetAt(0));
    EXPECT_EQ(nullptr, acl.GetAt(-1));
    EXPECT_EQ(L"IsValidAcl", acl.ErrorWin32API);
    EXPECT_EQ(1336u, acl.LastErrorCode);
    // Present but unreadable: rebuilt as a list nobody is granted by.
    EXPECT_EQ(0u, acl.NullAcl);
}

}  // namespace
